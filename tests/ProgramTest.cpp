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

#include <cstdio>
#include <fstream>
#include <regex>

#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

const std::string kBars = RequestBody("getPriceBar", "<symbol>{T}</symbol><period>1</period>"),
                  kNoBars = "{\"status\":1, \"data\":[]}",
                  kMissing = "] open failed.\n[2] No such file or directory\n";

struct ProgramCase {
  const char* what;
  Lines env;  // the whole environment; "{L}", "{L+N}", "{L-N}": the body's length (plus N)
  std::string out = "{B}";  // "{B}" stands for the banner answer, header included
  std::string err, body = kBars;
  bool limited = false;  // run by a worker of kAddressLimit bytes of address space
};

#ifdef ZELVORA_SANITIZED
const long kAddressLimit = 0;  // the sanitizer's runtime cannot start under an address-space limit
#else
const long kAddressLimit = 128L << 20;
#endif

const Lines kLimit = {"CONTENT_LENGTH={L}", "MAX_CONTENT_LENGTH=65536"};
Lines Limit(const std::string& more) { return {kLimit[0], kLimit[1], more}; }
// Price bars of a board nobody made: the request was read and served.
ProgramCase Bars(const char* what, const Lines& env, bool limited = false) {
  return {what, env, kNoBars, "ShareMemory[pricebar.{T}1" + kMissing, kBars, limited};
}
// getAccount naming account.{T}<suffix> for each suffix; with `unread`, its answer when those
// boards cannot be read.
std::string Accounts(const Lines& suffixes, bool unread = false) {
  std::string params;
  Lines ids;
  for (const std::string& suffix : suffixes) {
    params += "<accountid>{T}" + suffix + "</accountid>";
    ids.push_back("{T}" + suffix);
  }
  return unread ? NoAccount(ids) : RequestBody("getAccount", params);
}
ProgramCase Unreadable(const char* what, const Lines& env, const std::string& suffix,
                       const std::string& why, const std::string& reader = "ShareMemory") {
  return {what, env, Accounts({suffix}, true), reader + "[account.{T}" + suffix + "] " + why + "\n",
          Accounts({suffix})};
}
// A request of `user` under the grants file {A}, which holds `grants` (written by rename, mode
// 0640, before the request when it differs from the last one; "{GRANTS0660}" writes it
// group-writable). A worker serves such requests with ZELVORA_ACCESS={A} of its own.
const std::string kGrants =
    "# the desk's traders\nalice trade {T}A\n\nbob read {T}W\ndesk trade *\n";
