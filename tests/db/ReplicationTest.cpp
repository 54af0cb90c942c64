// The program against a replicated pair of real servers (scripts/db-pair:
// a primary and a read_only replica following it), as a CGI program and
// through a worker, from one table of cases: host lists, writes only where
// they are accepted, failover when the primary stops, and a server that
// accepts and never answers, or stops answering, costing one timeout.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "support/Desk.h"

namespace {

struct Pair {
  std::string primary, replica, blackHole, dir;
  int listener = -1;
} pair;

ProcessResult PairScript(const std::string& command) {
  return RunShell("ZELVORA_PAIR_DIR=" + pair.dir + " ZELVORA_PAIR_PORT=" + pair.primary.substr(10) +
                  " ZELVORA_PAIR_REPLICA_PORT=" + pair.replica.substr(10) +
                  " " ZELVORA_SOURCE_DIR "/scripts/db-pair " + command);
}

// The one plan row: setImplPlan's params writing `value`, and getImplPlan's answer holding it.
const std::string kPlan = "<accountid>zr7</accountid>";
std::string Plan(const std::string& value) {
  return kPlan + Param("EURUSD", "<ip1>" + value + "</ip1>");
}
std::string Shown(const std::string& value) { return "[" + PlanJson("EURUSD", {value}) + "]"; }

class Replication : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    pair.dir = "/tmp/zelvora-pair-" + std::to_string(getpid());
    pair.primary = "127.0.0.1:" + std::to_string(FreePort());
    do pair.replica = "127.0.0.1:" + std::to_string(FreePort());
    while (pair.replica == pair.primary);
    pair.blackHole = "127.0.0.1:" + std::to_string(FreePort(&pair.listener));
    const ProcessResult start =
        PairScript("start && ZELVORA_DB_DIR=" + pair.dir +
                   "/primary " ZELVORA_SOURCE_DIR
                   "/scripts/db-local sql -e \"INSERT INTO \\`ImplPlan\\` (AccountID, Symbol, IP1) "
                   "VALUES ('zr7', 'EURUSD', '1')\"");
    ASSERT_EQ(start.status, 0) << start.out << start.err;
    ASSERT_EQ(PairScript("synced").status, 0);
  }
  static void TearDownTestSuite() {
    close(pair.listener);
    PairScript("remove");
  }
  void SetUp() override { REQUIRE_DATABASE(); }
  // A request through the mode under test, MYSQL_HOST `hosts`, and `env`.
  Reply Run(const std::string& method, const std::string& params, const std::string& hosts,
            Lines env = {}) {
    env.insert(env.end(), {"MYSQL_CONNECT_TIMEOUT=1", "MYSQL_TIMEOUT=1"});
    return Ask({method, params, "1", Call::kServer, hosts, "", "", env, worker_.get()});
  }
  std::unique_ptr<CWorker> worker_ = GetParam() ? std::make_unique<CWorker>() : nullptr;
};

TEST_P(Replication, ReadsFromWhicheverAnswersWritesOnlyWhereAcceptedAndFailsOver) {
  const struct {
    const char* what;
    std::string method, params, hosts;
    Lines env;
    // err: a text the diagnostics hold
    std::string answer, err;
  } cases[] = {
      {"a black hole first",
       "getImplPlan",
       kPlan,
       pair.blackHole + "," + pair.replica,
       {},
       Shown("1"),
       ""},
      {"a write to the replica",
       "setImplPlan",
       Plan("2"),
       pair.replica,
       {},
       "(banner)",
       "--read-only"},
      {"a write sent to the primary",
       "setImplPlan",
       Plan("3"),
       pair.replica,
       {"MYSQL_WRITE_HOST=" + pair.primary},
       "ok",
       ""},
  };
  for (const auto& c : cases) {
    const auto before = std::chrono::steady_clock::now();
    const Reply reply = Run(c.method, c.params, c.hosts, c.env);
    EXPECT_EQ(reply.answer, c.answer) << c.what;
    EXPECT_NE(reply.result.err.find(c.err), std::string::npos)
        << c.what << ": " << reply.result.err;
    EXPECT_LT(MsSince(before), 2500) << c.what << ": one connect timeout at most";
  }
  const auto script = [](const char* command) {
    EXPECT_EQ(PairScript(command).status, 0) << command;
  };
  // Reads go on from the replica, which has the write, while the primary is down (a write that the
  // read-only replica took could not answer "ok").
  script("synced");
  const std::string hosts = pair.primary + "," + pair.replica;
  script("stop-primary");
  EXPECT_EQ(Run("getImplPlan", kPlan, hosts).answer, Shown("3"));
  script("start-primary");
  EXPECT_EQ(Run("setImplPlan", Plan("1"), hosts).answer, "ok") << "writes go to the primary again";
  // for the other mode's first row
  script("synced");
  // A primary that stops answering costs a request of two statements one timeout, not one each (nor
  // a connect after it): a hung server holds a request for MYSQL_TIMEOUT, not for ever.
  // A worker keeps its connection to the primary.
  Run("getOpenTradeA", kPlan, hosts);
  const pid_t primary = std::stoi(RunShell("cat " + pair.dir + "/primary/mysqld.pid").out);
  ASSERT_EQ(kill(primary, SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  Run("getOpenTradeA", kPlan, hosts);
  const long waited = MsSince(start);
  kill(primary, SIGCONT);
  EXPECT_LT(waited, 1800) << "one MYSQL_TIMEOUT or MYSQL_CONNECT_TIMEOUT";
}

INSTANTIATE_TEST_SUITE_P(Modes, Replication, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& mode) {
                           return mode.param ? "FastCgi" : "Cgi";
                         });

}  // namespace
