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

#endif  // ZELVORA_UTIL_JSON_H_
