// JSON in the program: the one way into picojson, which reads the offer
// board's index, and a strict check of JSON text.
//
// picojson includes <iostream>, whose static initialiser would run in every
// process start of the CGI program although nothing here uses the standard
// streams; the stream declarations picojson needs come from <istream> and
// <ostream> instead, and <iostream>'s own guard is set for the one include.
// Measured on a CGI getOffer: 294k instructions and 80 page faults with
// <iostream>, 230k and 72 without; the program's text 851 KB against 459 KB.
#ifndef ZELVORA_UTIL_JSON_H_
#define ZELVORA_UTIL_JSON_H_

#include <istream>
#include <ostream>
#ifndef _GLIBCXX_IOSTREAM
#define _GLIBCXX_IOSTREAM 1
#define ZELVORA_JSON_SKIPPED_IOSTREAM 1
#endif
#include <picojson.h>
#ifdef ZELVORA_JSON_SKIPPED_IOSTREAM
#undef _GLIBCXX_IOSTREAM
#undef ZELVORA_JSON_SKIPPED_IOSTREAM
#endif

#include <exception>
#include <string>

// Parses one JSON value from [first, last) through picojson parse context
// `context` (picojson::default_parse_context builds the value). Returns the
// end of the value, or null with the parser's text in `error`. Never throws:
// a number beyond a double's range (which picojson signals by an exception)
// is reported like any other syntax error.
template <typename Context>
const char* ParseJsonWith(Context& context, const char* first, const char* last,
                          std::string& error) {
  error.clear();
  try {
    const char* end = picojson::_parse(context, first, last, &error);
    return error.empty() ? end : nullptr;
  } catch (const std::exception& caught) {
    error = std::string("syntax error: number out of range") +
            (*caught.what() != '\0' ? ": " : "") + caught.what();
    return nullptr;
  }
}

// Parses one JSON value from [first, last) into `value`; as ParseJsonWith.
inline const char* ParseJson(const char* first, const char* last, picojson::value& value,
                             std::string& error) {
  picojson::default_parse_context context(&value);
  return ParseJsonWith(context, first, last, error);
}

// The strict check, for what the program passes on from boards and what
// its answers must be: RFC 8259 grammar, strings in well-formed
// UTF-8 without raw control bytes. It reads the bytes once and allocates
// nothing, since every board record of every answer goes through it.
// (picojson, the reader of the offer index, is more lenient: it takes "01",
// "1." and any byte above 0x7F in a string, which JSON.parse refuses or
// shows as replacement characters.) Surrogate escapes come in pairs.

// Arrays and objects nest at most this deep; deeper text is refused, so a
// hostile record cannot exhaust the stack.
constexpr int kJsonDepthMax = 64;

// The end of the one JSON value that starts at `first` (blanks before it
// skipped, none after it taken), or null when [first, last) does not start
// with one.
const char* JsonValueEnd(const char* first, const char* last);

// True when [first, last) is exactly one JSON object, blanks allowed around it.
bool IsJsonObject(const char* first, const char* last);

// True when [first, last) is exactly one JSON value, blanks allowed around it.
bool IsJsonText(const char* first, const char* last);

// True when [first, last) is one JSON object whose top-level member `name`
// is a string (the last, should it be named twice), with its text in
// `value`. Every other value is checked and skipped without being built:
// picojson's own values refuse numbers beyond a double's range, which a
// record that passed the strict check may hold.
bool JsonStringMember(const char* first, const char* last, const std::string& name,
                      std::string& value);

#endif  // ZELVORA_UTIL_JSON_H_
