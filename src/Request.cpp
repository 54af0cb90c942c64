#include "Request.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/StringUtil.h"

namespace {

// The variable read with strtoll (base 10); 0 when unset. Beyond 64 bits
// it holds strtoll's bound, which no body fits either.
int64_t EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtoll(value, nullptr, 10);
}

// The limit. One that is unset, not wholly a number (blanks before it
// aside) or not above 0 is named on standard error with how it is read: a
// web server set up without it answers every request with the banner, and
// its log should say why.
int64_t BodyLimit() {
  const char* text = std::getenv("MAX_CONTENT_LENGTH");
  if (text == nullptr) {
    std::fputs("zelvora: MAX_CONTENT_LENGTH is not set: every body is refused\n", stderr);
    return 0;
  }
  char* end = nullptr;
  const int64_t limit = std::strtoll(text, &end, 10);
  if (limit <= 0 || end == text || *end != '\0') {
    std::fprintf(stderr,
                 "zelvora: MAX_CONTENT_LENGTH \"%s\" is not a number above 0: read as %lld\n",
                 Printable(text).c_str(), static_cast<long long>(limit));
  }
  return limit;
}

}  // namespace

int32_t AcceptedBodyLength() {
  // Compared whole: a length cut to 32 bits (4294967386 read as 90) would
  // let the program read a body other than the one announced.
  const int64_t length = EnvNumber("CONTENT_LENGTH");
  if (length <= 0 || length > INT32_MAX || length >= BodyLimit()) return -1;
  return static_cast<int32_t>(length);
}

int32_t ReadBody(FILE* in, char* buffer, int32_t length) {
  size_t count = 0;
  // In as few calls as the stream allows: a worker's input is unbuffered.
  for (size_t got = 1; count < static_cast<size_t>(length) && got > 0; count += got) {
    got = std::fread(buffer + count, 1, static_cast<size_t>(length) - count, in);
  }
  return static_cast<int32_t>(count);
}

const CMarkupNode* FindMethodNode(const CMarkupNode& root) {
  if (root.name != "zelvora") return nullptr;
  return root.FindNode("method");
}
