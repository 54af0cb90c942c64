#include "FastCgiWorker.h"

#include <arpa/inet.h>
#include <fastcgi.h>
#include <fcgiapp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "DeadlineWatch.h"
#include "FastCgiAnswer.h"
#include "Response.h"
#include "Serve.h"
#include "ops/Scoreboard.h"
#include "shm/ShmKeeper.h"
#include "util/Setting.h"
#include "util/StringUtil.h"

namespace {

// Where a worker takes each variable the CGI program reads from.
enum class Source {
  kRequest,   // the request's (the web server sets it per request), else the worker's own
  kCaller,    // the request's only: who calls and what their browser sent, which no
              // worker's own environment may stand in for
  kOwn,       // the worker's own only; a request that brings one to a worker without
              // one gets an empty value, which refuses it (see Chosen)
  kDesk,      // the worker's own when it has it, else the request's: a peer must not pick
              // the database the worker logs into with its credentials, nor whose boards count
  kDatabase,  // the worker's own, an unset one staying unset, when it has any of the database
              // settings; else the request's: a request must not send the worker's password
              // to a host of its choosing by setting the one host variable the worker left out
  kZone,      // as kDesk; from a request only the name of a zone file (see ZoneName)
  kBound,     // the smaller of the worker's own (else `fallback`) and the request's: a request
              // may lower what it may cost, never raise it
};

struct Variable {
  const char* name;
  Source source;
  const CSettingRange* range = nullptr;  // a kBound's range and default, as the program reads it;
                                         // without one (MAX_CONTENT_LENGTH) there is no default
};

// The bound with no default of its own: unset, the request's is taken.
const CSettingRange kContentLimit = {"MAX_CONTENT_LENGTH", 1, INT64_MAX, -1};

// The variables a request may set.
constexpr Variable kVariables[] = {
    {"CONTENT_LENGTH", Source::kRequest},
    {"MAX_CONTENT_LENGTH", Source::kBound, &kContentLimit},
    {"SHM_SEL_DB", Source::kDesk},
    {"SHM_OWNER", Source::kDesk},
    {"SHM_LOCK_MS", Source::kBound, &kShmLockMs},
    {"SHM_LOCK_TOTAL_MS", Source::kBound, &kShmLockTotalMs},
    {"MAX_ANSWER_RECORDS", Source::kBound, &kMaxAnswerRecords},
    {"MAX_REQUEST_IDS", Source::kBound, &kMaxRequestIds},
    {"MAX_LOG_BYTES", Source::kBound, &kMaxLogBytes},
    {"MYSQL_HOST", Source::kDatabase},
    {"MYSQL_WRITE_HOST", Source::kDatabase},
    {"MYSQL_USER", Source::kDatabase},
    {"MYSQL_PWD", Source::kDatabase},
    {"MYSQL_DB", Source::kDatabase},
    {"MYSQL_CONNECT_TIMEOUT", Source::kBound, &kMysqlConnectTimeout},
    {"MYSQL_TIMEOUT", Source::kBound, &kMysqlTimeout},
    {"TZ", Source::kZone},
    {"ZELVORA_ACCESS", Source::kOwn},
    {"ZELVORA_STATS", Source::kDesk},
    {"ZELVORA_REQUEST_LOG", Source::kDesk},
    {"OFFER_STALE_SECONDS", Source::kBound, &kOfferStaleSeconds},
    {"ZELVORA_PROBE", Source::kCaller},  // set by the web server per location
    {"REQUEST_METHOD", Source::kCaller},
    {"REMOTE_USER", Source::kCaller},
    {"HTTP_X_ZELVORA_REQUEST", Source::kCaller},
    {"HTTP_ORIGIN", Source::kCaller},
    {"HTTP_HOST", Source::kCaller},
    {"HTTPS", Source::kCaller},
};
constexpr int kVariableCount = sizeof kVariables / sizeof kVariables[0];

// Whether the worker's own environment holds any kDatabase variable.
bool ownDatabase = false;

// The key the web server sends with every request (ZELVORA_PEER_KEY of the
// worker's own environment; empty: none asked for). Another process of the
// web server's user can reach the socket too, but cannot read the server's
// configuration, so without the key it cannot name a caller.
const char kPeerKeyName[] = "ZELVORA_PEER_KEY";
std::string peerKey;

// The longest value a worker takes from a request's parameter: hosts,
// passwords and zone names are far shorter.
constexpr size_t kValueBytes = 4096;

// The system's zone database: the only zones a request may name.
const char kZoneFolder[] = "/usr/share/zoneinfo";

// The signals that end a worker: at once while no request is begun, else
// after the request in hand.
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// After an answer given before the whole body arrived, the rest is read and
// dropped before the connection closes: unread bytes at the close would make
// a TCP peer get a reset instead of the answer, and on a kept connection the
// next request starts after them. Web servers bound bodies themselves
// (nginx 1 MiB, LimitRequestBody below that here); a longer rest, or one
// that outlasts the request's deadline, is left to the close.
constexpr int kDrainBytes = 16 << 20;

FCGX_Request* current = nullptr;   // the request in hand
CFastCgiAnswer* answer = nullptr;  // its answer (the worker's, made when it starts: a CGI
                                   // process pays nothing for it)
int64_t bodyTaken = 0;             // bytes of its body the request in hand has read
volatile sig_atomic_t stopping = 0;
bool tcp = false;  // the listening socket takes TCP connections

// A stop signal while no request is begun: closing this process's copy of
// the listening socket ends the accept, whether it is waiting or about to.
void OnStop(int) {
  stopping = 1;
  close(FCGI_LISTENSOCK_FILENO);
}

// FCGI_TIMEOUT of the worker's own environment: seconds, 1 to 3600; 30
// when unset or anything else.
int TimeoutSeconds() {
  int64_t seconds = kFcgiTimeout.fallback;
  SettingNumber(std::getenv(kFcgiTimeout.name), kFcgiTimeout, seconds);
  return static_cast<int>(seconds);
}

// True unless FCGI_WEB_SERVER_ADDRS (the worker's own environment: IPv4
// addresses, comma-separated, blanks around each aside) is set and not
// empty and the TCP peer of `fd` is not in it: the check the FastCGI library
// makes when it accepts. An IPv4-mapped IPv6 peer is checked as its IPv4
// address; any other IPv6 peer is refused. A refusal is logged on the
// worker's own standard error, at most once a second.
bool FromWebServer(int fd) {
  const char* allowed = std::getenv("FCGI_WEB_SERVER_ADDRS");
  if (!tcp || allowed == nullptr || allowed[std::strspn(allowed, " \t")] == '\0') return true;
  sockaddr_storage peer = {};
  socklen_t size = sizeof peer;
  in_addr address = {};
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
  if (peer.ss_family == AF_INET) {
    address = reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr;
  } else if (peer.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
    std::memcpy(&address, v6->sin6_addr.s6_addr + 12, sizeof address);
  } else {
    address.s_addr = INADDR_NONE;
  }
  for (const char* at = allowed; address.s_addr != INADDR_NONE;) {
    at += std::strspn(at, " \t");
    size_t length = std::strcspn(at, ",");
    const char* next = at + length;
    while (length > 0 && (at[length - 1] == ' ' || at[length - 1] == '\t')) --length;
    char one[INET_ADDRSTRLEN] = {};
    in_addr listed = {};
    if (length < sizeof one) std::memcpy(one, at, length);
    if (length < sizeof one && inet_pton(AF_INET, one, &listed) == 1 &&
        listed.s_addr == address.s_addr) {
      return true;
    }
    if (*next == '\0') break;
    at = next + 1;
  }
  static time_t logged = 0;
  const time_t now = std::time(nullptr);
  if (now != logged) {
    logged = now;
    char shown[INET6_ADDRSTRLEN] = "?";
    inet_ntop(peer.ss_family,
              peer.ss_family == AF_INET6 ? static_cast<const void*>(&v6->sin6_addr) : &address,
              shown, sizeof shown);
    dprintf(STDERR_FILENO, "zelvora: connection from %s refused: not in FCGI_WEB_SERVER_ADDRS\n",
            shown);
  }
  return false;
}

// The next connection, or -1 when the worker is to end. Stop signals are
// let in while it waits.
int AcceptConnection(const sigset_t& waiting) {
  for (;;) {
    sigset_t serving;
    sigprocmask(SIG_SETMASK, &waiting, &serving);
    const int fd = stopping ? -1 : accept4(FCGI_LISTENSOCK_FILENO, nullptr, nullptr, SOCK_CLOEXEC);
    const int error = errno;
    sigprocmask(SIG_SETMASK, &serving, nullptr);
    if (fd >= 0 && !FromWebServer(fd)) {
      close(fd);
      continue;
    }
    if (fd >= 0) {
      // Answers go out in several writes; Nagle's algorithm would hold the
      // last of them for the peer's delayed acknowledgement.
      const int on = 1;
      if (tcp) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return fd;
    }
    // A connection that went away before it was taken costs nothing more.
    if (stopping ||
        (error != EINTR && error != ECONNABORTED && error != EPROTO && error != ENETDOWN &&
         error != EHOSTUNREACH && error != ENETUNREACH && error != ETIMEDOUT)) {
      return -1;
    }
  }
}

// Waits at most `seconds` for the first byte on `fd` (stop signals let in),
// taking the changes the boards' watch `changes` (-1: none) reports
// meanwhile. Above 0 when a byte came, 0 when none did, -1 when the wait
// was ended by a signal.
int AwaitFirstByte(int fd, int changes, int seconds, const sigset_t& waiting) {
  timespec end;
  clock_gettime(CLOCK_MONOTONIC, &end);
  end.tv_sec += seconds;
  for (;;) {
    timespec now, left;
    clock_gettime(CLOCK_MONOTONIC, &now);
    left.tv_sec = end.tv_sec - now.tv_sec;
    left.tv_nsec = end.tv_nsec - now.tv_nsec;
    if (left.tv_nsec < 0) left.tv_sec -= 1, left.tv_nsec += 1000000000L;
    if (left.tv_sec < 0) return 0;
    pollfd waits[2] = {{fd, POLLIN, 0}, {changes, POLLIN, 0}};
    const int ready = ppoll(waits, changes >= 0 ? 2 : 1, &left, &waiting);
    if (ready <= 0) return ready;
    if (waits[1].revents != 0) CShmKeeper::TakeChanges();
    if (waits[0].revents != 0) return ready;
  }
}

// Reads and drops what is left of the request's body: at most kDrainBytes,
// within the request's deadline.
void DropRestOfBody(FCGX_Stream* in) {
  char buffer[16384];
  for (int dropped = 0; dropped < kDrainBytes;) {
    const int got = FCGX_GetStr(buffer, sizeof buffer, in);
    if (got <= 0) return;
    dropped += got;
  }
}

// What the request's body has ready, at least one byte unless it has
// ended: the buffered standard input asks once per record the peer sent,
// not once per byte, and never waits for bytes the peer has not sent.
ssize_t ReadInput(void*, char* buffer, size_t size) {
  FCGX_Stream* in = current->in;
  if (size == 0) return 0;
  size_t got = 0;
  if (in->rdNext == in->stop) {  // nothing ready: the library waits for the next record
    const int first = FCGX_GetChar(in);
    if (first == EOF) return 0;
    buffer[got++] = static_cast<char>(first);
  }
  const size_t ready = static_cast<size_t>(in->stop - in->rdNext);
  got += static_cast<size_t>(
      FCGX_GetStr(buffer + got, static_cast<int>(std::min(size - got, ready)), in));
  bodyTaken += static_cast<int64_t>(got);
  return static_cast<ssize_t>(got);
}

// Bytes for a client that went away are dropped (CFastCgiAnswer), not kept
// in the stream's buffer for the next request.
ssize_t WriteOutput(void*, const char* buffer, size_t size) {
  answer->Out(buffer, size);
  return static_cast<ssize_t>(size);
}

// Outside a request (a worker starting or stopping) a diagnostic goes where
// the worker's own error stream points: it belongs to no request.
ssize_t WriteError(void*, const char* buffer, size_t size) {
  if (answer->Active()) {
    answer->Err(buffer, size);
    return static_cast<ssize_t>(size);
  }
  return write(STDERR_FILENO, buffer, size);
}

// The request's input and output streams, which ServeRequest is given.
FILE* requestIn = nullptr;
FILE* requestOut = nullptr;

// Makes the streams of the request in hand: its input and output, passed to
// ServeRequest, and its error stream, which becomes the process's stderr
// (Serve.h says why that one is swapped rather than passed).
bool OpenRequestStreams() {
  FILE* in = fopencookie(nullptr, "r", {ReadInput, nullptr, nullptr, nullptr});
  FILE* out = fopencookie(nullptr, "w", {nullptr, WriteOutput, nullptr, nullptr});
  FILE* err = fopencookie(nullptr, "w", {nullptr, WriteError, nullptr, nullptr});
  if (in == nullptr || out == nullptr || err == nullptr) return false;
  // Buffered, as ReadInput asks for no more than a record holds: each
  // request starts with the buffer emptied (no byte of one request's body
  // may be read as the next's).
  std::setvbuf(in, nullptr, _IOFBF, 1 << 14);
  std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
  requestIn = in;
  requestOut = out;
  stderr = err;
  return true;
}

// The "NAME=value" text of each variable this worker put in the
// environment. putenv places the text itself there, so the text of a value
// replaced is freed here; setenv would keep a copy of every distinct value
// it was ever given, and a peer sending new values would grow the worker
// without bound.
std::unique_ptr<char[]> placed[kVariableCount];

// Each variable's value in the environment now (null: unset), so that a
// request need not look each one up there: the worker's own until a
// request changes it, then the text placed. Only PlaceVariable changes
// these variables.
const char* environed[kVariableCount];

void PlaceVariable(int i, const char* value) {
  if (value == nullptr) {
    unsetenv(kVariables[i].name);
    placed[i].reset();
    environed[i] = nullptr;
    return;
  }
  const size_t nameLength = std::strlen(kVariables[i].name), valueLength = std::strlen(value);
  std::unique_ptr<char[]> text(new char[nameLength + valueLength + 2]);
  std::memcpy(text.get(), kVariables[i].name, nameLength);
  text[nameLength] = '=';
  std::memcpy(text.get() + nameLength + 1, value, valueLength + 1);
  // A failed putenv leaves the old text in place, and still needed.
  if (putenv(text.get()) != 0) throw std::bad_alloc();
  environed[i] = text.get() + nameLength + 1;
  placed[i] = std::move(text);
}

// True when `name` names a file of the system's zone database: letters,
// digits and "/_+-", no "..", at most 64 bytes. The C library keeps every
// zone name it is given for the life of the process, so a worker takes no
// other name from a request (nor a path out of that folder).
bool ZoneName(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0 || length > 64 || name[0] == '/' || std::strstr(name, "..") != nullptr) {
    return false;
  }
  for (const char* c = name; *c != '\0'; ++c) {
    if (!(*c >= 'a' && *c <= 'z') && !(*c >= 'A' && *c <= 'Z') && !(*c >= '0' && *c <= '9') &&
        std::strchr("/_+-", *c) == nullptr) {
      return false;
    }
  }
  char path[96];
  std::snprintf(path, sizeof path, "%s/%s", kZoneFolder, name);
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

// The value variable `i` takes for a request that brings `asked` (null:
// none), the worker's own being `own`. A request's lower bound is written
// anew into `number`, so that every reader of it reads that number.
const char* Chosen(int i, const char* asked, const char* own, char (&number)[24]) {
  const Variable& variable = kVariables[i];
  switch (variable.source) {
    case Source::kRequest:
      return asked != nullptr ? asked : own;
    case Source::kCaller:
      return asked;
    case Source::kOwn:
      // A grants file named per request would be missed by any request
      // that does not name it (a location set up without it, a peer), which
      // would then see every account: a worker without a file of its own
      // refuses a request that names one, rather than serve some requests
      // unguarded.
      if (own != nullptr || asked == nullptr) return own;
      std::fprintf(stderr,
                   "zelvora: %s of the request is not taken: a worker's grants file is set in its "
                   "own environment\n",
                   variable.name);
      return "";
    case Source::kDatabase:
      return ownDatabase ? own : asked;
    case Source::kDesk:
      return own != nullptr ? own : asked;
    case Source::kZone: {
      if (own != nullptr || asked == nullptr) return own;
      const char* now = environed[i];  // a zone taken before
      if ((now != nullptr && std::strcmp(now, asked) == 0) || ZoneName(asked)) return asked;
      // Zone names are short: the log gets as much of it as any could need.
      std::fprintf(stderr, "zelvora: TZ \"%s\" of the request names no zone of %s: not taken\n",
                   Printable(std::string(asked).substr(0, 64)).c_str(), kZoneFolder);
      return nullptr;
    }
    case Source::kBound: {
      int64_t bound = variable.range->fallback, lower = 0;
      if (own != nullptr)
        SettingNumber(own, *variable.range, bound);        // else the program reads the fallback
      if (bound < 0) return own != nullptr ? own : asked;  // no default, none of its own
      if (!SettingNumber(asked, *variable.range, lower) || lower >= bound) return own;
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(lower));
      return number;
    }
  }
  return own;
}

