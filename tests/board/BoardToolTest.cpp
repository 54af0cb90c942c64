// zelvora-board as an operator runs it, checked through the readers that
// the CGI program uses. "KEY" in a case stands for the board's key.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

#include "desk/DeskService.h"
#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

struct ToolCase {
  std::string args, input;
  std::string want;  // exit status, " ", standard output, "|", standard error; "*" at the end:
                     // what follows unchecked (one row of a family holds its exact words)
  std::string read;  // what the readers give afterwards ("": unchecked)
  Lines env;
};

// `text` with each name of `values` replaced by its value.
std::string Filled(std::string text,
                   const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    for (auto at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size()))
      text.replace(at, name.size(), value);
  }
  return text;
}

// `text` with KEY and OWNER ("user:group" of this process) filled in.
std::string WithKey(const std::string& text, const std::string& key) {
  return Filled(text, {{"KEY", key},
                       {"OWNER", std::string(getpwuid(geteuid())->pw_name) + ":" +
                                     getgrgid(getegid())->gr_name}});
}

// `got` as `want` shows it: with "*" at the end of `want`, what follows there unchecked.
std::string Seen(const std::string& got, const std::string& want) {
  return want.back() == '*' ? got.substr(0, want.size() - 1) + "*" : got;
}

// Runs the cases (their words split at spaces) in order on `key`.
void Expect(const std::string& key, const std::vector<ToolCase>& cases) {
  for (const ToolCase& c : cases) {
    ProcessLaunch launch{ZELVORA_BOARD, {}, c.env, c.input};
    if (const char* zone = std::getenv("TZ")) launch.env.push_back(std::string("TZ=") + zone);
    std::istringstream words(WithKey(c.args, key));
    for (std::string word; words >> word;) launch.args.push_back(word);
    const ProcessResult result = RunProcess(launch);
    const std::string shown = c.args + " " + c.input;
    const std::string got = std::to_string(result.status) + " " + MaskNow(result.out) + "|" +
                            result.err,
                      want = WithKey(c.want, key);
    EXPECT_EQ(Seen(got, want), want) << shown;
    std::string read;
    EXPECT_TRUE(c.read.empty() ||
                (CDeskService().ReadBoard(key, kAccountBoard.size, read, 0) == 0 && read == c.read))
        << shown << ": the readers give " << read;
  }
}

class BoardTool : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_PRIVATE_SHM(); }
};

TEST_F(BoardTool, WritesDumpsAndRemovesBoardsTheReadersRead) {
  const std::string key = UniqueKey("account");
  Expect(key, {
                  {"write KEY",
                   "{\"AccountID\":\"7\",\"Balance\":1.5}\n\n  {\"AccountID\":\"70\"}  \r\n",
                   "0 board KEY: 2 records of 31 bytes\n|",
                   "{\"AccountID\":\"7\",\"Balance\":1.5},{\"AccountID\":\"70\"}"},
                  {"write KEY", "", "0 board KEY: 0 records of 1 bytes\n|"},
                  // Two options at once; the board grows.
                  {"write KEY --size 9000 --record-size 500", "{\"c\":3}\n",
                   "0 board KEY: 1 records of 500 bytes\n|", "{\"c\":3}"},
                  {"remove KEY", "", "0 |"},
                  {"remove KEY", "", "1 |*"},
                  {"dump KEY", "", "1 |*"},
              });
  EXPECT_TRUE(BoardGone(key));
  Expect(UniqueKey("offer"),
         {
             {"write KEY", "{}\n{\"Symbol\":\"USD/JPY\"}\n", "1 |*"},  // a record without a symbol
             {"write KEY", "{\"Symbol\":\"USD/JPY\"}\n", "0 board KEY: 1 records of 20 bytes\n|"},
             {"dump KEY", "",
              "0 board KEY: 64032 bytes, index area 4000\ncount 1, record size 20\nindex "
              "{\"USD\\/JPY\":0}\n0 {\"Symbol\":\"USD/JPY\"}\n|"},
         });
}

TEST_F(BoardTool, RefusesWhatDoesNotFitAndWritesNothing) {
  const std::string key = UniqueKey("account");
  Expect(
      key,
      {
          // One byte more than the board holds.
          {"write KEY --record-size 1801", "{}\n",
           "1 |zelvora-board: 1 records of 1801 bytes need 1813 bytes; board KEY holds 1812\n"},
          // A record over the record size; a line not an object.
          {"write KEY --record-size 5", "{\"a\":1}\n", "1 |*"},
          {"write KEY", "{\"a\":1}\n[1,2]\n", "1 |*"},
          // An index: a symbol twice (in an area that holds both, so that the refusal is the
          // duplicate's), an index over its area, an area over the board (a record without a
          // symbol: the offer board's row above).
          {"write KEY --index 100", "{\"Symbol\":\"EURUSD\"}\n{\"Symbol\":\"EURUSD\"}\n", "1 |*"},
          {"write KEY --index 10", "{\"Symbol\":\"EURUSDX\"}\n", "1 |*"},
          {"write KEY --size 100 --index 90", "{}\n",
           "1 |zelvora-board: a 100-byte board cannot hold a 90-byte index\n"},
          // A key of no known board, without --size.
          {"write ledger.1", "{}\n", "1 |*"},
      });
  EXPECT_TRUE(BoardGone(key)) << "a refused write leaves nothing";
}

