// Byte-string helpers shared by the front end, the parser, the handlers and
// the record classes. They work on bytes; none of them knows a character set
// beyond the two-byte rule of ToLower and the UTF-8 rule of Utf8Length.
#ifndef ZELVORA_UTIL_STRINGUTIL_H_
#define ZELVORA_UTIL_STRINGUTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Replaces every occurrence of `from` in `text` by `to`, searching on right
// after each inserted replacement (so the replacement is never searched
// again). Returns true when at least one occurrence was replaced.
// REQUIRES: `from` is not empty (an empty `from` replaces nothing).
bool ReplaceAll(std::string& text, const std::string& from, const std::string& to);

// Splits `text` at every byte that occurs in `separators`. `pieces` is
// emptied first; an empty text leaves it empty. Adjacent separators give an
// empty piece between them; a leading or trailing separator gives an empty
// first or last piece.
void SplitAny(const char* text, const char* separators, std::vector<std::string>& pieces);

// As SplitAny, but the separator is the whole text `separator`.
// REQUIRES: `separator` is not empty (an empty one yields the text whole).
void SplitText(const char* text, const char* separator, std::vector<std::string>& pieces);

// printf "%d" of `value`.
std::string IntToText(int32_t value);

// printf "%lf" of `value`: fixed notation, six decimals, however long.
std::string DoubleToText(double value);

// Appends DoubleToText(value) to `text`.
void AppendDoubleText(double value, std::string& text);

// strtod(text, nullptr): the value of the longest number `text` starts with,
// 0 when there is none. REQUIRES: `text` is NUL-terminated.
double TextToDouble(const char* text);

// Lower-cases "A" to "Z" in place, stepping over two-byte characters
// (first byte 0x81-0x9F or 0xE0-0xFC with second 0x40-0x7E or 0x80-0xFC,
// or both bytes 0xA1-0xFE) unchanged.
void ToLower(std::string& text);

// The length of the well-formed UTF-8 sequence that starts at `at` (1 for a
// byte below 0x80), or 0 when the bytes there are not one: an overlong
// form, a surrogate, a code point beyond U+10FFFF, a sequence cut short.
// REQUIRES: at < last.
size_t Utf8Length(const char* at, const char* last);

// Appends the UTF-8 sequence at `at` to `out` as it is, or, when the byte
// there starts no well-formed one, the JSON escape \ufffd (the replacement
// character) in its place. Returns how many bytes it consumed (at least 1).
// REQUIRES: at < last.
size_t AppendUtf8OrReplacement(const char* at, const char* last, std::string& out);

// "[" + errno in decimal + "] " + strerror(errno), for the current errno.
std::string LastErrorText();

// `text` with each control byte (below 0x20, and 0x7F), each byte of a C1
// control or a line or paragraph separator, and each byte that is not part
// of well-formed UTF-8 written as \xHH, so that a request's text cannot
// start or forge a line of a log, nor garble the log's encoding.
std::string Printable(const std::string& text);

#endif  // ZELVORA_UTIL_STRINGUTIL_H_
