#include "Request.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The variable read with strtoll (base 10); 0 when unset. Beyond 64 bits
// it holds strtoll's bound, which no body fits either.
int64_t EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtoll(value, nullptr, 10);
}

}  // namespace

int32_t AcceptedBodyLength() {
  // Compared whole: a length cut to 32 bits (4294967386 read as 90) would
  // let the program read a body other than the one announced.
  const int64_t length = EnvNumber("CONTENT_LENGTH");
  if (length <= 0 || length > INT32_MAX || length >= EnvNumber("MAX_CONTENT_LENGTH")) return -1;
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
