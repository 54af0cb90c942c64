#include "FastCgiWorker.h"

#include <arpa/inet.h>
#include <fastcgi.h>
#include <fcgiapp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "Serve.h"
#include "shm/ShmKeeper.h"

namespace {

// The variables a request may set; the same names the CGI program reads.
const char* const kVariables[] = {"CONTENT_LENGTH", "MAX_CONTENT_LENGTH", "SHM_SEL_DB", "SHM_LOCK_MS", "SHM_LOCK_TOTAL_MS", "SHM_OWNER", "MAX_ANSWER_RECORDS", "MAX_REQUEST_IDS", "MAX_LOG_BYTES", "MYSQL_HOST", "MYSQL_WRITE_HOST", "MYSQL_CONNECT_TIMEOUT", "MYSQL_TIMEOUT",
                                  "MYSQL_USER", "MYSQL_PWD", "MYSQL_DB", "TZ"};
constexpr int kVariableCount = sizeof kVariables / sizeof kVariables[0];

// The signals that end a worker after the request in hand.
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// After an answer given before the whole body arrived, the rest is read and
// dropped before the connection closes: unread bytes at the close would make
// a TCP peer get a reset instead of the answer, and on a kept connection the
// next request starts after them. Web servers bound bodies themselves
// (nginx 1 MiB, LimitRequestBody below that here); a longer rest, or one
// that takes longer than one timeout, is left to the close.
constexpr int kDrainBytes = 16 << 20;

FCGX_Request* current = nullptr;  // the request in hand
volatile sig_atomic_t stopping = 0;

// A stop signal between requests: closing this process's copy of the
// listening socket ends the accept, whether it is waiting or about to.
void OnStop(int) {
  stopping = 1;
  close(FCGI_LISTENSOCK_FILENO);
}

// FCGI_TIMEOUT of the worker's own environment: seconds, 1 to 3600; 30
// when unset or anything else.
int TimeoutSeconds() {
  const char* text = std::getenv("FCGI_TIMEOUT");
  char* end = nullptr;
  const long long value = text != nullptr ? std::strtoll(text, &end, 10) : 0;
  return text != nullptr && end != text && *end == '\0' && value >= 1 && value <= 3600
             ? static_cast<int>(value)
             : 30;
}

// True unless FCGI_WEB_SERVER_ADDRS (the worker's own environment: IPv4
// addresses, comma-separated) is set and the IPv4 peer of `fd` is not in
// it: the check the FastCGI library makes when it accepts.
bool FromWebServer(int fd) {
  const char* allowed = std::getenv("FCGI_WEB_SERVER_ADDRS");
  sockaddr_in peer = {};
  socklen_t size = sizeof peer;
  char text[INET_ADDRSTRLEN];
  if (allowed == nullptr || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
      peer.sin_family != AF_INET ||
      inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) {
    return true;
  }
  const std::string list = std::string(",") + allowed + ",";
  return list.find(std::string(",") + text + ",") != std::string::npos;
}

// The next connection, with every read and write on it bounded by
// `seconds`: a peer that stalls within a record or never reads its answer
// holds the worker that long, not for good. -1 when the worker is to end.
int AcceptConnection(int seconds) {
  for (;;) {
    const int fd = accept4(FCGI_LISTENSOCK_FILENO, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0 && !FromWebServer(fd)) {
      close(fd);
      continue;
    }
    if (fd >= 0) {
      const timeval timeout = {seconds, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      return fd;
    }
    // A connection that went away before it was taken costs nothing more.
    if (stopping ||
        (errno != EINTR && errno != ECONNABORTED && errno != EPROTO && errno != ENETDOWN &&
         errno != EHOSTUNREACH && errno != ENETUNREACH && errno != ETIMEDOUT)) {
      return -1;
    }
  }
}

// Reads and drops what is left of the request's body: at most kDrainBytes,
// for at most `seconds`.
void DropRestOfBody(FCGX_Stream* in, int seconds) {
  char buffer[16384];
  const time_t deadline = std::time(nullptr) + seconds;
  for (int dropped = 0; dropped < kDrainBytes && std::time(nullptr) <= deadline;) {
    const int got = FCGX_GetStr(buffer, sizeof buffer, in);
    if (got <= 0) return;
    dropped += got;
  }
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

// The "NAME=value" text of each variable this worker put in the
// environment. putenv places the text itself there, so the text of a value
// replaced is freed here; setenv would keep a copy of every distinct value
// it was ever given, and a peer sending new values would grow the worker
// without bound.
std::unique_ptr<char[]> placed[kVariableCount];

void PlaceVariable(int i, const char* value) {
  if (value == nullptr) {
    unsetenv(kVariables[i]);
    placed[i].reset();
    return;
  }
  const size_t nameLength = std::strlen(kVariables[i]), valueLength = std::strlen(value);
  std::unique_ptr<char[]> text(new char[nameLength + valueLength + 2]);
  std::memcpy(text.get(), kVariables[i], nameLength);
  text[nameLength] = '=';
  std::memcpy(text.get() + nameLength + 1, value, valueLength + 1);
  putenv(text.get());
  placed[i] = std::move(text);
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
    PlaceVariable(i, value);
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
  // No listening socket for the library: the worker accepts connections
  // itself, so that each one gets its timeouts before its first read, and a
  // connection the library gives up on ends its wait instead of starting
  // one of the library's own.
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, -1, 0) != 0 || !RedirectStandardStreams()) {
    std::fputs("zelvora: cannot start the FastCGI worker\n", stderr);
    return 1;
  }
  std::optional<std::string> own[kVariableCount];
  for (int i = 0; i < kVariableCount; ++i) {
    if (const char* value = std::getenv(kVariables[i])) own[i] = value;
  }
  const int timeout = TimeoutSeconds();
  signal(SIGPIPE, SIG_IGN);
  struct sigaction stop = {};
  stop.sa_handler = OnStop;  // no SA_RESTART: a waiting accept must end
  sigset_t stopOnly;
  sigemptyset(&stopOnly);
  for (const int number : kStopSignals) {
    sigaction(number, &stop, nullptr);
    sigaddset(&stopOnly, number);
  }
  CShmKeeper::Enable();
  CDbSlot slot;
  current = &request;
  for (;;) {
    // A stop signal waits while a request is served and ends the wait for the next.
    sigprocmask(SIG_UNBLOCK, &stopOnly, nullptr);
    if (stopping) break;
    if (request.ipcFd < 0) {  // else the kept connection of the last request
      request.ipcFd = AcceptConnection(timeout);
      if (request.ipcFd < 0) break;
      request.keepConnection = 1;  // until its first record says otherwise
    }
    // A connection the library gives up on closes at once. Its own close
    // would first wait for the peer's end, for as long as the peer sends.
    request.detached = 1;
    if (FCGX_Accept_r(&request) != 0) continue;  // that connection failed; the next
    request.detached = 0;                        // a detached request writes nothing
    sigprocmask(SIG_BLOCK, &stopOnly, nullptr);
    ApplyVariables(own, request.envp);
    clearerr(stdin);
    ServeRequest(stdin, &slot);
    std::fflush(stdout);
    std::fflush(stderr);
    DropRestOfBody(request.in, timeout);
    // The answer and its end are written; a connection that is not kept,
    // or whose request's body was not read to its end, is shut at once. The
    // library's own close would first wait for the peer's end, for as long
    // as the peer sends.
    const int failed = FCGX_FClose(request.err) | FCGX_FClose(request.out) |
                       FCGX_GetError(request.in) | (FCGX_HasSeenEOF(request.in) != EOF);
    if (failed != 0 || !request.keepConnection) {
      shutdown(request.ipcFd, SHUT_RDWR);
      request.keepConnection = 0;
    }
    FCGX_Finish_r(&request);
  }
  FCGX_Free(&request, 1);
  return 0;
}
