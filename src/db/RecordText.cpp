#include "db/RecordText.h"

#include "util/StringUtil.h"
#include "util/TimeText.h"

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
