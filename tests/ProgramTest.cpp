// The program as a web server runs it, as a CGI program and as a persistent
// FastCGI worker: exact environment, exact body, and every byte of the
// answer and of the diagnostics, the same in both modes. In every text of
// the table "{T}" stands for a tag of this run, so board keys are the
// test's own, "{U}" for this user's uid and "{V}" for another (ten more),
// "{A}" for the path of the test's grants file.
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

struct ProgramCase {
  const char* what;
  Lines env;  // the whole environment; "{L}", "{L+N}", "{L-N}": the body's length (plus N)
  std::string body;
  std::string out, err;  // "{B}" stands for the banner answer, header included
  Lines args;            // a CGI program's arguments; such a case has no FastCGI form
  bool limited = false;  // run with kAddressLimit bytes of address space (a worker of its own)
  long withinMs = 0;     // when set, the answer must come within this time
};

#ifdef ZELVORA_SANITIZED
const long kAddressLimit = 0;  // the sanitizer's runtime cannot start under an address-space limit
#else
const long kAddressLimit = 128L << 20;
#endif

const std::string kBars =
    "<zelvora><method>getPriceBar</method><params><symbol>{T}</symbol><period>1</period></params></"
    "zelvora>";
const std::string kNoBars = "{\"status\":1, \"data\":[]}";
const std::string kMissing = "1] open failed.\n[2] No such file or directory\n";
const Lines kLimit = {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=65536"};
Lines Limit(const std::string& more) {
  return {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=65536", more};
}
// getAccount naming account.{T}<suffix> for each suffix, and its answer when those boards cannot
// be read.
std::string Accounts(const Lines& suffixes) {
  std::string params;
  for (const std::string& suffix : suffixes) params += "<accountid>{T}" + suffix + "</accountid>";
  return "<zelvora><method>getAccount</method><params>" + params + "</params></zelvora>";
}
std::string Unread(const Lines& suffixes) {
  Lines ids;
  for (const std::string& suffix : suffixes) ids.push_back("{T}" + suffix);
  return NoAccount(ids);
}
const Lines k30Held(30, "H");
// A request of `user` under the grants file {A}, which holds `grants` (written by rename, mode
// 0640, before the request when it differs from the last one; "{GRANTS0660}" writes it
// group-writable). A worker serves such requests with ZELVORA_ACCESS={A} of its own.
const std::string kGrants =
    "# the desk's traders\nalice trade {T}A {T}G\n\nbob read {T}W\ndesk trade *\n";
Lines Access(const std::string& user, const std::string& grants = kGrants, const Lines& more = {}) {
  Lines env = {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=65536", "ZELVORA_ACCESS={A}",
               "{GRANTS}" + grants, "REMOTE_USER=" + user};
  env.insert(env.end(), more.begin(), more.end());
  return env;
}
const std::string kNoOffers =
    "{RAW}Status: 503 Service Unavailable\nContent-Type: application/json\nCache-Control: "
    "no-store\n\n{\"status\":\"unavailable\",\"reason\":\"offer board missing\"}\n";
const std::string kNoStats =
    "{RAW}Status: 503 Service Unavailable\nContent-Type: text/plain\n\nno scoreboard: "
    "ZELVORA_STATS names none, or it was refused\n";
Lines Stats(const std::string& name) {
  return {"REQUEST_METHOD=GET", "ZELVORA_PROBE=metrics", "ZELVORA_STATS=" + name};
}
std::string Plan(const std::string& account) {
  return "<zelvora><method>setImplPlan</method><params><accountid>{T}" + account +
         "</accountid><param><symbol>EURUSD</symbol><ip1>1</ip1></param></params></zelvora>";
}

const ProgramCase kCases[] = {
    {"version switch: the request is not read", kLimit, kBars, "{B}", "", {"-v"}},
    {"two arguments: the request is read",
     kLimit,
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing,
     {"-v", "x"}},
    {"no dash", kLimit, kBars, kNoBars, "ShareMemory[pricebar.{T}" + kMissing, {"v"}},
    {"no environment", {}, kBars, "{B}", ""},
    {"no limit",
     {"CONTENT_LENGTH={L}"},
     kBars,
     "{B}",
     "zelvora: MAX_CONTENT_LENGTH is not set: every body is refused\n"},
    {"negative limit",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=-1"},
     kBars,
     "{B}",
     "zelvora: MAX_CONTENT_LENGTH \"-1\" is not a number above 0: read as -1\n"},
    {"a limit that is no number",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=64k\x1b"},
     kBars,
     "{B}",
     "zelvora: MAX_CONTENT_LENGTH \"64k\\x1B\" is not a number above 0: read as 64\n"},
    {"a length beyond 32 bits is refused, not cut",
     {"CONTENT_LENGTH=4294967386", "MAX_CONTENT_LENGTH=65536"},
     kBars,
     "{B}",
     ""},
    {"a limit beyond 32 bits is a limit",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=4294967396"},
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing},
    {"length equal to the limit",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH={L}"},
     kBars,
     "{B}",
     ""},
    {"length one under the limit",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH={L+1}"},
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing},
    {"numbers read as strtol reads them",
     {"CONTENT_LENGTH=  {L}xyz", "MAX_CONTENT_LENGTH= +{L+1}"},
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing},
    {"announced longer than sent: a cut body is not served",
     {"CONTENT_LENGTH=5000", "MAX_CONTENT_LENGTH=6000"},
     "<zelvora><method>getAccount</method></zelvora>",
     "{B}",
     "Request refused: body of 46 bytes where CONTENT_LENGTH announced 5000\n"},
    {"announced shorter: the period is cut",
     {"CONTENT_LENGTH={L-28}", "MAX_CONTENT_LENGTH=65536"},
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing.substr(1)},
    {"a body that cannot be allocated",
     {"CONTENT_LENGTH=1500000000", "MAX_CONTENT_LENGTH=2000000000"},
     "",
     "{B}",
     "filename[src/Main], line[90] malloc error. [12] Cannot allocate memory\n",
     {},
     true},
    // Whatever else runs out of memory ends that request only, with the banner; a worker serves the
    // next one.
    {"a body whose text does not fit in memory",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=100000000"},
     "<zelvora><method>getOrder</method><params><a>" + std::string(70 << 20, 'x') + "</a>",
     "{B}",
     "zelvora: request not served: std::bad_alloc\n",
     {},
     true},
    {"the request after a failure is served",
     kLimit,
     kBars,
     kNoBars,
     "ShareMemory[pricebar.{T}" + kMissing,
     {},
     true},
    {"names are case-sensitive", kLimit, "<zelvora><method>getaccount</method></zelvora>", "{B}",
     ""},
    {"root must be zelvora", kLimit,
     "<request><zelvora><method>getAccount</method></zelvora></request>", "{B}", ""},
    {"binary", kLimit, std::string("\0\xff<\x81<>>\0<!--", 13), "{B}", ""},
    {"a method with no answer", kLimit, "<zelvora><method>getPriceBar</method></zelvora>", "{B}",
     ""},
    {"the first method in document order", kLimit,
     "<zelvora><params><x><method>getAccount</method></x></params><method>getOrder</method></"
     "zelvora>",
     "[]", ""},
    {"unclosed, blanks around the name", kLimit, "<zelvora ><method> getAccount </method>", "[]",
     ""},
    // A key that cannot name a board is refused before any system call, and shown with its control
    // bytes escaped.
    {"a control byte in a key", kLimit,
     "<zelvora><method>getPriceBar</method><params><symbol>{T}\x1b[2J\n</symbol><period>1</"
     "period></params></zelvora>",
     kNoBars, "Semaphore[pricebar.{T}\\x1B[2J1] open failed.\n[22] Invalid argument\n"},
    {"a key longer than a name", kLimit,
     "<zelvora><method>getPriceBar</method><params><symbol>{T}" + std::string(250, 'x') +
         "</symbol><period>1</period></params></zelvora>",
     kNoBars,
     "Semaphore[pricebar.{T}" + std::string(250, 'x') + "1] open failed.\n[22] Invalid argument\n"},
    // Boards that cannot be read, each with its reason.
    {"a board anyone may write", Limit("SHM_OWNER={U}"), Accounts({"W"}), Unread({"W"}),
     "ShareMemory[account.{T}W] refused: segment writable by others (SHM_OWNER)\n"},
    {"a board its group may write", Limit("SHM_OWNER={U}"), Accounts({"Q"}), Unread({"Q"}),
     "ShareMemory[account.{T}Q] refused: segment writable by its group (SHM_OWNER)\n"},
    {"a board whose semaphore another user owns", Limit("SHM_OWNER={U}"), Accounts({"O"}),
     Unread({"O"}),
     "ShareMemory[account.{T}O] refused: semaphore owned by uid {V}, not {U} (SHM_OWNER)\n"},
    {"an owner that is no user", Limit("SHM_OWNER=no-such-user"), Accounts({"A"}), Unread({"A"}),
     "ShareMemory[account.{T}A] refused: SHM_OWNER names no user\n"},
    {"the largest uid", Limit("SHM_OWNER=4294967294"), Accounts({"A"}), Unread({"A"}),
     "ShareMemory[account.{T}A] refused: segment owned by uid {U}, not 4294967294 (SHM_OWNER)\n"},
    {"uid -1 is no uid", Limit("SHM_OWNER=4294967295"), Accounts({"A"}), Unread({"A"}),
     "ShareMemory[account.{T}A] refused: SHM_OWNER names no user\n"},
    {"a lock held past SHM_LOCK_MS", Limit("SHM_LOCK_MS=150"), Accounts({"H"}), Unread({"H"}),
     "ShareMemory[account.{T}H] lock held for more than 150 ms: board not read\n"},
    // What one request may cost is bounded; over a bound it is refused whole.
    {"a held board named 30 times is waited for once",
     Limit("SHM_LOCK_MS=150"),
     Accounts(k30Held),
     Unread(k30Held),
     "ShareMemory[account.{T}H] lock held for more than 150 ms: board not read\n",
     {},
     false,
     1000},
    {"the request's lock budget runs out",
     {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=65536", "SHM_LOCK_MS=150", "SHM_LOCK_TOTAL_MS=100"},
     Accounts({"H", "G", "H"}),
     Unread({"H", "G", "H"}),
     "ShareMemory[account.{T}H] lock held, and the request had 100 ms left of SHM_LOCK_TOTAL_MS: "
     "board not read\n"
     "ShareMemory[account.{T}G] lock held, and the request had 0 ms left of SHM_LOCK_TOTAL_MS: "
     "board not read\n",
     {},
     false,
     1000},
    {"more ids than MAX_REQUEST_IDS", Limit("MAX_REQUEST_IDS=2"), Accounts({"A", "A", "A"}), "{B}",
     "Request refused: 3 ids, over MAX_REQUEST_IDS (2)\n"},
    {"more symbols than MAX_REQUEST_IDS", Limit("MAX_REQUEST_IDS=1"),
     "<zelvora><method>getOffer</method><params><symbol>A</symbol><symbol>B</symbol></params></"
     "zelvora>",
     "{B}", "Request refused: 2 ids, over MAX_REQUEST_IDS (1)\n"},
    {"more plans than MAX_REQUEST_IDS", Limit("MAX_REQUEST_IDS=1"),
     "<zelvora><method>setImplPlan</method><params><accountid>1</accountid><param><symbol>A</"
     "symbol></param><param><symbol>B</symbol></param></params></zelvora>",
     "{B}", "Request refused: 2 plans, over MAX_REQUEST_IDS (1)\n"},
    {"diagnostics past MAX_LOG_BYTES are counted, not written", Limit("MAX_LOG_BYTES=100"),
     Accounts({"M1", "M2", "M3"}), Unread({"M1", "M2", "M3"}),
     "ShareMemory[account.{T}M" + kMissing +
         "zelvora: 2 more diagnostics of this request dropped\n"},
    {"a board without its semaphore", kLimit, Accounts({"S"}), Unread({"S"}),
     "Semaphore[account.{T}S] open failed.\n[2] No such file or directory\n"},
    {"a board shorter than its size", kLimit, Accounts({"R"}), Unread({"R"}),
     "filename[src/desk/Zelvora], line[63] read error. [22] Invalid argument\n"},
    {"a count that does not fit", kLimit, Accounts({"B"}), Unread({"B"}),
     "ShareMemory[account.{T}B] broken board: count 19 of 100 bytes does not fit 1812\n"},
    // Records are taken whole by their structure; one that is not a JSON object is left out and
    // named.
    {"records with nested members and braces in strings", kLimit, Accounts({"J"}),
     "[{\"status\":0, "
     "\"data\":{\"AccountID\":\"{T}J\",\"s\":\"},{\",\"n\":{\"AccountID\":\"no\"}}}]",
     "ShareMemory[account.{T}J] left out, not a JSON object: record 1, 2\n"},
    {"request bytes that are not UTF-8", kLimit, Accounts({"\xff\xc3\xa9"}),
     "[{\"status\":1, \"data\":{\"AccountID\":\"{T}\\ufffd\xc3\xa9\"}}]",
     "ShareMemory[account.{T}\\xFF\xc3\xa9" + kMissing.substr(1)},
    // Who may see and change what: the grants file names each trader's accounts.
    {"access: price bars for anyone the file names", Access("bob"),
     "<zelvora><method>getPriceBar</method><params><symbol>{T}P</symbol><period>1</period></"
     "params></zelvora>",
     "{\"status\":0, \"data\":[{\"x\":\"%d %s %n 100%\"}]}", ""},
    {"access: no REMOTE_USER, and no byte of the body read",
     {"CONTENT_LENGTH={L+10}", "MAX_CONTENT_LENGTH=65536", "ZELVORA_ACCESS={A}",
      "{GRANTS}" + kGrants},
     Accounts({"A"}),
     "Status: 403 Forbidden\n{B}",
     "Access refused: no REMOTE_USER (the web server authenticates no one)\n"},
    {"access: a reader cannot write", Access("bob", kGrants, {"HTTP_X_ZELVORA_REQUEST=1"}),
     Plan("W"), "{B}", "Access refused: user bob may not trade account {T}W: nothing written\n"},
    {"access: a write without the page's header", Access("alice"), Plan("A"), "{B}",
     "Access refused: setImplPlan of user alice without X-Zelvora-Request: 1: nothing written\n"},
    {"access: a write from another site",
     Access(
         "alice", kGrants,
         {"HTTP_X_ZELVORA_REQUEST=1", "HTTP_ORIGIN=http://evil.example", "HTTP_HOST=desk.example"}),
     Plan("A"), "{B}",
     "Access refused: setImplPlan of user alice from Origin http://evil.example, not this site "
     "(desk.example): nothing written\n"},
    {"access: a write from this host without TLS to a site with it",
     Access("alice", kGrants,
            {"HTTP_X_ZELVORA_REQUEST=1", "HTTP_ORIGIN=http://desk.example",
             "HTTP_HOST=desk.example", "HTTPS=on"}),
     Plan("A"), "{B}",
     "Access refused: setImplPlan of user alice from Origin http://desk.example, not this site "
     "(desk.example): nothing written\n"},
    {"access: a write with an Origin and no Host",
     Access("alice", kGrants, {"HTTP_X_ZELVORA_REQUEST=1", "HTTP_ORIGIN=http://"}), Plan("A"),
     "{B}",
     "Access refused: setImplPlan of user alice from Origin http://, not this site (no Host): "
     "nothing written\n"},
    {"access: a file replaced by rename is read anew", Access("carol", "carol read {T}A\n"),
     Accounts({"A"}), "[{\"status\":0, \"data\":{\"AccountID\":\"{T}A\"}}]", ""},
    {"access: a malformed file refuses everyone, naming the line",
     Access("carol", "carol read {T}A\ncarol write {T}A\n"), Accounts({"A"}),
     "Status: 500 Internal Server Error\n{B}",
     "zelvora: access file {A} line 2: expected USER read|trade ACCOUNT...: every request "
     "refused\n"},
    {"access: a file others may write", Access("carol", "{GRANTS0660}carol read {T}A\n"),
     Accounts({"A"}), "Status: 500 Internal Server Error\n{B}",
     "zelvora: access file {A} may be written by others than its owner: every request refused\n"},
    // The web server's probes: ZELVORA_PROBE, set per location, with a GET (or a HEAD).
    {"health: by HEAD as by GET",
     {"REQUEST_METHOD=HEAD", "ZELVORA_PROBE=health"},
     "",
     kNoOffers,
     "ShareMemory[offer" + kMissing.substr(1)},
    {"metrics: behind the grants file",
     Access("carol", kGrants, {"REQUEST_METHOD=GET", "ZELVORA_PROBE=metrics"}), "",
     "Status: 403 Forbidden\n{B}", "Access refused: user carol is not in {A}\n"},
    {"metrics: a scoreboard others may write", Access("desk", kGrants, Stats("{S}/open")), "",
     kNoStats, "zelvora: ZELVORA_STATS {S}/open may be written by others: nothing counted\n"},
    {"metrics: a file that is no scoreboard", Access("desk", kGrants, Stats("{S}/small")), "",
     kNoStats,
     "zelvora: ZELVORA_STATS {S}/small is not a scoreboard (its size): nothing counted\n"},
    {"metrics: a scoreboard another user made", Access("desk", kGrants, Stats("{S}/other")), "",
     kNoStats, "zelvora: ZELVORA_STATS {S}/other belongs to another user: nothing counted\n"},
    {"metrics: a folder where a neighbour could make the scoreboard first",
     Access("desk", kGrants, Stats("/dev/shm/{T}-stats")), "", kNoStats,
     "zelvora: ZELVORA_STATS /dev/shm/{T}-stats has a folder others may write: nothing counted\n"},
    {"metrics: a path that is not absolute", Access("desk", kGrants, Stats("{T}")), "", kNoStats,
     "zelvora: ZELVORA_STATS {T} is no absolute path of a file: nothing counted\n"},
};

// `var` with "{L}", "{L+N}" or "{L-N}" replaced by `length` plus N.
std::string WithLength(std::string var, size_t length) {
  const auto at = var.find("{L");
  if (at == std::string::npos) return var;
  const auto end = var.find('}', at);
  const long change = end > at + 2 ? std::stol(var.substr(at + 2, end - at - 2)) : 0;
  return var.replace(at, end - at + 1, std::to_string(static_cast<long>(length) + change));
}

std::string Tagged(std::string text, const std::string& tag) {
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"{T}", tag},
                                    {"{U}", std::to_string(geteuid())},
                                    {"{V}", std::to_string(geteuid() + 10)},
                                    {"{A}", "/tmp/zelvora-access-" + tag},
                                    {"{S}", "/tmp/zelvora-stats-" + tag}}) {
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at))
      text.replace(at, 3, value);
  }
  return text;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_SHM();
    CShareMemory open;  // made as the desk's feeders make boards: anyone may write it
    ASSERT_EQ(open.Open(account_ + "W", kAccountBoard.size, false, false), 0);
    ASSERT_EQ(
        WriteBoard("pricebar." + tag_ + "P1", BoardImage(kPriceBarBoard.size, "     1    40", 0, "",
                                                         40, {"{\"x\":\"%d %s %n 100%\"}"})),
        0);
    for (const char* suffix : {"A", "H", "G", "S", "R", "W", "O", "Q"})
      ASSERT_EQ(
          WriteBoard(account_ + suffix, BoardImage(kAccountBoard.size, "     1    60", 0, "", 60,
                                                   {"{\"AccountID\":\"" + tag_ + "A\"}"})),
          0);
    ASSERT_EQ(WriteBoard(account_ + "B",
                         BoardImage(kAccountBoard.size, "    19   100", 0, "", 100, {"{}"})),
              0);
    ASSERT_EQ(WriteBoard(account_ + "J",
                         BoardImage(kAccountBoard.size, "     4   100", 0, "", 100,
                                    {"{\"AccountID\":\"" + tag_ + "\",\"n\":{\"a\":1}}\t\n", "",
                                     "{\"AccountID\":\"" + tag_ + "J\"",
                                     "{\"AccountID\":\"" + tag_ +
                                         "J\",\"s\":\"},{\",\"n\":{\"AccountID\":\"no\"}}"})),
              0);
    ASSERT_EQ(sem_unlink((account_ + "S").c_str()) +
                  truncate(("/dev/shm/shm." + account_ + "R").c_str(), 600),
              0);
    ASSERT_EQ(chmod(("/dev/shm/shm." + account_ + "Q").c_str(), 0660) +
                  chown(CShareMemory::SemaphorePath(account_ + "O").c_str(), geteuid() + 10, -1),
              0);
    ASSERT_EQ(mkdir(Tagged("{S}", tag_).c_str(), 0700), 0);  // as a pool's folder of its own
    for (const auto& [name, size, mode, owner] : {std::tuple{"/open", 4096, 0666, 0},
                                                  {"/small", 100, 0600, 0},
                                                  {"/other", 4096, 0600, 10}}) {  // not scoreboards
      const std::string path = Tagged("{S}", tag_) + name;
      std::ofstream(path) << std::string(size, '\0');
      ASSERT_EQ(chmod(path.c_str(), mode) + chown(path.c_str(), geteuid() + owner, -1), 0);
    }
    for (int i = 0; i < 2; ++i)
      ASSERT_EQ(
          held_[i].Open(account_ + "HG"[i], kAccountBoard.size, false, false) + held_[i].Lock(),
          0);  // as by a writer that died holding it
  }
  void TearDown() override {
    RemoveBoardsMarked(tag_);
    RunShell("rm -rf " + Tagged("{S}", tag_));
    std::remove(Tagged("{A}", tag_).c_str());
  }
  const std::string tag_ = "zt" + std::to_string(getpid()), account_ = "account." + tag_;
  CShareMemory held_[2];
};

