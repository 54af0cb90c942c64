#include "Request.h"

#include <cstdlib>

namespace {

int32_t EnvInt(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  return static_cast<int32_t>(std::strtol(value, nullptr, 10));
}

}  // namespace

int32_t AcceptedBodyLength() {
  const int32_t length = EnvInt("CONTENT_LENGTH");
  if (length <= 0 || length >= EnvInt("MAX_CONTENT_LENGTH")) return -1;
  return length;
}

int32_t ReadBody(FILE* in, char* buffer, int32_t length) {
  int32_t count = 0;
  int c;
  while (count < length && (c = std::getc(in)) != EOF) buffer[count++] = static_cast<char>(c);
  return count;
}

const CMarkupNode* FindMethodNode(const CMarkupNode& root) {
  if (root.name != "zelvora") return nullptr;
  return root.FindNode("method");
}
