#include "util/StringUtil.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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

void AppendDoubleText(double value, std::string& text) {
  // printf costs some 2,000 instructions a number and an answer may hold
  // hundreds. Below 2^63 the value times 10^6 is an exact 128-bit product
  // of its 53-bit mantissa, so it is rounded here as printf rounds the
  // double's own binary value (ties to even); larger values, infinities and
  // NaNs go to printf. No C++ library conversion is used: theirs need
  // libm, which no CGI process should have to load.
  const double magnitude = std::fabs(value);
  if (!(magnitude < 9.2e18)) {  // also NaN
    text += FormatText("%lf", value);
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) mantissa |= uint64_t{1} << 52;
  const int exponent = (biased != 0 ? biased : 1) - 1075;  // value = mantissa * 2^exponent
  unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000000u;
  if (exponent >= 0) {
    scaled <<= exponent;  // below 2^63 * 10^6 < 2^83
  } else if (exponent > -128) {
    const int shift = -exponent;
    const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    scaled >>= shift;
    if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
  } else {
    scaled = 0;  // below 2^-74: far under half a millionth
  }
  char digits[48];
  char* at = digits + sizeof digits;
  uint64_t fraction = static_cast<uint64_t>(scaled % 1000000u);
  uint64_t whole = static_cast<uint64_t>(scaled / 1000000u);
  for (int i = 0; i < 6; ++i, fraction /= 10) *--at = static_cast<char>('0' + fraction % 10);
  *--at = '.';
  do {
    *--at = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (std::signbit(value)) *--at = '-';
  text.append(at, digits + sizeof digits);
}

std::string DoubleToText(double value) {
  std::string text;
  AppendDoubleText(value, text);
  return text;
}

double TextToDouble(const char* text) {
  // A plain decimal of at most 15 significant digits and at most 22 of
  // them after the point is an exact double integer divided by an exact
  // power of ten: one correctly rounded division, the very value strtod
  // reads. Anything else (blanks, signs of "+", exponents, hex, longer
  // numbers, trailing bytes) goes to strtod.
  const char* at = text;
  const bool negative = *at == '-';
  if (negative) ++at;
  uint64_t digits = 0;
  int significant = 0, decimals = 0, seen = 0;
  bool point = false;
  for (;; ++at) {
    if (*at >= '0' && *at <= '9') {
      ++seen;
      if (significant != 0 || *at != '0') ++significant;
      digits = digits * 10 + static_cast<uint64_t>(*at - '0');
      if (point) ++decimals;
    } else if (*at == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (*at != '\0' || seen == 0 || significant > 15 || decimals > 22) {
    return std::strtod(text, nullptr);
  }
  static const double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const double value = static_cast<double>(digits) / kTens[decimals];
  return negative ? -value : value;
}

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