TEST_F(BoardTool, ShowsBoardsAndFreesOnlyALockThatStaysHeld) {
  const std::string key = UniqueKey("account");
  const std::string status =
      "0 board KEY\n  segment: 4096 bytes, mode 0660, owner OWNER, changed "
      "NOW\n  header: count 1, record size 7\n  semaphore: value ";
  Expect(key, {
                  {"write KEY", "{\"a\":1}\n", "0 board KEY: 1 records of 7 bytes\n|"},
                  {"unlock KEY --held 100", "", "1 |*", "{\"a\":1}"},  // a free lock
              });
  if (fork() == 0) sem_wait(sem_open(key.c_str(), 0)), _exit(0);  // a writer that died holding it
  wait(nullptr);
  Expect(key, {
                  {"write KEY", "{\"b\":2}\n", "1 |*", "", {"SHM_LOCK_MS=100"}},
                  {"status KEY", "", status + "0 (taken), mode 0660, owner OWNER\n|"},
                  {"unlock KEY --held 200", "", "0 *", "{\"a\":1}"},
              });
  // A live writer of this system, however slow, says it holds the lock: never released under it.
  CShareMemory writer;
  ASSERT_EQ(writer.Open(key, 1812, false, false) + writer.Lock(), 0);
  Expect(key, {{"unlock KEY --held 100", "", "1 |*"}});
  writer.Unlock();
  // A slow holder that marks nothing: its own release must not leave the lock open to two holders.
  sem_t* raw = sem_open(key.c_str(), 0);
  ASSERT_EQ(sem_wait(raw), 0);
  std::thread slow(
      [raw] { std::this_thread::sleep_for(std::chrono::milliseconds(600)), sem_post(raw); });
  Expect(key, {
                  {"unlock KEY --held 400", "", "1 |*"},
                  {"status KEY", "", status + "1, mode 0660, owner OWNER\n|"},
              });
  slow.join();
  // Four of this system's processes keep the lock busy (held 5 ms at a time, free for
  // microseconds): not stuck.
  std::vector<pid_t> busy;
  for (int i = 0; i < 4; ++i) {
    if (busy.emplace_back(fork()) == 0) {
      CSemaphore lock;
      lock.Open(key, 60000, 0);
      for (int round = 0; round < 100; ++round) lock.Lock(), usleep(5000), lock.Unlock();
      _exit(0);
    }
  }
  Expect(key, {{"unlock KEY --held 200", "", "1 |*"}});
  for (const pid_t child : busy) waitpid(child, nullptr, 0);
  int value = 0;
  EXPECT_EQ((sem_getvalue(raw, &value), value), 1) << "two holders under a busy lock after unlock";
  sem_close(raw);
  // With SHM_OWNER a board is its feeder's alone: a segment of its own narrowed to what readers
  // accept.
  Expect(key, {
                  {"write KEY",
                   "{\"a\":1}\n",
                   "0 board KEY: 1 records of 7 bytes\n|",
                   "",
                   {"SHM_OWNER=" + std::to_string(geteuid())}},
                  {"status KEY", "",
                   Filled(status, {{"0660", "0640"}}) + "1, mode 0660, owner OWNER\n|"},
              });
}

