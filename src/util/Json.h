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

// Parses one JSON value from [first, last) into `value`. Returns the end of
// the value, or null with the parser's text in `error`. Never throws: a
// number beyond a double's range (which picojson signals by an exception)
// is reported like any other syntax error.
inline const char* ParseJson(const char* first, const char* last, picojson::value& value,
                             std::string& error) {
  error.clear();
  try {
    const char* end = picojson::parse(value, first, last, &error);
    return error.empty() ? end : nullptr;
  } catch (const std::exception& caught) {
    error = std::string("syntax error: number out of range") +
            (*caught.what() != '\0' ? ": " : "") + caught.what();
    return nullptr;
  }
}

#endif  // ZELVORA_UTIL_JSON_H_