TEST_F(Program, AnswersEveryCaseByteForByteInBothModesAndLeavesNoFile) {
  const std::string before = RunShell("ls /dev/shm").out;
  const std::string access = Tagged("{A}", tag_);
  CWorker worker, limitedWorker({}, kAddressLimit), guardedWorker({"ZELVORA_ACCESS=" + access});
  std::string grants;
  for (const CWorker* mode :
       {static_cast<const CWorker*>(nullptr), static_cast<const CWorker*>(&worker)}) {
    for (const ProgramCase& c : kCases) {
      if ((mode != nullptr && !c.args.empty()) || (c.limited && kAddressLimit == 0)) continue;
      const std::string body = Tagged(c.body, tag_),
                        what = std::string(c.what) + (mode ? " (FastCGI)" : " (CGI)");
      Lines env;
      for (const std::string& var : c.env) {
        if (var.rfind("{GRANTS}", 0) != 0) {
          env.push_back(WithLength(Tagged(var, tag_), body.size()));
        } else if (var != grants) {  // replaced as an operator should: whole, by rename
          grants = var;
          const bool writable = var.rfind("{GRANTS}{GRANTS0660}", 0) == 0;
          std::ofstream(access + ".new") << Tagged(var.substr(writable ? 20 : 8), tag_);
          ASSERT_EQ(chmod((access + ".new").c_str(), writable ? 0660 : 0640), 0);
          ASSERT_EQ(std::rename((access + ".new").c_str(), access.c_str()), 0);
        }
      }
      ProcessLaunch limited{ZELVORA_CGI, c.args, env, body, kAddressLimit};
      const auto start = std::chrono::steady_clock::now();
      const bool guarded = mode != nullptr && c.env.size() > 2 && c.env[2] == "ZELVORA_ACCESS={A}";
      const ProcessResult result = c.limited && !mode ? RunProcess(limited)
                                                      : RunProgram(env, body, c.args,
                                                                   c.limited ? &limitedWorker
                                                                   : guarded ? &guardedWorker
                                                                             : mode);
      const long took = MsSince(start);
      EXPECT_TRUE(c.withinMs == 0 || took < c.withinMs) << what << " took " << took << " ms";
      const auto banner = c.out.find("{B}");
      const std::string out = c.out.rfind("{RAW}", 0) == 0 ? c.out.substr(5)
                              : banner == std::string::npos
                                  ? kAnswerHeader + Tagged(c.out, tag_)
                                  : c.out.substr(0, banner) + kBannerAnswer;
      EXPECT_EQ(result.out, out) << what;
      EXPECT_EQ(result.err, Tagged(c.err, tag_)) << what;
      EXPECT_EQ(result.status, 0) << what;
    }
  }
  EXPECT_EQ(worker.Stop(), 0) << "SIGTERM ends a worker cleanly";
  EXPECT_EQ(limitedWorker.Stop(), 0) << "SIGTERM ends a worker that ran out of memory cleanly";
  EXPECT_EQ(RunShell("ls /dev/shm").out, before) << "no request leaves a file in /dev/shm";
}