Lines Access(const std::string& user, const Lines& more = {}, const std::string& grants = kGrants) {
  Lines env = {kLimit[0], kLimit[1], "ZELVORA_ACCESS={A}", "{GRANTS}" + grants,
               "REMOTE_USER=" + user};
  env.insert(env.end(), more.begin(), more.end());
  return env;
}
std::string Plan(const std::string& account) {
  return RequestBody("setImplPlan",
                     "<accountid>{T}" + account + "</accountid>" + Param("EURUSD", "<ip1>1</ip1>"));
}
// alice's plan for her account from the page of `origin`, refused for another site's.
ProgramCase Foreign(const char* what, const std::string& origin, Lines more,
                    const std::string& site = "desk.example") {
  more.insert(more.begin(), {"HTTP_X_ZELVORA_REQUEST=1", "HTTP_ORIGIN=" + origin});
  return {what, Access("alice", more), "{B}",
          "Access refused: setImplPlan of user alice from Origin " + origin + ", not this site (" +
              site + "): nothing written\n",
          Plan("A")};
}
// The cases by concern; a failing row is named "concern: row (mode)".
const std::pair<const char*, std::vector<ProgramCase>> kConcerns[] = {
    // CONTENT_LENGTH against MAX_CONTENT_LENGTH, each compared whole (64 bits); a body is served
    // only when it is all there.
    {"body",
     {
         {"no environment", {}},
         {"no limit",
          {"CONTENT_LENGTH={L}"},
          "{B}",
          "zelvora: MAX_CONTENT_LENGTH is not set: every body is refused\n"},
         {"a length past 32 bits", {"CONTENT_LENGTH=4294967386", kLimit[1]}},
         Bars("a limit past 32 bits", {kLimit[0], "MAX_CONTENT_LENGTH=4294967396"}),
         {"length equal to the limit", {kLimit[0], "MAX_CONTENT_LENGTH={L}"}},
         // Blanks and a sign before a number, and text after a length, as strtol reads them.
         Bars("length one under the limit",
              {"CONTENT_LENGTH=  {L}xyz", "MAX_CONTENT_LENGTH= +{L+1}"}),
         {"a body shorter than announced, not served",
          {"CONTENT_LENGTH=5000", "MAX_CONTENT_LENGTH=6000"},
          "{B}",
          "Request refused: body of 46 bytes where CONTENT_LENGTH announced 5000\n",
          RequestBody("getAccount", {})},
         {"a body longer than announced, cut",
          {"CONTENT_LENGTH={L-28}", kLimit[1]},
          kNoBars,
          "ShareMemory[pricebar.{T}" + kMissing},
     }},
    // Whatever runs out of memory ends that request only, with the banner; a worker serves the
    // next one.
    {"memory",
     {
         {"a body that cannot be allocated",
          {"CONTENT_LENGTH=1500000000", "MAX_CONTENT_LENGTH=2000000000"},
          "{B}",
          "filename[src/Main], line[90] malloc error. [12] Cannot allocate memory\n",
          "",
          true},
         {"a text past memory",
          {kLimit[0], "MAX_CONTENT_LENGTH=100000000"},
          "{B}",
          "zelvora: request not served: std::bad_alloc\n",
          "<zelvora><method>getOrder</method><params><a>" + std::string(70 << 20, 'x') + "</a>",
          true},
         Bars("the next request, same worker", kLimit, true),
     }},
    {"request",
     {
         {"names are case-sensitive", kLimit, "{B}", "", RequestBody("getaccount", {})},
         {"root must be zelvora", kLimit, "{B}", "",
          "<request>" + RequestBody("getAccount", {}) + "</request>"},
         {"binary", kLimit, "{B}", "", std::string("\0\xff<\x81<>>\0<!--", 13)},
         // A key that cannot name a board is refused before any system call, and shown with its
         // control bytes escaped.
         {"a control byte in a key", kLimit, kNoBars,
          "Semaphore[pricebar.{T}\\x1B[2J1] open failed.\n[22] Invalid argument\n",
          RequestBody("getPriceBar", "<symbol>{T}\x1b[2J\n</symbol><period>1</period>")},
         {"request bytes not UTF-8", kLimit,
          "[{\"status\":1, \"data\":{\"AccountID\":\"{T}\\ufffd\xc3\xa9\"}}]",
          "ShareMemory[account.{T}\\xFF\xc3\xa9" + kMissing, Accounts({"\xff\xc3\xa9"})},
     }},
    // Boards that may not be read under SHM_OWNER (the segment's modes, the semaphore's owner),
    // or not now.
    {"boards",
     {
         {"refused under SHM_OWNER", Limit("SHM_OWNER={U}"), Accounts({"W", "Q", "O"}, true),
          "ShareMemory[account.{T}W] refused: segment writable by others (SHM_OWNER)\n"
          "ShareMemory[account.{T}Q] refused: segment writable by its group (SHM_OWNER)\n"
          "ShareMemory[account.{T}O] refused: semaphore owned by uid {V}, not {U} (SHM_OWNER)\n",
          Accounts({"W", "Q", "O"})},
         Unreadable("uid -1 is no uid", Limit("SHM_OWNER=4294967295"), "A",
                    "refused: SHM_OWNER names no user"),
         Unreadable("a lock held past SHM_LOCK_MS", Limit("SHM_LOCK_MS=150"), "H",
                    "lock held for more than 150 ms: board not read"),
         // The whole request's wait is bounded too: a board waits at most what is left of it.
         Unreadable(
             "SHM_LOCK_TOTAL_MS",
             {kLimit[0], kLimit[1], "SHM_LOCK_MS=150", "SHM_LOCK_TOTAL_MS=100"}, "H",
             "lock held, and the request had 100 ms left of SHM_LOCK_TOTAL_MS: board not read"),
         Unreadable("a board without its semaphore", kLimit, "S",
                    "open failed.\n[2] No such file or directory", "Semaphore"),
         {"a board shorter than its size", kLimit, Accounts({"R"}, true),
          "filename[src/desk/Zelvora], line[63] read error. [22] Invalid argument\n",
          Accounts({"R"})},
     }},
    // Who may see and change what: the grants file names each trader's accounts.
    {"access",
     {
         {"a reader", Access("bob"), "{\"status\":0, \"data\":[{\"x\":\"%d %s %n 100%\"}]}", "",
          RequestBody("getPriceBar", "<symbol>{T}P</symbol><period>1</period>")},
         {"no REMOTE_USER, no byte read",
          {"CONTENT_LENGTH={L+10}", kLimit[1], "ZELVORA_ACCESS={A}", "{GRANTS}" + kGrants},
          "Status: 403 Forbidden\n{B}",
          "Access refused: no REMOTE_USER (the web server authenticates no one)\n",
          Accounts({"A"})},
         {"a reader's write", Access("bob", {"HTTP_X_ZELVORA_REQUEST=1"}), "{B}",
          "Access refused: user bob may not trade account {T}W: nothing written\n", Plan("W")},
         {"no X-Zelvora-Request", Access("alice"), "{B}",
          "Access refused: setImplPlan of user alice without X-Zelvora-Request: 1: nothing "
          "written\n",
          Plan("A")},
         Foreign("another site", "http://desk.example.evil", {"HTTP_HOST=desk.example"}),
         Foreign("http Origin to an https site", "http://desk.example",
                 {"HTTP_HOST=desk.example", "HTTPS=on"}),
         Foreign("no Host", "http://", {}, "no Host"),
         {"a renamed file", Access("carol", {}, "carol read {T}A\n"),
          "[{\"status\":0, \"data\":{\"AccountID\":\"{T}A\"}}]", "", Accounts({"A"})},
         {"writable by others", Access("carol", {}, "{GRANTS0660}carol read {T}A\n"),
          "Status: 500 Internal Server Error\n{B}",
          "zelvora: access file {A} may be written by others than its owner: every request "
          "refused\n",
          Accounts({"A"})},
         // The metrics probe answers the desk's own users only.
         {"metrics of a user not granted",
          Access("carol", {"REQUEST_METHOD=GET", "ZELVORA_PROBE=metrics"}),
          "Status: 403 Forbidden\n{B}", "Access refused: user carol is not in {A}\n", ""},
     }},
};

