#include "util/StringUtil.h"

#include <algorithm>
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
  // Most names are lower-case ASCII already: nothing to fold, no pairs to skip.
  size_t i = 0;
  while (i < size && !(text[i] >= 'A' && text[i] <= 'Z') &&
         static_cast<unsigned char>(text[i]) < 0x80)
    ++i;
  if (i == size) return;
  i = 0;
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

size_t Utf8Length(const char* at, const char* last) {
  const unsigned char lead = static_cast<unsigned char>(*at);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;    // no overlong form
    high = lead == 0xED ? 0x9F : high;  // no surrogate
  } else if (InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (last - at < static_cast<ptrdiff_t>(length)) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (!InRange(static_cast<unsigned char>(at[i]), i == 1 ? low : 0x80, i == 1 ? high : 0xBF))
      return 0;
  }
  return length;
}

size_t AppendUtf8OrReplacement(const char* at, const char* last, std::string& out) {
  const size_t length = Utf8Length(at, last);
  if (length == 0) {
    out += "\\ufffd";
    return 1;
  }
  out.append(at, length);
  return length;
}

namespace {

// The C1 controls (U+0080 to U+009F, among them NEL and CSI) and the line
// and paragraph separators: some log readers and terminals act on them.
bool IsLineControl(const char* at, size_t length) {
  const unsigned char first = static_cast<unsigned char>(at[0]);
  const unsigned char second = length > 1 ? static_cast<unsigned char>(at[1]) : 0;
  if (length == 2) return first == 0xC2 && second <= 0x9F;
  return length == 3 && first == 0xE2 && second == 0x80 &&
         (static_cast<unsigned char>(at[2]) == 0xA8 || static_cast<unsigned char>(at[2]) == 0xA9);
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const char* const last = text.data() + text.size();
  for (const char* at = text.data(); at < last; ++at) {
    const unsigned char c = static_cast<unsigned char>(*at);
    const size_t length = Utf8Length(at, last);
    if (c >= 0x20 && c != 0x7f && length > 0 && !IsLineControl(at, length)) {
      out.append(at, length);
      at += length - 1;
      continue;
    }
    // Each byte of the character (or the stray byte) as \xHH.
    for (size_t i = 0; i < std::max<size_t>(length, 1); ++i) {
      const unsigned char byte = static_cast<unsigned char>(at[i]);
      const char hex[] = "0123456789ABCDEF";
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
    at += std::max<size_t>(length, 1) - 1;
  }
  return out;
}