// What a worker itself saw decides: offers unchanged past OFFER_STALE_SECONDS (the feeder stopped)
// make the host unavailable, the next change ends it; a verdict stands for a second, so a crowd of
// checks waits for a held lock once; a database that does not answer within a second is a 503.
TEST_F(Program, HealthSeesTheOffersStandStill) {
  const Lines env = {"REQUEST_METHOD=GET", "ZELVORA_PROBE=health", "OFFER_STALE_SECONDS=1",
                     "SHM_LOCK_MS=300"};
  const auto offers = [](const std::string& bid) {
    return WriteBoard("offer", BoardImage(kOfferBoard.size, "     1   100", kOfferBoard.indexSize,
                                          "", 100, {"{\"Bid\":" + bid + "}"}));
  };
  long took = 0;
  const auto health = [&took](const CWorker* worker,
                              const Lines& env) {  // the answer after its header
    const auto start = std::chrono::steady_clock::now();
    const std::string out = RunProgram(env, "", {}, worker).out;
    took = MsSince(start);
    return out.substr(std::min(out.size(), out.find("\n\n") + 2));
  };
  const auto unavailable = [](const std::string& why) {
    return "{\"status\":\"unavailable\",\"reason\":\"" + why + "\"}\n";
  };
  const std::string fresh =
      "{\"status\":\"ok\",\"offers_unchanged_s\":0,\"database\":\"unused\"}\n";
  CWorker worker, locked;
  ASSERT_EQ(offers("1.1"), 0);
  EXPECT_EQ(health(&worker, env), fresh) << "a first check finds the offers changed";
  usleep(2100000);
  EXPECT_EQ(health(&worker, env), unavailable("offer board unchanged for 2 s"));
  ASSERT_EQ(offers("1.2"), 0);
  usleep(1000000);
  EXPECT_EQ(health(&worker, env), fresh) << "offers that moved again";
  CShareMemory held;  // as by a writer that died holding it
  ASSERT_EQ(held.Open("offer", kOfferBoard.size, false, false) + held.Lock(), 0);
  for (const bool again : {false, true}) {
    EXPECT_EQ(health(&locked, env), unavailable("offer board locked longer than SHM_LOCK_MS"));
    EXPECT_TRUE(again ? took < 200 : took >= 300 && took < 800)
        << (again ? "the verdict of a second ago, without waiting: "
                  : "waited SHM_LOCK_MS, no longer: ")
        << took << " ms";
  }
  ASSERT_EQ(held.Unlock(), 0);
  int silent = -1;  // takes connections, never says a word
  Lines database = env;
  database.push_back("MYSQL_HOST=127.0.0.1:" + std::to_string(FreePort(&silent)));
  EXPECT_EQ(health(nullptr, database), unavailable("database not answering"));
  EXPECT_LT(took, 2500) << "a second for the database's answer";
  const std::string port = database.back().substr(11),
                    ask = RequestBody("getAccount", "<accountid>1</accountid>");
  CWorker patient({"MYSQL_CONNECT_TIMEOUT=2", "MYSQL_TIMEOUT=2", "SHM_SEL_DB=1", "MYSQL_USER=desk",
                   "MYSQL_DB=desk", "MYSQL_HOST=" + port});
  EXPECT_EQ(health(&patient, env), unavailable("database not answering"));
  const auto start = std::chrono::steady_clock::now();
  const std::string asked = RunProgram(RequestEnv(ask), ask, {}, &patient).out;
  EXPECT_GE(MsSince(start), 1800)
      << "a check leaves a worker's own database timeouts to its requests: " << asked;
  close(silent);
  RemoveBoardsMarked("offer");
}

