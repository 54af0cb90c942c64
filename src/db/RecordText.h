// The written forms of a record: JSON object text, labelled text dump and
// markup fragment, built member by member in the table's order. Numbers are
// printf "%lf" (JSON null for infinity and NaN), integers "%d"; JSON times are UTC text, dump times
// local text. JSON texts are escaped as JSON requires (JsonQuoted); the dump and the markup write
// values as stored.
#ifndef ZELVORA_DB_RECORDTEXT_H_
#define ZELVORA_DB_RECORDTEXT_H_

#include <cstdint>
#include <string>

// `value` as a JSON string: '"', '\\' and control bytes escaped, each byte
// that is not part of well-formed UTF-8 written as \ufffd (the replacement
// character), every other byte as it is; plain texts give exactly "value".
std::string JsonQuoted(const std::string& value);

// True when `text` is a JSON number as it stands (1001, -2.5e3; not 0012).
bool IsJsonNumber(const std::string& text);

// {"Key":"text","Key":1.000000,...} with no blanks.
class CJsonText {
 public:
  CJsonText& Text(const char* key, const std::string& value);
  CJsonText& Number(const char* key, double value);
  CJsonText& Integer(const char* key, int32_t value);
  CJsonText& Time(const char* key, int64_t value);  // UTC text
  // `json` as it stands when it is one JSON object, else null.
  CJsonText& Object(const char* key, const std::string& json);
  std::string Close() const { return text_ + "}"; }

 private:
  void Key(const char* key);
  std::string text_ = "{";
};

// header, then "\n" + label + ": " + value per field; no line end at the end.
class CTextDump {
 public:
  explicit CTextDump(const std::string& header) : text_(header) {}
  CTextDump& Text(const char* label, const std::string& value);
  CTextDump& Number(const char* label, double value);
  CTextDump& Integer(const char* label, int32_t value);
  CTextDump& Time(const char* label, int64_t value);  // local text
  CTextDump& Raw(const std::string& text) {
    text_ += text;
    return *this;
  }
  const std::string& Close() const { return text_; }

 private:
  std::string text_;
};

// <tag><Name>value</Name>...</tag>
class CMarkupText {
 public:
  explicit CMarkupText(const char* tag) : tag_(tag), text_("<" + tag_ + ">") {}
  CMarkupText& Text(const char* name, const std::string& value);
  CMarkupText& Number(const char* name, double value);
  std::string Close() const { return text_ + "</" + tag_ + ">"; }

 private:
  std::string tag_;
  std::string text_;
};

#endif  // ZELVORA_DB_RECORDTEXT_H_
