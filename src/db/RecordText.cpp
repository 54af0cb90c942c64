#include "db/RecordText.h"

#include "util/DateTime.h"
#include "util/StringUtil.h"

void CJsonText::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  text_ += '"';
  text_ += key;
  text_ += "\":";
}

CJsonText& CJsonText::Text(const char* key, const std::string& value) {
  Key(key);
  text_ += '"';
  text_ += value;
  text_ += '"';
  return *this;
}

CJsonText& CJsonText::Number(const char* key, double value) {
  Key(key);
  text_ += DoubleToText(value);
  return *this;
}

CJsonText& CJsonText::Integer(const char* key, int32_t value) {
  Key(key);
  text_ += IntToText(value);
  return *this;
}

CJsonText& CJsonText::Time(const char* key, int64_t value) { return Text(key, TimeText(value, 0)); }

CTextDump& CTextDump::Text(const char* label, const std::string& value) {
  text_ += '\n';
  text_ += label;
  text_ += ": ";
  text_ += value;
  return *this;
}

CTextDump& CTextDump::Number(const char* label, double value) {
  return Text(label, DoubleToText(value));
}

CTextDump& CTextDump::Integer(const char* label, int32_t value) {
  return Text(label, IntToText(value));
}

CTextDump& CTextDump::Time(const char* label, int64_t value) {
  return Text(label, TimeText(value, 1));
}

CMarkupText& CMarkupText::Text(const char* name, const std::string& value) {
  text_ += std::string("<") + name + ">" + value + "</" + name + ">";
  return *this;
}

CMarkupText& CMarkupText::Number(const char* name, double value) {
  return Text(name, DoubleToText(value));
}
