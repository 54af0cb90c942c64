// Text clean-up of the markup parser: trimming, pattern stripping and entity
// decoding, applied to text runs and attribute values.
#ifndef ZELVORA_MARKUP_TEXTCLEANUP_H_
#define ZELVORA_MARKUP_TEXTCLEANUP_H_

#include <string>

// Removes every leading and trailing blank (0x20 only; tabs and line ends
// are not blanks here).
void TrimBlanks(std::string& text);

// Strips `pattern` from `text`: when the text begins with the pattern, the
// longest leading run of bytes that occur in the pattern goes; then the
// pattern goes from the end as often as the text ends with it. Returns
// false (text unchanged) only when the pattern occurs nowhere in the text.
bool StripPattern(std::string& text, const std::string& pattern);

// Strips "\r\n"; only when that does not occur, "\n"; only when neither
// occurs, "\r".
void StripLineEnds(std::string& text);

// Strips "\t".
void StripTabs(std::string& text);

// Replaces &nbsp; &yen; &quot; &amp; &times; (in that order, each row seeing
// the previous rows' output) by blank, backslash, double quote, "&" and "X";
// a row's numeric form (&#160; ...) is replaced only when its named form did
// not occur. Nothing else is decoded.
void DecodeEntities(std::string& text);

// The text-run rule for ordinary elements: trim blanks, strip line ends,
// strip tabs. Returns the cleaned run.
std::string CleanTextRun(std::string run);

#endif  // ZELVORA_MARKUP_TEXTCLEANUP_H_