// True when the worker asks for no key, or the request brings the worker's.
// The time taken depends on the length of the worker's key alone, not on
// how much of it a peer guessed right.
bool KeyAccepted(FCGX_ParamArray params) {
  if (peerKey.empty()) return true;
  const char* asked = FCGX_GetParam(kPeerKeyName, params);
  if (asked != nullptr) {
    const size_t length = strnlen(asked, kValueBytes + 1);
    unsigned char differs = length != peerKey.size();
    for (size_t i = 0; i < peerKey.size(); ++i) {
      differs |= static_cast<unsigned char>(peerKey[i] ^ (i < length ? asked[i] : 0));
    }
    if (differs == 0) return true;
  }
  // Never the value: the web server's log is no place for a key.
  std::fprintf(stderr, "zelvora: request refused: %s %s\n", kPeerKeyName,
               asked == nullptr ? "missing" : "not the worker's own");
  return false;
}

// Sets each variable for the request in hand. One pass over the request's
// parameters, and the environment is touched only where a value changes:
// most requests bring the same ones. A value longer than kValueBytes counts
// as absent.
void ApplyVariables(const std::optional<std::string> (&own)[kVariableCount],
                    FCGX_ParamArray params) {
  static size_t longest = 0;
  static const size_t* lengths = [] {
    static size_t sizes[kVariableCount];
    for (int i = 0; i < kVariableCount; ++i) {
      sizes[i] = std::strlen(kVariables[i].name);
      longest = std::max(longest, sizes[i]);
    }
    return sizes;
  }();
  static const char kTooLong[] = "";  // a value found and not taken
  const char* values[kVariableCount] = {};
  for (FCGX_ParamArray param = params; param != nullptr && *param != nullptr; ++param) {
    // A parameter's name ends at its first "=": only a name of a variable's
    // length is compared with it, most parameters with none.
    const void* equals = std::memchr(*param, '=', strnlen(*param, longest + 1));
    if (equals == nullptr) continue;
    const size_t length = static_cast<size_t>(static_cast<const char*>(equals) - *param);
    for (int i = 0; i < kVariableCount; ++i) {
      if (lengths[i] == length && values[i] == nullptr &&
          std::memcmp(*param, kVariables[i].name, length) == 0) {
        values[i] = *param + lengths[i] + 1;
        if (strnlen(values[i], kValueBytes + 1) > kValueBytes) {
          std::fprintf(stderr, "zelvora: %s of the request is longer than %zu bytes: not taken\n",
                       kVariables[i].name, kValueBytes);
          values[i] = kTooLong;
        }
        break;
      }
    }
  }
  bool zoneChanged = false;
  for (int i = 0; i < kVariableCount; ++i) {
    char number[24];
    const char* value = Chosen(i, values[i] != kTooLong ? values[i] : nullptr,
                               own[i] ? own[i]->c_str() : nullptr, number);
    const char* now = environed[i];
    if (value == now || (value != nullptr && now != nullptr && std::strcmp(value, now) == 0)) {
      continue;
    }
    PlaceVariable(i, value);
    zoneChanged = zoneChanged || kVariables[i].source == Source::kZone;
  }
  if (zoneChanged) tzset();
}

