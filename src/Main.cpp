// The process entry. Started by a web server once per request (CGI), it
// serves the request on standard input and ends with status 0 on every
// path. Started with a listening socket on standard input, it is a
// persistent FastCGI worker instead.
#include <cstdio>
#include <cstring>

#include "FastCgiWorker.h"
#include "Response.h"
#include "Serve.h"

namespace {

// Buffers given to the standard streams up front, so that the C library
// need not probe each stream (fstat, ioctl) on its first use: a request
// is a few system calls, and each one shows in its cost.
char inputBuffer[1 << 16];
char outputBuffer[1 << 16];

}  // namespace

int main(int argc, char** argv) {
  if (IsListeningSocket(0)) return RunFastCgiWorker();
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  if (argc == 2 && std::strncmp(argv[1], "-v", 2) == 0) {
    WriteBannerAnswer(stdout);
    return 0;
  }
  ServeRequest(stdin, stdout, nullptr);
  return 0;
}