// A local user of the test's own: made with useradd, removed with userdel.
struct LocalUser {
  explicit LocalUser(const std::string& name) : name(name) {
    const struct passwd* user = RunShell("useradd -rMU -s /usr/sbin/nologin " + name).status == 0
                                    ? getpwnam(name.c_str())
                                    : nullptr;
    if (user != nullptr) uid = user->pw_uid, gid = user->pw_gid;
  }
  ~LocalUser() { RunShell("userdel " + name + " 2>/dev/null"); }
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Runs `act` in a child process as `uid` with the groups `gids` (the first its own): the text of
// the errno it failed with, "Success" when it did not.
std::string As(uid_t uid, const std::vector<gid_t>& gids, const std::function<int()>& act) {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(setgroups(gids.size(), gids.data()) + setgid(gids[0]) + setuid(uid) == 0 && act() >= 0
              ? 0
              : errno);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? std::strerror(WEXITSTATUS(status)) : "killed";
}

// A neighbour (another local user) and a web application (the web server's user, in the boards'
// group) against a feeder of its own user, under the shipped settings: boards only of SHM_OWNER,
// SHM_GROUP the group of the feeder and the web server. The steps run in order. (The modes that
// keep them from the feeder's boards are the status rows' above.)
TEST_F(BoardTool, NeighboursAndWebApplicationsCannotTouchAFeedersBoards) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make users of its own";
  const LocalUser neighbour("zelvora-nb-" + std::to_string(getpid())),
      feeder("zelvora-fd-" + std::to_string(getpid()));
  const struct passwd* www = getpwnam("www-data");
  ASSERT_TRUE(neighbour.uid != 0 && feeder.uid != 0 && www != nullptr);
  const std::string keys[] = {UniqueKey("account"), UniqueKey("account"), UniqueKey("account")},
                    feederId = std::to_string(feeder.uid);
  const struct {
    const char* what;
    // N the neighbour, W the web server's user, F the feeder, C the feeder with CAP_FOWNER
    char who;
    int board;
    std::function<int(const std::string&)> act;  // for N and W
    // N, W: what the act met; F, C: exit status and standard error
    std::string want;
  } steps[] = {
      // (A semaphore made first goes the segment's way: one owner check for both.)
      {"web app makes the segment", 'W', 0,
       [](const std::string& key) {
         const int fd = shm_open(("shm." + key).c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
         return fd < 0 || fchmod(fd, 0666) != 0 ? -1 : ftruncate(fd, 4096);
       },
       "Success"},
      {"feeder refuses it", 'F', 0, nullptr,
       "1 zelvora-board: board {K} not written: segment owned by uid {W}, which this user (uid "
       "{F}) may not remove: Permission denied (remove it as root: zelvora-board remove {K}; or "
       "give the feeder CAP_FOWNER)\n"},
      {"feeder with CAP_FOWNER replaces it", 'C', 0, nullptr,
       "0 zelvora-board: board {K}: removed the segment uid {W} had made\n"},
      {"neighbour links the semaphore", 'N', 1,
       [&](const std::string& key) {
         return symlink(("/dev/shm/shm." + keys[0]).c_str(), ("/dev/shm/sem." + key).c_str());
       },
       "Success"},
      {"feeder follows no link", 'F', 1, nullptr,
       "1 zelvora-board: board {K} not written: semaphore owned by uid {N}, *"},
      {"feeder writes", 'F', 2, nullptr, "0 "},
      {"web app raises the lock", 'W', 2,
       [](const std::string& key) {
         sem_t* lock = sem_open(key.c_str(), 0);
         return lock == SEM_FAILED ? -1 : sem_post(lock) + sem_post(lock);
       },
       "Success"},
      {"feeder lowers it to 1", 'F', 2, nullptr,
       "0 zelvora-board: board {K}: its lock stood at 3, raised by another process: brought back "
       "to 1\n"},
  };
  for (const auto& step : steps) {
    const std::string key = keys[step.board];
    std::string got;
    if (step.act) {
      got = step.who == 'N'
                ? As(neighbour.uid, {neighbour.gid}, [&] { return step.act(key); })
                : As(www->pw_uid, {www->pw_gid, feeder.gid}, [&] { return step.act(key); });
    } else {
      Lines as = {"--reuid=" + feederId, "--regid=" + feederId, "--init-groups"};
      if (step.who == 'C') as.insert(as.end(), {"--inh-caps=+fowner", "--ambient-caps=+fowner"});
      as.insert(as.end(), {ZELVORA_BOARD, "write", key});
      const ProcessResult written =
          RunProcess({"/usr/bin/setpriv",
                      as,
                      {"SHM_OWNER=" + feeder.name, "SHM_GROUP=" + feeder.name},
                      "{\"AccountID\":\"" + key.substr(8) + "\",\"By\":\"feeder\"}\n"});
      got = std::to_string(written.status) + " " + written.err;
    }
    const std::string want = Filled(step.want, {{"{K}", key},
                                                {"{N}", std::to_string(neighbour.uid)},
                                                {"{W}", std::to_string(www->pw_uid)},
                                                {"{F}", feederId}});
    EXPECT_EQ(Seen(got, want), want) << step.what;
  }
  // The web server's user reads the feeder's last board through the program (the readers'
  // refusals of the others' boards are the program's tests').
  const std::string body =
      RequestBody("getAccount", "<accountid>" + keys[2].substr(8) + "</accountid>");
  const ProcessResult read =
      RunProcess({"/usr/bin/setpriv",
                  {"--reuid=" + std::to_string(www->pw_uid), "--regid=www-data",
                   "--groups=" + std::to_string(feeder.gid), ZELVORA_CGI},
                  RequestEnv(body, {"SHM_OWNER=" + feeder.name}),
                  body});
  EXPECT_NE(read.out.find("\"By\":\"feeder\""), std::string::npos) << read.out << read.err;
}

}  // namespace
