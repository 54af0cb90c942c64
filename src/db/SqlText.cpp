#include "db/SqlText.h"

#include "util/StringUtil.h"
#include "util/TimeText.h"

const char kRefusedSqlMessage[] =
    "SQL value refused: it holds a quote, a backslash or a control byte, or is no number.\n";

bool IsSqlValue(const std::string& value) {
  for (unsigned char c : value) {
    if (c == '\'' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool IsSqlNumber(const std::string& text) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

CSqlText& CSqlText::Add(const char* fixed) {
  text_ += fixed;
  return *this;
}

CSqlText& CSqlText::Add(const std::string& fixed) {
  text_ += fixed;
  return *this;
}

CSqlText& CSqlText::Quoted(const std::string& value) {
  if (!IsSqlValue(value)) refused_ = true;
  text_ += '\'';
  text_ += value;
  text_ += '\'';
  return *this;
}

CSqlText& CSqlText::QuotedTime(int64_t value, int local) { return Quoted(TimeText(value, local)); }

CSqlText& CSqlText::QuotedNow() { return Quoted(NowText()); }

CSqlText& CSqlText::Number(double value) { return Add(DoubleToText(value)); }

CSqlText& CSqlText::Integer(int32_t value) { return Add(IntToText(value)); }

CSqlText& CSqlText::UnquotedNumber(const std::string& text) {
  if (!IsSqlNumber(text)) refused_ = true;
  return Add(text);
}

CSqlText& CSqlText::List() {
  firstItem_ = true;
  return *this;
}

CSqlText& CSqlText::Item() {
  if (!firstItem_) text_ += ',';
  firstItem_ = false;
  return *this;
}

CSqlText& CSqlText::Column(const char* name) {
  Item();
  text_ += '`';
  text_ += name;
  text_ += "`=";
  return *this;
}

CSqlText& CSqlText::Append(const CSqlText& part) {
  text_ += part.text_;
  refused_ = refused_ || part.refused_;
  return *this;
}
