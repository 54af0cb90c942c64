// The process entry: a web server starts the program once per request, with
// the request body on standard input. Every path ends with status 0; a
// request that cannot be served gets the banner answer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Dispatch.h"
#include "Request.h"
#include "desk/Zelvora.h"
#include "markup/MarkupDoc.h"
#include "util/StringUtil.h"

namespace {

const char kBanner[] = "Zelvora 1.0 - foreign-exchange desk service";

void WriteBannerAnswer() {
  std::puts(kResponseHeader);
  std::puts(kBanner);
}

// Serves a parsed request, or writes the banner answer when it cannot.
void Serve(const CMarkupDoc& doc) {
  const CMarkupNode* method = FindMethodNode(doc.Root());
  if (method == nullptr) {
    WriteBannerAnswer();
    return;
  }
  auto service = std::make_unique<CDeskService>();
  const CMarkupNode* params = doc.Root().FindNode("params");
  const std::string name = method->text;
  if (Dispatch(*service, name, params) != 0) WriteBannerAnswer();
}

// Buffers given to the standard streams up front, so that the C library
// need not probe each stream (fstat, ioctl) on its first use: a request
// is a few system calls, and each one shows in its cost.
char inputBuffer[1 << 16];
char outputBuffer[1 << 16];

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  if (argc == 2 && std::strncmp(argv[1], "-v", 2) == 0) {
    WriteBannerAnswer();
    return 0;
  }
  const int32_t length = AcceptedBodyLength();
  if (length < 0) {
    WriteBannerAnswer();
    return 0;
  }
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(length)));
  if (buffer == nullptr) {
    std::fprintf(stderr, "filename[%s], line[%d] malloc error. %s\n", "src/Main", 90,
                 LastErrorText().c_str());
    WriteBannerAnswer();
    return 0;
  }
  auto doc = std::make_unique<CMarkupDoc>();
  doc->Parse(buffer, ReadBody(stdin, buffer, length));
  std::free(buffer);
  Serve(*doc);
  return 0;
}
