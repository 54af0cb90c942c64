// The one way into picojson. picojson includes <iostream>, whose static
// initialiser would run in every process start of the CGI program although
// nothing here uses the standard streams; the stream declarations picojson
// needs come from <istream> and <ostream> instead.
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
const char* ParseJsonWith(Context& context, const char* first, const char* last, std::string& error) {
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
inline const char* ParseJson(const char* first, const char* last, picojson::value& value, std::string& error) {
  picojson::default_parse_context context(&value);
  return ParseJsonWith(context, first, last, error);
}

#endif  // ZELVORA_UTIL_JSON_H_
