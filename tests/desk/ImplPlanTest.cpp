// getImplPlan and setImplPlan against the real server: what is written is
// read back from the table, and a transaction that fails half way leaves
// every row as it was.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

class ImplPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    RunSql(db_, {"INSERT INTO `ImplPlan` (AccountID, Symbol, IP1, IP2, IP3) VALUES "
                 "('" + id_ + "', 'USDJPY', '0.3', '0.8', '20'), ('" + id_ + "', 'EURUSD', '0.5', "
                 "'1.0', '30')"});
  }
  void TearDown() override {
    if (!db_.host.empty()) RunSql(db_, {"DELETE FROM `ImplPlan` WHERE AccountID='" + id_ + "'"});
  }

  std::string Ask(const std::string& method, const std::string& params) {
    CgiOptions options;
    options.database = &db_;
    const ProcessResult result = RunCgi(RequestBody(method, params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  std::vector<std::string> Plans() {
    return QueryRows(db_, "SELECT Symbol, IP1, IP2, IP3, upd_user_id FROM `ImplPlan` WHERE "
                          "AccountID='" + id_ + "' ORDER BY Symbol");
  }

  static std::string Plan(const std::string& symbol, const std::vector<std::string>& values) {
    std::string json = "{\"Symbol\":\"" + symbol + "\"";
    for (int i = 1; i <= 20; ++i) {
      json += ",\"IP" + std::to_string(i) + "\":\"" +
              (i <= static_cast<int>(values.size()) ? values[i - 1] : "") + "\"";
    }
    return json + "}";
  }

  DatabaseSettings db_;
  const std::string id_ = "zt" + std::to_string(getpid());
};

TEST_F(ImplPlanTest, ListsTheAccountsPlansBySymbol) {
  EXPECT_EQ(Ask("getImplPlan", "<accountid>" + id_ + "</accountid>"),
            "[" + Plan("EURUSD", {"0.5", "1.0", "30"}) + "," + Plan("USDJPY", {"0.3", "0.8", "20"}) +
                "]");
  EXPECT_EQ(Ask("getImplPlan", "<accountid>" + id_ + "x</accountid>"), "[]");
  EXPECT_EQ(Ask("getImplPlan", "<accountid></accountid>"), "[]");
}

TEST_F(ImplPlanTest, WritesPresentValuesFromTheFirstColumnOn) {
  EXPECT_EQ(Ask("setImplPlan", "<accountid>" + id_ + "</accountid>"
                               "<param><symbol>EURUSD</symbol><ip2>2.5</ip2><ip5>60</ip5>"
                               "<loginid>trader7</loginid></param>"
                               "<param><loginid>no symbol</loginid></param>"
                               "<param><symbol>USDJPY</symbol><ip1>0.4</ip1></param>"),
            "ok");
  EXPECT_EQ(Plans(), (std::vector<std::string>{"EURUSD|2.5|60|30|trader7", "USDJPY|0.4|0.8|20|"}));
}

TEST_F(ImplPlanTest, AFailingStatementRollsBackTheWholeTransaction) {
  const std::vector<std::string> before = Plans();
  const std::string tooLong(70, '9');  // the columns hold 64
  EXPECT_EQ(Ask("setImplPlan", "<accountid>" + id_ + "</accountid>"
                               "<param><symbol>EURUSD</symbol><ip1>1.1</ip1></param>"
                               "<param><symbol>USDJPY</symbol><ip1>" + tooLong + "</ip1></param>"),
            "(banner)");
  EXPECT_EQ(Plans(), before);
}

}  // namespace
