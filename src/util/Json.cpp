#include "util/Json.h"

#include <cstring>

#include "util/StringUtil.h"

namespace {

// Reads one top-level member of an object when it is a string.
class CMemberReader : public picojson::null_parse_context {
 public:
  explicit CMemberReader(const std::string& name) : name_(name) {}
  template <typename Iter>
  bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
    if (key != name_) return picojson::_parse(skip_, in);
    CString value;
    if (!picojson::_parse(value, in)) return false;
    found = value.isString;
    text = value.text;
    return true;
  }
  std::string text;
  bool found = false;

 private:
  struct CString : picojson::null_parse_context {
    template <typename Iter>
    bool parse_string(picojson::input<Iter>& in) {
      isString = true;
      return picojson::_parse_string(text, in);
    }
    std::string text;
    bool isString = false;
  };
  const std::string& name_;
  picojson::null_parse_context skip_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipBlanks(const char* at, const char* last) {
  while (at < last && IsBlank(*at)) ++at;
  return at;
}

const char* Digits(const char* at, const char* last) {
  const char* start = at;
  while (at < last && IsDigit(*at)) ++at;
  return at > start ? at : nullptr;
}

// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
const char* Number(const char* at, const char* last) {
  if (at < last && *at == '-') ++at;
  if (at < last && *at == '0') {
    ++at;
  } else if ((at = Digits(at, last)) == nullptr) {
    return nullptr;
  }
  if (at < last && *at == '.' && (at = Digits(at + 1, last)) == nullptr) return nullptr;
  if (at < last && (*at == 'e' || *at == 'E')) {
    ++at;
    if (at < last && (*at == '+' || *at == '-')) ++at;
    at = Digits(at, last);
  }
  return at;
}

// The four hex digits at `at` as a number, or -1.
int HexUnit(const char* at, const char* last) {
  if (last - at < 4) return -1;
  int unit = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = at[i];
    const int digit = IsDigit(c)             ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// `at` is just past the opening quote; the end is just past the closing one.
const char* String(const char* at, const char* last) {
  while (at < last) {
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c == '"') return at + 1;
    if (c < 0x20) return nullptr;
    if (c == '\\') {
      if (++at == last) return nullptr;
      if (*at == 'u') {
        // A surrogate comes in pairs, high then low: readers that decode
        // strings (picojson among them) refuse one alone.
        const int unit = HexUnit(at + 1, last);
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return nullptr;
        at += 5;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          const int low =
              last - at >= 2 && at[0] == '\\' && at[1] == 'u' ? HexUnit(at + 2, last) : -1;
          if (low < 0xDC00 || low > 0xDFFF) return nullptr;
          at += 6;
        }
      } else if (std::strchr("\"\\/bfnrt", *at) != nullptr && *at != '\0') {
        ++at;
      } else {
        return nullptr;
      }
    } else if (c < 0x80) {
      ++at;
    } else {
      const size_t length = Utf8Length(at, last);
      if (length == 0) return nullptr;
      at += length;
    }
  }
  return nullptr;
}

const char* Literal(const char* at, const char* last, const char* word) {
  const size_t size = std::strlen(word);
  return static_cast<size_t>(last - at) >= size && std::memcmp(at, word, size) == 0 ? at + size
                                                                                    : nullptr;
}

const char* Value(const char* at, const char* last, int depth);

// Members or items up to `close`; `at` is just past the opening bracket.
const char* Container(const char* at, const char* last, int depth, char close) {
  if (depth >= kJsonDepthMax) return nullptr;
  at = SkipBlanks(at, last);
  if (at < last && *at == close) return at + 1;
  for (;;) {
    if (close == '}') {
      if (at == last || *at != '"' || (at = String(at + 1, last)) == nullptr) return nullptr;
      at = SkipBlanks(at, last);
      if (at == last || *at != ':') return nullptr;
      ++at;
    }
    if ((at = Value(at, last, depth + 1)) == nullptr) return nullptr;
    at = SkipBlanks(at, last);
    if (at == last) return nullptr;
    if (*at == close) return at + 1;
    if (*at != ',') return nullptr;
    at = SkipBlanks(at + 1, last);
  }
}

const char* Value(const char* at, const char* last, int depth) {
  at = SkipBlanks(at, last);
  if (at == last) return nullptr;
  switch (*at) {
    case '{':
      return Container(at + 1, last, depth, '}');
    case '[':
      return Container(at + 1, last, depth, ']');
    case '"':
      return String(at + 1, last);
    case 't':
      return Literal(at, last, "true");
    case 'f':
      return Literal(at, last, "false");
    case 'n':
      return Literal(at, last, "null");
    default:
      return Number(at, last);
  }
}

}  // namespace

const char* JsonValueEnd(const char* first, const char* last) { return Value(first, last, 0); }

bool IsJsonText(const char* first, const char* last) {
  const char* end = JsonValueEnd(first, last);
  return end != nullptr && SkipBlanks(end, last) == last;
}

bool IsJsonObject(const char* first, const char* last) {
  const char* start = SkipBlanks(first, last);
  return start < last && *start == '{' && IsJsonText(start, last);
}

bool JsonStringMember(const char* first, const char* last, const std::string& name,
                      std::string& value) {
  CMemberReader reader(name);
  std::string error;
  if (ParseJsonWith(reader, first, last, error) == nullptr || !reader.found) return false;
  value = reader.text;
  return true;
}
