#include "util/StringUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return false;
  bool replaced = false;
  std::string::size_type pos = text.find(from);
  while (pos != std::string::npos) {
    text.replace(pos, from.size(), to);
    replaced = true;
    pos = text.find(from, pos + to.size());
  }
  return replaced;
}

namespace {

// Shared walk of SplitAny and SplitText: `next` returns the position of the
// next separator at or after `from` (or npos) and its length.
template <typename FindNext>
void SplitWith(const std::string& text, FindNext next, std::vector<std::string>& pieces) {
  pieces.clear();
  if (text.empty()) return;
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type length = 0;
    const std::string::size_type pos = next(start, &length);
    if (pos == std::string::npos) {
      pieces.push_back(text.substr(start));
      return;
    }
    pieces.push_back(text.substr(start, pos - start));
    start = pos + length;
  }
}

}  // namespace

void SplitAny(const char* text, const char* separators, std::vector<std::string>& pieces) {
  const std::string whole(text);
  SplitWith(
      whole,
      [&](std::string::size_type from, std::string::size_type* length) {
        *length = 1;
        return whole.find_first_of(separators, from);
      },
      pieces);
}

void SplitText(const char* text, const char* separator, std::vector<std::string>& pieces) {
  const std::string whole(text);
  const std::string sep(separator);
  if (sep.empty()) {
    pieces.clear();
    if (!whole.empty()) pieces.push_back(whole);
    return;
  }
  SplitWith(
      whole,
      [&](std::string::size_type from, std::string::size_type* length) {
        *length = sep.size();
        return whole.find(sep, from);
      },
      pieces);
}

namespace {

template <typename Value>
std::string FormatText(const char* format, Value value) {
  char small[64];
  const int needed = std::snprintf(small, sizeof small, format, value);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
  std::string large(static_cast<size_t>(needed) + 1, '\0');
  std::snprintf(&large[0], large.size(), format, value);
  large.resize(needed);
  return large;
}

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

bool IsTwoByte(unsigned char first, unsigned char second) {
  if ((InRange(first, 0x81, 0x9F) || InRange(first, 0xE0, 0xFC)) &&
      (InRange(second, 0x40, 0x7E) || InRange(second, 0x80, 0xFC))) {
    return true;
  }
  return InRange(first, 0xA1, 0xFE) && InRange(second, 0xA1, 0xFE);
}

}  // namespace

std::string IntToText(int32_t value) { return FormatText("%d", value); }

std::string DoubleToText(double value) { return FormatText("%lf", value); }

void ToLower(std::string& text) {
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (i + 1 < size && IsTwoByte(c, static_cast<unsigned char>(text[i + 1]))) {
      i += 2;
      continue;
    }
    if (c >= 'A' && c <= 'Z') text[i] = static_cast<char>(c - 'A' + 'a');
    ++i;
  }
}

std::string LastErrorText() {
  const int error = errno;
  return "[" + IntToText(error) + "] " + std::strerror(error);
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      out += static_cast<char>(c);
      continue;
    }
    const char hex[] = "0123456789ABCDEF";
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}