// The body length the request in hand announced; 0 where it announced none
// or no number.
int64_t AnnouncedLength() {
  static_assert(std::string_view(kVariables[0].name) == "CONTENT_LENGTH");
  const char* text = environed[0];
  if (text == nullptr || *text < '0' || *text > '9') return 0;
  errno = 0;
  char* end = nullptr;
  const long long length = std::strtoll(text, &end, 10);
  return errno == 0 && *end == '\0' ? length : 0;
}

}  // namespace

bool IsListeningSocket(int fd) {
  int accepting = 0;
  socklen_t size = sizeof accepting;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting != 0;
}

int RunFastCgiWorker() {
  static CFastCgiAnswer workerAnswer;
  answer = &workerAnswer;
  FCGX_Request request;
  // No listening socket for the library: the worker accepts connections
  // itself, so that each request gets its deadline before its first read,
  // and a connection the library gives up on ends its wait instead of
  // starting one of the library's own.
  if (FCGX_Init() != 0 || FCGX_InitRequest(&request, -1, 0) != 0 || !OpenRequestStreams()) {
    std::fputs("zelvora: cannot start the FastCGI worker\n", stderr);
    return 1;
  }
  std::optional<std::string> own[kVariableCount];
  for (int i = 0; i < kVariableCount; ++i) {
    environed[i] = std::getenv(kVariables[i].name);
    if (environed[i] != nullptr) own[i] = environed[i];
    ownDatabase = ownDatabase || (own[i] && kVariables[i].source == Source::kDatabase);
  }
  if (const char* key = std::getenv(kPeerKeyName)) peerKey = key;
  const int timeout = TimeoutSeconds();
  sockaddr_storage local = {};
  socklen_t localSize = sizeof local;
  tcp = getsockname(FCGI_LISTENSOCK_FILENO, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
        (local.ss_family == AF_INET || local.ss_family == AF_INET6);
  signal(SIGPIPE, SIG_IGN);
  if (!CDeadlineWatch::Start(timeout)) {
    std::perror("zelvora: cannot start the FastCGI worker's deadline watch");
    return 1;
  }
  struct sigaction stop = {};
  stop.sa_handler = OnStop;  // no SA_RESTART: a waiting accept must end
  sigemptyset(&stop.sa_mask);
  sigset_t waiting;  // the mask while no request is begun: stop signals let in
  sigprocmask(SIG_SETMASK, nullptr, &waiting);
  for (const int number : kStopSignals) {
    sigaction(number, &stop, nullptr);
    sigaddset(&stop.sa_mask, number);
    sigdelset(&waiting, number);
  }
  // Stop signals wait while a request is read and served.
  sigprocmask(SIG_BLOCK, &stop.sa_mask, nullptr);
  CShmKeeper::Enable();
  const int changes = CShmKeeper::WatchChanges();
  // A worker's start counts where its own environment names the scoreboard;
  // the pool marks one that replaces a worker that ended.
  if (CScoreboard* board = AttachScoreboard()) {
    board->workerStarts.fetch_add(1, std::memory_order_relaxed);
    const char* replaced = std::getenv("ZELVORA_REPLACED");
    if (replaced != nullptr && std::strcmp(replaced, "1") == 0) {
      board->workerRestarts.fetch_add(1, std::memory_order_relaxed);
    }
  }
  CDbSlot slot;
  current = &request;
  for (;;) {
    CDeadlineWatch::Stop();
    if (request.ipcFd < 0) {  // else the kept connection of the last request
      request.ipcFd = AcceptConnection(waiting);
      if (request.ipcFd < 0) break;
      request.keepConnection = 1;  // until its first record says otherwise
    }
    // Until its first byte the request is not begun: a stop signal ends the
    // worker at once, and a connection idle for FCGI_TIMEOUT is closed.
    // The same wait tells of changes to the boards' files, at no cost
    // when there are none.
    const int ready = stopping ? 0 : AwaitFirstByte(request.ipcFd, changes, timeout, waiting);
    if (stopping) break;
    if (ready == 0) {
      shutdown(request.ipcFd, SHUT_RDWR);
      close(request.ipcFd);
      request.ipcFd = -1;
      continue;
    }
    // Everything the request does on its connection, from its first record
    // to the end of its answer, within one deadline: a peer that sends or
    // reads a byte at a time holds the worker no longer. Time the connection
    // stood idle before is not counted.
    CDeadlineWatch::Watch(request.ipcFd);
    // A connection the library gives up on closes at once. Its own close
    // would first wait for the peer's end, for as long as the peer sends.
    request.detached = 1;
    if (FCGX_Accept_r(&request) != 0) continue;  // that connection failed; the next
    answer->Begin(request.ipcFd, request.requestId);
    bool bodyLeft = true;  // more of the body than its end is still to come
    try {
      if (KeyAccepted(request.envp)) {
        ApplyVariables(own, request.envp);
        __fpurge(requestIn);
        clearerr(requestIn);
        bodyTaken = 0;
        ServeRequest(requestIn, requestOut, &slot);
        bodyLeft = bodyTaken < AnnouncedLength();
      } else {
        WriteRefusal(requestOut, "Status: 403 Forbidden\n");
      }
    } catch (const std::exception& error) {  // memory for a variable's text, above all
      std::fprintf(stderr, "zelvora: request not served: %s\n", error.what());
      WriteBannerAnswer(requestOut);
    }
    // The answer's end goes out only after the body's end was read: on a
    // kept connection the peer sends its next request once the end arrives,
    // and bytes of it read ahead with this body's rest would be dropped with
    // it. An answer given before its body was read goes out first, so that
    // a peer still sending gets it now, not after the drain.
    std::fflush(requestOut);
    std::fflush(stderr);
    const bool flushed = !bodyLeft || answer->Flush();
    DropRestOfBody(request.in);
    int failed = answer->End(request.appStatus) && flushed ? 0 : 1;
    // The library's own output streams carried nothing: closed, they write
    // nothing either.
    for (FCGX_Stream* stream : {request.out, request.err}) {
      stream->wasFCloseCalled = stream->isClosed = 1;
    }
    // A connection that is not kept, or whose request's body was not read
    // to its end, is closed at once (still detached): the library's own
    // close would first wait for the peer's end, for as long as the peer
    // sends, and costs three more system calls when it does not.
    failed |= FCGX_GetError(request.in) | (FCGX_HasSeenEOF(request.in) != EOF);
    if (failed != 0) request.keepConnection = 0;
    if (request.keepConnection) request.detached = 0;
    FCGX_Finish_r(&request);
  }
  CDeadlineWatch::Stop();
  request.detached = 1;  // a kept connection closes at once
  FCGX_Free(&request, 1);
  return 0;
}
