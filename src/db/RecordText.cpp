#include "db/RecordText.h"

#include <cmath>

#include "util/Json.h"
#include "util/StringUtil.h"
#include "util/TimeText.h"

void CJsonText::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  text_ += '"';
  text_ += key;
  text_ += "\":";
}

std::string JsonQuoted(const std::string& value) {
  std::string out = "\"";
  const char* const last = value.data() + value.size();
  for (const char* at = value.data(); at < last; ++at) {
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c >= 0x80) {
      at += AppendUtf8OrReplacement(at, last, out) - 1;
      continue;
    }
    const char* escape = c == '"'    ? "\\\""
                         : c == '\\' ? "\\\\"
                         : c == '\n' ? "\\n"
                         : c == '\r' ? "\\r"
                         : c == '\t' ? "\\t"
                         : c == '\b' ? "\\b"
                         : c == '\f' ? "\\f"
                                     : nullptr;
    if (escape != nullptr) {
      out += escape;
    } else if (c < 0x20) {
      const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + '"';
}

bool IsJsonNumber(const std::string& text) {
  size_t at = 0;
  const auto digits = [&text, &at] {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  if (at < text.size() && text[at] == '-') ++at;
  const size_t whole = at < text.size() && text[at] == '0' ? (++at, 1) : digits();
  if (whole == 0) return false;
  if (at < text.size() && text[at] == '.' && (++at, digits()) == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (digits() == 0) return false;
  }
  return at == text.size();
}

CJsonText& CJsonText::Text(const char* key, const std::string& value) {
  Key(key);
  text_ += JsonQuoted(value);
  return *this;
}

CJsonText& CJsonText::Object(const char* key, const std::string& json) {
  Key(key);
  text_ += IsJsonObject(json.data(), json.data() + json.size()) ? json : "null";
  return *this;
}

CJsonText& CJsonText::Number(const char* key, double value) {
  Key(key);
  // A cell such as "1e999" reads as infinity, which JSON cannot write.
  if (std::isfinite(value)) {
    AppendDoubleText(value, text_);
  } else {
    text_ += "null";
  }
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
