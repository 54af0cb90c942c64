// getAccount through the program: account boards, the Account table, and
// the choice between them.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

class GetAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    RunSql(db_, {"INSERT INTO `Account` (AccountID, AccountName, Balance, Equity, DayPL, GrossPL, "
                 "UsedMargin, UsableMargin, Hedging) VALUES ('" + id_ + "a', 'Test', 1000, 1010.5, "
                 "-2, 10.5, 40, 970.5, 'Y')"});
  }
  void TearDown() override {
    RemoveBoardsMarked(id_);
    if (!db_.host.empty()) RunSql(db_, {"DELETE FROM `Account` WHERE AccountID LIKE '" + id_ + "%'"});
  }

  std::string Ask(const std::string& params, const char* selDb = "1", const std::string& host = "") {
    CgiOptions options;
    options.shmSelDb = selDb;
    options.database = &db_;
    options.host = host;
    const ProcessResult result = RunCgi(RequestBody("getAccount", params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  std::string Accounts(const std::string& id) { return "<accountid>" + id + "</accountid>"; }

  DatabaseSettings db_;
  const std::string id_ = "zt" + std::to_string(getpid());
  const std::string fromTable_ = "{\"AccountID\":\"" + id_ +
                                 "a\",\"Balance\":1000.000000,\"Equity\":1010.500000,"
                                 "\"DayPL\":-2.000000,\"UsedMargin\":40.000000,"
                                 "\"UsableMargin\":970.500000,\"GrossPL\":10.500000,\"Hedging\":\"Y\"}";
};

TEST_F(GetAccountTest, BoardAnswersFirstAndFindsOnlyItsOwnRecord) {
  ScopedBoard board("account." + id_ + "7");
  const std::string seven = "{\"AccountID\":\"" + id_ + "7\",\"Balance\":7}";
  const std::string seventy = "{\"AccountID\":\"" + id_ + "70\",\"Balance\":70}";
  const std::string nested = "{\"AccountID\":\"" + id_ + "700\",\"Sub\":{\"a\":1},\"Balance\":700}";
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "     3   200", 0, "", 200,
                                               {nested, seventy, seven})),
            0);
  // The last record keeps its own brace; the closing quote keeps 7 from
  // matching 70 and 700.
  EXPECT_EQ(Ask(Accounts(id_ + "7")), "[{\"status\":0, \"data\":" + seven + "}]");
  ScopedBoard second("account." + id_ + "70");
  ASSERT_EQ(WriteBoard(second.Key(), BoardImage(1812, "     2   200", 0, "", 200, {nested, seventy})), 0);
  // A piece cut off at "}," gets its brace back.
  EXPECT_EQ(Ask(Accounts(id_ + "70")), "[{\"status\":0, \"data\":" + seventy + "}]");
  ScopedBoard third("account." + id_ + "700");
  ASSERT_EQ(WriteBoard(third.Key(), BoardImage(1812, "     1   200", 0, "", 200, {nested})), 0);
  EXPECT_EQ(Ask(Accounts(id_ + "700")),
            "[{\"status\":0, \"data\":{\"AccountID\":\"" + id_ + "700\",\"Sub\":{\"a\":1}}]");
}

TEST_F(GetAccountTest, ReadableBoardWithoutTheRecordAnswersNothingForIt) {
  ScopedBoard board("account." + id_ + "a");
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "     1    40", 0, "", 40, {"{\"AccountID\":\"x\"}"})), 0);
  EXPECT_EQ(Ask(Accounts(id_ + "a")), "[]");  // the table is not asked
}

TEST_F(GetAccountTest, FallsBackToTheTableOnlyWhenAllowed) {
  const std::string fail = "{\"status\":1, \"data\":{\"AccountID\":" + id_ + "a}}";
  const struct {
    const char* selDb;
    std::string host;
    std::string answer;
  } cases[] = {
      {"1", "", "[{\"status\":0, \"data\":" + fromTable_ + "}]"},
      {"1", "127.0.0.1:1", "[" + fail + "]"},
      {nullptr, "", "[" + fail + "]"},
      {"0", "", "[" + fail + "]"},
      {"10", "", "[" + fail + "]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ask(Accounts(id_ + "a"), c.selDb, c.host), c.answer)
        << "SHM_SEL_DB=" << (c.selDb ? c.selDb : "(unset)") << " host " << c.host;
  }
  // No row: nothing for that id, not even a separator.
  EXPECT_EQ(Ask(Accounts(id_ + "none") + Accounts(id_ + "a") + Accounts(id_ + "none")),
            "[{\"status\":0, \"data\":" + fromTable_ + "}]");
}

TEST_F(GetAccountTest, AnswersEachIdInOrderAndTwiceWhenAskedTwice) {
  ScopedBoard board("account." + id_ + "b");
  const std::string onBoard = "{\"AccountID\":\"" + id_ + "b\"}";
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "     1    60", 0, "", 60, {onBoard})), 0);
  const std::string both = "{\"status\":0, \"data\":" + fromTable_ + "},{\"status\":0, \"data\":" +
                           onBoard + "}";
  EXPECT_EQ(Ask(Accounts(id_ + "a") + "<x>" + Accounts(id_ + "b") + "</x>" + Accounts(id_ + "b")),
            "[" + both + "]");
  EXPECT_EQ(Ask(Accounts(id_ + "a") + Accounts(id_ + "a")),
            "[{\"status\":0, \"data\":" + fromTable_ + "},{\"status\":0, \"data\":" + fromTable_ + "}]");
}

TEST_F(GetAccountTest, NoAccountsAnswerAnEmptyList) {
  EXPECT_EQ(Ask("<symbol>EURUSD</symbol>"), "[]");
  CgiOptions options;
  EXPECT_EQ(AnswerOf(RunCgi(RequestBody("getAccount", nullptr), options)), "[]");
}

}  // namespace
