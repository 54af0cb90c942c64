// Test support for everything that runs the program: board images on real
// shared memory, the MariaDB server that scripts/test starts (MYSQL_* in the
// environment), and one way to ask the program a request. Board keys a test
// makes carry UniqueKey's marker, so that RemoveBoardsMarked finds them.
#ifndef ZELVORA_TESTS_SUPPORT_DESK_H_
#define ZELVORA_TESTS_SUPPORT_DESK_H_

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "shm/Board.h"  // the boards' layouts, for their images
#include "support/Process.h"

using Lines = std::vector<std::string>;

// "Content-Type: text/plain \n\n"
extern const char kAnswerHeader[];
// the header and the banner line
extern const char kBannerAnswer[];

// "PREFIX.zt<pid>-<n>": a key that no other test run uses.
std::string UniqueKey(const std::string& prefix);

// A board image of `size` bytes: `header` blank-padded to 12 bytes, `index`
// blank-padded to `indexSize`, the records blank-padded to `recordSize`,
// then zero bytes.
std::string BoardImage(int32_t size, const std::string& header, int32_t indexSize,
                       const std::string& index, int32_t recordSize, const Lines& records);

// Creates or rewrites the object of `key` with exactly `image`. 0 or -1.
int WriteBoard(const std::string& key, const std::string& image);

// Removes every board object and semaphore in /dev/shm whose name holds `marker`.
void RemoveBoardsMarked(const std::string& marker);

// True when neither "shm.KEY" nor "sem.KEY" exists in /dev/shm.
bool BoardGone(const std::string& key);

// Why the tests may not use the server that MYSQL_* name: "" when all four
// are set and name a database scripts/db-local made (it carries that
// script's marker), else the reason. The tests write (they empty `Offer`):
// a shell with a desk's settings must not lose the desk's data to them.
const std::string& DatabaseRefusal();

// The test server's MYSQL_HOST, MYSQL_USER, MYSQL_PWD and MYSQL_DB, or null
// when DatabaseRefusal gives a reason.
const Lines* DatabaseEnv();

// Skips the test without a throwaway database, or fails it when
// ZELVORA_REQUIRE_DB is set, so that a broken set-up never passes quietly.
#define REQUIRE_DATABASE()                                                 \
  do {                                                                     \
    const std::string& refusal = DatabaseRefusal();                        \
    if (!refusal.empty()) {                                                \
      if (std::getenv("ZELVORA_REQUIRE_DB") != nullptr) FAIL() << refusal; \
      GTEST_SKIP() << refusal;                                             \
    }                                                                      \
  } while (0)

// Skips a test that writes boards unless the process has a /dev/shm of its
// own: the test support makes one at start where the kernel lets it (root,
// mount namespaces), and scripts/private-shm makes one for whatever it runs.
// A desk's boards on this machine are never touched.
#define REQUIRE_PRIVATE_SHM()                                                        \
  do {                                                                               \
    if (std::getenv("ZELVORA_PRIVATE_SHM") == nullptr)                               \
      GTEST_SKIP() << "no /dev/shm of the tests' own (root or scripts/private-shm)"; \
  } while (0)

// Runs statements on the test server (mariadb client); fails the test when
// one does not succeed, or, sending nothing, when DatabaseRefusal says why.
void RunSql(const Lines& statements);

// The rows of a select, one "a|b|c" line each.
Lines QueryRows(const std::string& sql);

// A persistent worker: zelvora.cgi behind spawn-fcgi on a unix socket of its
// own (with `port`: on 127.0.0.1:port, Socket() "127.0.0.1:port"), with
// `env` (and the sanitized build's LD_LIBRARY_PATH) as its environment and
// `addressLimit` bytes of address space (0: no limit). Stopped with SIGTERM
// when destroyed.
class CWorker {
 public:
  explicit CWorker(const Lines& env = {}, long addressLimit = 0, int port = 0);
  ~CWorker();
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;
  const std::string& Socket() const { return socket_; }
  pid_t Pid() const { return pid_; }
  // the worker's exit status; see StopProcess
  int Stop(bool signal = true);

 private:
  std::string socket_;
  pid_t pid_ = -1;
};

// zelvora.cgi run as a web server runs it, `env` its whole environment: as a
// CGI program, or through `worker` by cgi-fcgi (libfcgi's own client), which
// hands the worker `env` as the request's parameters and writes the
// request's output and error streams.
ProcessResult RunProgram(const Lines& env, const std::string& body, const Lines& args = {},
                         const CWorker* worker = nullptr);

// `more`, then CONTENT_LENGTH of `body` and MAX_CONTENT_LENGTH=65536.
Lines RequestEnv(const std::string& body, Lines more = {});

// getAccount's answer for accounts that no source has.
std::string NoAccount(const Lines& ids);

// Milliseconds since `start`.
long MsSince(std::chrono::steady_clock::time_point start);

// How many of the maps of process `pid` are of /dev/shm; -1 for a process that is gone (a
// zombie has no maps, and must not pass for one that let its boards go).
int ShmMaps(pid_t pid);

// <zelvora><method>M</method><params>P</params></zelvora>, every byte of P
// kept; without "params" when there are none.
std::string RequestBody(const std::string& method, const std::optional<std::string>& params);

// One request to the program. The environment holds `env`, then
// CONTENT_LENGTH, MAX_CONTENT_LENGTH=65536, TZ=Asia/Tokyo, SHM_SEL_DB and
// the MYSQL_* variables of `db`; a name in `env` wins over the same later.
struct Call {
  enum Db { kServer, kFake };
  std::string method;
  // nullopt: no params element
  std::optional<std::string> params = std::string();
  // null: unset
  const char* selDb = "1";
  Db db = kServer;
  // replaces the server's MYSQL_HOST when set
  std::string host;
  // the recording library's rows: names line, then rows, tab-separated
  std::string rows;
  // the recording library's failing call
  std::string fail;
  Lines env;
  // null: CGI
  const CWorker* worker = nullptr;
};

struct Reply {
  // after the header; "(banner)", or "(no header)" for anything else
  std::string answer;
  ProcessResult result;
  // what the recording library saw
  Lines log;
};

Reply Ask(const Call& call);

// A plan as getImplPlan writes it: {"Symbol":S,"IP1":..,...,"IP20":..}, the
// values from IP1 on, the rest empty.
std::string PlanJson(const std::string& symbol, const Lines& values);

// <param><symbol>SYMBOL</symbol>INNER</param>: one plan of setImplPlan.
std::string Param(const std::string& symbol, const std::string& inner = "");

// `text` with every "(digits)" made "(n)": a system error number that may
// differ from run to run.
std::string Unnumbered(std::string text);

// `text` with every local date-time text ("2026/12/05 09:30:00") of the
// last minute replaced by "NOW".
std::string MaskNow(std::string text);

#endif  // ZELVORA_TESTS_SUPPORT_DESK_H_
