// Parameter values built to end their SQL literal, sent through the program
// to the real server under both of its quoting modes: no other account's
// rows come back, no table changes, and the process answers and exits 0.
#include <unistd.h>

#include <gtest/gtest.h>

#include "shm/ShareMemory.h"
#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

class HostileValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    CShareMemory::Unlink("offer");
    const auto modes = QueryRows(db_, "SELECT @@GLOBAL.sql_mode");
    ASSERT_EQ(modes.size(), 1u);
    savedMode_ = modes[0];
    RunSql(db_, {"INSERT INTO `Account` (AccountID, Balance) VALUES ('" + id_ + "', 1), ('" + id_ +
                 "x', 2)",
                 "INSERT INTO `Trade` (TradeID, AccountID, Symbol, CloseOrderID) VALUES ('1', '" +
                 id_ + "', 'EURUSD', ''), ('2', '" + id_ + "x', 'EURUSD', '')",
                 "INSERT INTO `Offer` (OfferID, Symbol) VALUES ('" + id_ + "', 'EURUSD')"});
  }
  void TearDown() override {
    RemoveBoardsMarked(id_);
    if (db_.host.empty()) return;
    RunSql(db_, {"SET GLOBAL sql_mode='" + savedMode_ + "'",
                 "DELETE FROM `Account` WHERE AccountID LIKE '" + id_ + "%'",
                 "DELETE FROM `Trade` WHERE AccountID LIKE '" + id_ + "%'",
                 "DELETE FROM `Offer` WHERE OfferID='" + id_ + "'"});
  }

  std::string Ask(const std::string& method, const std::string& params) {
    CgiOptions options;
    options.database = &db_;
    const ProcessResult result = RunCgi(RequestBody(method, params), options);
    EXPECT_EQ(result.status, 0) << method << " " << ::testing::PrintToString(params);
    return AnswerOf(result);
  }

  // This test's rows, whole: other tests write the same tables meanwhile,
  // and any statement a hostile value smuggled in would reach these rows too.
  std::vector<std::string> OwnRows() {
    std::vector<std::string> rows;
    for (const char* table : {"Account", "Trade", "Offer"}) {
      const std::string column = std::string(table) == "Offer" ? "OfferID" : "AccountID";
      for (const std::string& row : QueryRows(db_, std::string("SELECT * FROM `") + table +
                                                       "` WHERE " + column + " LIKE '" + id_ +
                                                       "%' ORDER BY 1, 2")) {
        rows.push_back(table + (" " + row));
      }
    }
    return rows;
  }

  void ExpectNothingLeaks(const std::string& mode, bool noBackslashEscapes) {
    RunSql(db_, {"SET GLOBAL sql_mode='" + mode + "'"});
    // New connections, the program's among them, take the mode.
    const auto session = QueryRows(db_, "SELECT @@SESSION.sql_mode");
    ASSERT_EQ(session.size(), 1u);
    ASSERT_EQ(session[0].find("NO_BACKSLASH_ESCAPES") != std::string::npos, noBackslashEscapes);
    const std::vector<std::string> before = OwnRows();
    ASSERT_EQ(before.size(), 5u);
    // Ordinary values still reach their rows under this mode.
    EXPECT_NE(Ask("getAccount", "<accountid>" + id_ + "</accountid>"), "[]") << mode;
    const std::string values[] = {
        id_ + "' OR '1'='1",
        id_ + "\\",
        id_ + "\\' OR 1=1 -- ",
        id_ + std::string("\0' OR '1'='1", 12),
        id_ + "'; DELETE FROM `Account`; -- ",
    };
    const std::string noTrades = "{\"status\":1, \"data\":[]}";
    for (const std::string& value : values) {
      const std::string shown = mode + " " + ::testing::PrintToString(value);
      EXPECT_EQ(Ask("getAccount", "<accountid>" + value + "</accountid>"), "[]") << shown;
      EXPECT_EQ(Ask("getOffer", "<symbol>" + value + "</symbol>"), noTrades) << shown;
      EXPECT_EQ(Ask("getOpenTrade", "<accountid>" + value + "</accountid>"), noTrades) << shown;
      const std::string bounded = "<accountid>" + id_ + "</accountid><startdate>" + value + "</startdate>";
      EXPECT_EQ(Ask("getOpenTrade", bounded), noTrades) << shown;
      EXPECT_EQ(Ask("getOpenTradeA", "<accountid>" + value + "</accountid>"), noTrades) << shown;
    }
    EXPECT_EQ(OwnRows(), before) << mode;
  }

  DatabaseSettings db_;
  std::string savedMode_;
  const std::string id_ = "zt" + std::to_string(getpid());
};

TEST_F(HostileValuesTest, DefaultQuotingMode) {
  ExpectNothingLeaks("STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION", false);
}

TEST_F(HostileValuesTest, NoBackslashEscapesMode) {
  ExpectNothingLeaks(
      "STRICT_TRANS_TABLES,NO_BACKSLASH_ESCAPES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION",
      true);
}

}  // namespace