// `var` with "{L}", "{L+N}" or "{L-N}" replaced by `length` plus N.
std::string WithLength(std::string var, long length) {
  std::smatch n;
  if (!std::regex_search(var, n, std::regex("\\{L([-+]\\d+)?\\}"))) return var;
  return var.replace(n.position(), n.length(),
                     std::to_string(length + (n[1].matched ? std::stol(n[1]) : 0)));
}

std::string Tagged(std::string text, const std::string& tag) {
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"{T}", tag},
                                    {"{U}", std::to_string(geteuid())},
                                    {"{V}", std::to_string(geteuid() + 10)},
                                    {"{A}", "/tmp/zelvora-access-" + tag}}) {
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
    for (const char* suffix : {"A", "H", "S", "W", "O", "Q", "R"})
      ASSERT_EQ(
          WriteBoard(account_ + suffix, BoardImage(kAccountBoard.size, "     1    60", 0, "", 60,
                                                   {"{\"AccountID\":\"" + tag_ + "A\"}"})),
          0);
    ASSERT_EQ(sem_unlink((account_ + "S").c_str()) +
                  truncate(("/dev/shm/shm." + account_ + "R").c_str(), 600) +
                  chmod(("/dev/shm/shm." + account_ + "Q").c_str(), 0660) +
                  chown(CShareMemory::SemaphorePath(account_ + "O").c_str(), geteuid() + 10, -1),
              0);
    // As by a writer that died holding it.
    ASSERT_EQ(held_.Open(account_ + "H", kAccountBoard.size, false, false) + held_.Lock(), 0);
  }
  void TearDown() override {
    RemoveBoardsMarked(tag_);
    std::remove(Tagged("{A}", tag_).c_str());
  }
  const std::string tag_ = "zt" + std::to_string(getpid()), account_ = "account." + tag_;
  CShareMemory held_;
};

TEST_F(Program, AnswersEveryCaseByteForByteInBothModesAndLeavesNoFile) {
  const std::string before = RunShell("ls /dev/shm").out, access = Tagged("{A}", tag_);
  // Who calls, and what their browser sent, come from the request alone; the grants file from the
  // worker's own.
  CWorker worker, limitedWorker({}, kAddressLimit),
      guardedWorker({"ZELVORA_ACCESS=" + access, "REMOTE_USER=desk", "HTTP_X_ZELVORA_REQUEST=1"});
  std::string grants;
  for (const CWorker* mode : std::initializer_list<const CWorker*>{nullptr, &worker}) {
    for (const auto& [concern, cases] : kConcerns) {
      for (const ProgramCase& c : cases) {
        // A worker of its own runs the rows that run out of memory (as a CGI program would).
        if (c.limited && (!mode || kAddressLimit == 0)) continue;
        const std::string body = Tagged(c.body, tag_), what = std::string(concern) + ": " + c.what +
                                                              (mode ? " (FastCGI)" : " (CGI)");
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
        const bool guarded =
            mode != nullptr && c.env.size() > 2 && c.env[2] == "ZELVORA_ACCESS={A}";
        const ProcessResult result = RunProgram(env, body, {},
                                                c.limited ? &limitedWorker
                                                : guarded ? &guardedWorker
                                                          : mode);
        const auto banner = c.out.find("{B}");
        const std::string out = banner == std::string::npos
                                    ? kAnswerHeader + Tagged(c.out, tag_)
                                    : c.out.substr(0, banner) + kBannerAnswer;
        EXPECT_EQ(result.out, out) << what;
        EXPECT_EQ(result.err, Tagged(c.err, tag_)) << what;
        EXPECT_EQ(result.status, 0) << what;
      }
    }
  }
  const std::string body = Tagged(Accounts({"A"}), tag_);
  const ProcessResult other =
      RunProgram(RequestEnv(body, {"REMOTE_USER=carol", "ZELVORA_ACCESS=/dev/null"}), body, {},
                 &guardedWorker);
  EXPECT_EQ(other.out + other.err, "Status: 403 Forbidden\n" + std::string(kBannerAnswer) +
                                       "Access refused: user carol is not in " + access + "\n")
      << "a request's own ZELVORA_ACCESS";
  EXPECT_EQ(worker.Stop(), 0) << "SIGTERM ends a worker cleanly";
  EXPECT_EQ(limitedWorker.Stop(), 0) << "SIGTERM ends a worker that ran out of memory cleanly";
  EXPECT_EQ(RunShell("ls /dev/shm").out, before) << "no request leaves a file in /dev/shm";
}

}  // namespace