// The pool's workers count their starts, and those that replace a worker that ended apart.
TEST_F(Program, CountsWorkersStartedAndThoseThatReplacedOne) {
  const std::string stats = Tagged("{S}", tag_) + "/workers";
  CWorker first({"ZELVORA_STATS=" + stats}),
      replacing({"ZELVORA_STATS=" + stats, "ZELVORA_REPLACED=1"});
  RunProgram(Stats(stats), "", {}, &first);  // each counts itself before it serves
  const std::string text = RunProgram(Stats(stats), "", {}, &replacing).out;
  for (const char* line :
       {"\nzelvora_worker_starts_total 2\n", "\nzelvora_worker_restarts_total 1\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// One line a request in both modes, the caller's name quoted with every byte that could end the
// line or start a field escaped: a request cannot write a line of its own. The health check names
// no caller, whatever name comes with it; a log renamed away (rotated) is followed by a new file.
TEST_F(Program, LogsOneLineARequestThatNoRequestForges) {
  const std::string log = "/tmp/zelvora-log-" + tag_, body = Tagged(Accounts({"A"}), tag_);
  const Lines env = RequestEnv(
      body, {"ZELVORA_REQUEST_LOG=" + log, "REMOTE_USER=x\" method=setImplPlan\ntime=0\\"});
  const Lines health = {"REQUEST_METHOD=GET", "ZELVORA_PROBE=health", "ZELVORA_REQUEST_LOG=" + log,
                        "REMOTE_USER=mallory"};
  const std::string forged =
      "time= user=\"x\\x22 method=setImplPlan\\x0Atime=0\\x5C\" method=getAccount ids=1 "
      "outcome=answered boards=answered db=none";
  const auto lines =
      [](const std::string& file) {  // time and duration vary; every other field is fixed
        std::vector<std::string> fields;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
          const size_t user = line.find(" user="), us = line.find(" us="),
                       after = line.find(' ', us + 1);
          fields.push_back(line.substr(0, 5) + line.substr(user, us - user) + line.substr(after));
        }
        return fields;
      };
  CWorker worker;
  RunProgram(env, body);
  RunProgram(env, body, {}, &worker);
  RunProgram(health, "", {}, &worker);
  ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
  usleep(1100000);
  RunProgram(env, body, {}, &worker);
  EXPECT_EQ(lines(log + ".1"),
            (std::vector<std::string>{
                forged, forged,
                "time= user=- method=health ids=0 outcome=unavailable boards=failed db=none"}))
      << "CGI, worker, health";
  EXPECT_EQ(lines(log), std::vector<std::string>{forged}) << "after the rotation";
  std::remove(log.c_str());
  std::remove((log + ".1").c_str());
}

}  // namespace
