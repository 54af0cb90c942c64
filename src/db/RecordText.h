// The written forms of a record beside its JSON (CJsonText, util/Json.h):
// labelled text dump and markup fragment, built member by member in the
// table's order. Numbers are printf "%lf", integers "%d"; dump times are
// local text. Both write values as stored.
#ifndef ZELVORA_DB_RECORDTEXT_H_
#define ZELVORA_DB_RECORDTEXT_H_

#include <cstdint>
#include <string>

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
