#include "FastCgiWorker.h"

#include <fcgiapp.h>
#include <fastcgi.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "Serve.h"
#include "shm/ShmKeeper.h"

namespace {

// The variables a request may set; the same names the CGI program reads.
const char* const kVariables[] = {"CONTENT_LENGTH", "MAX_CONTENT_LENGTH", "SHM_SEL_DB", "SHM_LOCK_MS", "SHM_LOCK_TOTAL_MS", "SHM_OWNER", "MAX_ANSWER_RECORDS", "MAX_REQUEST_IDS", "MAX_LOG_BYTES", "MYSQL_HOST", "MYSQL_WRITE_HOST", "MYSQL_CONNECT_TIMEOUT", "MYSQL_TIMEOUT",
                                  "MYSQL_USER", "MYSQL_PWD", "MYSQL_DB", "TZ"};
constexpr int kVariableCount = sizeof kVariables / sizeof kVariables[0];

FCGX_Request* current = nullptr;  // the request in hand
volatile sig_atomic_t stopping = 0;

// SIGTERM between requests: closing this process's copy of the listening
// socket ends the accept, whether it is waiting or about to.
void OnTerm(int) {
  stopping = 1;
  close(FCGI_LISTENSOCK_FILENO);
}

ssize_t ReadInput(void*, char* buffer, size_t size) {
  return FCGX_GetStr(buffer, static_cast<int>(size), current->in);
}

// Bytes for a client that went away are dropped, not kept in the stream's
// buffer for the next request.
ssize_t WriteOutput(void*, const char* buffer, size_t size) {
  FCGX_PutStr(buffer, static_cast<int>(size), current->out);
  return static_cast<ssize_t>(size);
}

ssize_t WriteError(void*, const char* buffer, size_t size) {
  FCGX_PutStr(buffer, static_cast<int>(size), current->err);
  return static_cast<ssize_t>(size);
}

// Points the C library's standard streams at the request in hand, so that
// everything the CGI program writes goes to the request's streams.
bool RedirectStandardStreams() {
  FILE* in = fopencookie(nullptr, "r", {ReadInput, nullptr, nullptr, nullptr});
  FILE* out = fopencookie(nullptr, "w", {nullptr, WriteOutput, nullptr, nullptr});
  FILE* err = fopencookie(nullptr, "w", {nullptr, WriteError, nullptr, nullptr});
  if (in == nullptr || out == nullptr || err == nullptr) return false;
  // Unbuffered input: no byte of one request's body may wait in a buffer for the next.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
  stdin = in;
  stdout = out;
  stderr = err;
  return true;
}

// Sets each variable from the request, else back to the worker's own value.
// One pass over the request's parameters, and the environment is touched
// only where a value changes: most requests bring the same ones.
void ApplyVariables(const std::optional<std::string> (&own)[kVariableCount], FCGX_ParamArray params) {
  static const size_t* lengths = [] {
    static size_t sizes[kVariableCount];
    for (int i = 0; i < kVariableCount; ++i) sizes[i] = std::strlen(kVariables[i]);
    return sizes;
  }();
  const char* values[kVariableCount] = {};
  for (FCGX_ParamArray param = params; param != nullptr && *param != nullptr; ++param) {
    for (int i = 0; i < kVariableCount; ++i) {
      if (values[i] == nullptr && std::strncmp(*param, kVariables[i], lengths[i]) == 0 && (*param)[lengths[i]] == '=') {
        values[i] = *param + lengths[i] + 1;
        break;
      }
    }
  }
  bool zoneChanged = false;
  for (int i = 0; i < kVariableCount; ++i) {
    const char* value = values[i] != nullptr ? values[i] : own[i] ? own[i]->c_str() : nullptr;
    const char* now = std::getenv(kVariables[i]);
    if (value == now || (value != nullptr && now != nullptr && std::strcmp(value, now) == 0)) continue;
    value != nullptr ? setenv(kVariables[i], value, 1) : unsetenv(kVariables[i]);
    zoneChanged = zoneChanged || std::strcmp(kVariables[i], "TZ") == 0;
  }
  if (zoneChanged) tzset();
}

}  // namespace

// libfcgi's printf code refers to frexp, its one libm function, and the
// program never formats a number through it. The link binds that reference
// here, so that no CGI request pays for loading libm. Exact for every double.
extern "C" double __wrap_frexp(double value, int* exponent) {
  *exponent = 0;
  if (value == 0.0 || value != value || value - value != 0.0) return value;  // zero, NaN, infinity
  double magnitude = value < 0 ? -value : value;
  for (; magnitude >= 1.0; magnitude /= 2) ++*exponent;
  for (; magnitude < 0.5; magnitude *= 2) --*exponent;
  return value < 0 ? -magnitude : magnitude;
}

bool IsListeningSocket(int fd) {
  int accepting = 0;
  socklen_t size = sizeof accepting;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting != 0;
}

int RunFastCgiWorker() {
  FCGX_Request request;
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, FCGI_LISTENSOCK_FILENO, 0) != 0 || !RedirectStandardStreams()) {
    std::fputs("zelvora: cannot start the FastCGI worker\n", stderr);
    return 1;
  }
  std::optional<std::string> own[kVariableCount];
  for (int i = 0; i < kVariableCount; ++i) {
    if (const char* value = std::getenv(kVariables[i])) own[i] = value;
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction term = {};
  term.sa_handler = OnTerm;  // no SA_RESTART: a waiting accept must end
  sigaction(SIGTERM, &term, nullptr);
  sigset_t termOnly;
  sigemptyset(&termOnly);
  sigaddset(&termOnly, SIGTERM);
  CShmKeeper::Enable();
  CDbSlot slot;
  current = &request;
  for (;;) {
    // SIGTERM waits while a request is served and ends the wait for the next.
    sigprocmask(SIG_UNBLOCK, &termOnly, nullptr);
    if (stopping || FCGX_Accept_r(&request) != 0) break;
    sigprocmask(SIG_BLOCK, &termOnly, nullptr);
    ApplyVariables(own, request.envp);
    clearerr(stdin);
    ServeRequest(stdin, &slot);
    std::fflush(stdout);
    std::fflush(stderr);
    FCGX_Finish_r(&request);
  }
  FCGX_Free(&request, 1);
  return 0;
}
