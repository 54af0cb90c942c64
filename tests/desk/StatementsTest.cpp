// The exact statements the live methods hand to the database library, as
// the recording stand-in library sees them. No board exists for these
// requests, so every method that may fall back does.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "shm/ShareMemory.h"
#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

using Lines = std::vector<std::string>;

const DatabaseSettings kFakeDb = {"fakehost:1", "desk", "secret", "deskdb"};
const std::string kConnect = "connect deskdb|fakehost:1|desk|secret";

struct Recorded {
  ProcessResult result;
  Lines log;
};

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The offer board's key is fixed; this test holds its lock and keeps it away.
    CShareMemory::Unlink("offer");
  }

  Recorded Run(const std::string& method, const char* params, const std::string& rows = "",
               const std::string& fail = "", const char* shmSelDb = "1") {
    CgiOptions options;
    options.shmSelDb = shmSelDb;
    options.database = &kFakeDb;
    options.fakeLog = TempPath("fake.log");
    options.fakeFail = fail;
    if (!rows.empty()) {
      options.fakeRows = TempPath("rows.tsv");
      std::ofstream(options.fakeRows) << rows;
    }
    Recorded recorded;
    recorded.result = RunCgi(RequestBody(method, params), options);
    recorded.log = TakeFakeLog(options.fakeLog);
    if (!options.fakeRows.empty()) std::remove(options.fakeRows.c_str());
    EXPECT_EQ(recorded.result.status, 0);
    return recorded;
  }

  const std::string id_ = "zt" + std::to_string(getpid());
};

TEST_F(StatementsTest, GetAccountSelectsEachIdAndConnectsOnce) {
  const std::string params = "<accountid>" + id_ + "a</accountid><accountid>" + id_ + "b</accountid>";
  const Recorded run = Run("getAccount", params.c_str(), "AccountID\tBalance\nX1\t5\n");
  EXPECT_EQ(run.log, (Lines{kConnect,
                            "select SELECT * FROM `Account` WHERE `AccountId`='" + id_ + "a'",
                            "isConnected",
                            "select SELECT * FROM `Account` WHERE `AccountId`='" + id_ + "b'",
                            "close"}));
  const std::string account =
      "{\"status\":0, \"data\":{\"AccountID\":\"X1\",\"Balance\":5.000000,\"Equity\":0.000000,"
      "\"DayPL\":0.000000,\"UsedMargin\":0.000000,\"UsableMargin\":0.000000,"
      "\"GrossPL\":0.000000,\"Hedging\":\"\"}}";
  EXPECT_EQ(run.result.out, kAnswerHeader + std::string("[") + account + "," + account + "]");
}

TEST_F(StatementsTest, AFailedConnectIsNeverRetried) {
  const std::string params = "<accountid>" + id_ + "a</accountid><accountid>" + id_ + "b</accountid>";
  const Recorded run = Run("getAccount", params.c_str(), "", "connect");
  EXPECT_EQ(run.log, (Lines{kConnect, "close"}));
  EXPECT_EQ(run.result.out, kAnswerHeader + std::string("[{\"status\":1, \"data\":{\"AccountID\":") +
                                id_ + "a}},{\"status\":1, \"data\":{\"AccountID\":" + id_ + "b}}]");
  EXPECT_NE(run.result.err.find("Connection failed: fake: connection refused\n"), std::string::npos);
}

TEST_F(StatementsTest, GetOfferListsItsSymbolsOrAll) {
  const struct {
    const char* params;
    const char* sql;
  } cases[] = {
      {"<symbol>EURUSD</symbol><symbol>USDJPY</symbol>",
       "SELECT * FROM `Offer` where `Symbol` in ('EURUSD','USDJPY') ORDER BY `OfferID`"},
      {"<symbol>EUR/USD</symbol>", "SELECT * FROM `Offer` where `Symbol` in ('EUR/USD') ORDER BY `OfferID`"},
      {"<accountid>7</accountid><!-- c --><symbol>GBPUSD</symbol>",
       "SELECT * FROM `Offer` where `Symbol` in ('7','c','GBPUSD') ORDER BY `OfferID`"},
      {"", "SELECT * FROM `Offer`  ORDER BY `OfferID`"},
      {nullptr, "SELECT * FROM `Offer`  ORDER BY `OfferID`"},
  };
  for (const auto& c : cases) {
    const Recorded run = Run("getOffer", c.params);
    EXPECT_EQ(run.log, (Lines{kConnect, std::string("select ") + c.sql, "close"}))
        << (c.params ? c.params : "(no params)");
    EXPECT_EQ(run.result.out, kAnswerHeader + std::string("{\"status\":1, \"data\":[]}"));
  }
}

TEST_F(StatementsTest, GetOpenTradeAddsOnlyTheBoundsItWasGiven) {
  const std::string base = "SELECT * FROM `Trade` WHERE `AccountId`='" + id_ + "' AND `CloseOrderID`=''";
  const std::string account = "<accountid>" + id_ + "</accountid>";
  const struct {
    std::string params;
    std::string sql;
  } cases[] = {
      {account, base + " ORDER BY `TradeID`"},
      {account + "<startdate>2026/12/01 00:00:00</startdate><enddate>2026/12/05 23:59:59</enddate>",
       base + " AND `OpenTime`>='2026/12/01 00:00:00' AND `CloseTime`<='2026/12/05 23:59:59'"
              " ORDER BY `TradeID`"},
      {account + "<x><enddate>2026/12/05</enddate></x><startdate></startdate>",
       base + " AND `CloseTime`<='2026/12/05' ORDER BY `TradeID`"},
  };
  for (const auto& c : cases) {
    const Recorded run = Run("getOpenTrade", c.params.c_str());
    EXPECT_EQ(run.log, (Lines{kConnect, "select " + c.sql, "close"})) << c.params;
  }
}

TEST_F(StatementsTest, GetOpenTradeAJoinsTheStrategyContext) {
  const std::string account = "<accountid>" + id_ + "</accountid>";
  const Recorded run = Run("getOpenTradeA", account.c_str(), "TradeID\tTradeMethodName\n9\tMA\n");
  EXPECT_EQ(run.log,
            (Lines{kConnect,
                   "select SELECT * FROM `Trade` WHERE `AccountId`='" + id_ +
                       "' AND `CloseOrderID`='' ORDER BY `TradeID`",
                   "isConnected",
                   "select SELECT Ts.*   FROM `Trade` T, `TsContext` Ts  WHERE T.AccountId=Ts.AccountId"
                   "    AND T.TradeID=Ts.TradeID    AND T.AccountId='" + id_ +
                       "'    AND T.CloseOrderID=''    AND Ts.AccountId='" + id_ +
                       "'    AND Ts.TradeMethodName!=''",
                   "close"}));
}

TEST_F(StatementsTest, BoardOnlyMethodsNeverLoadTheLibrary) {
  const Recorded bars = Run("getPriceBar", "<symbol>EUR/USD</symbol><period>1</period>");
  EXPECT_TRUE(bars.log.empty());
  EXPECT_EQ(bars.result.out, kAnswerHeader + std::string("{\"status\":1, \"data\":[]}"));
  const std::string params = "<accountid>" + id_ + "</accountid>";
  for (const char* selDb : {"0", "", "10", " 1", "01"}) {
    const Recorded trades = Run("getOpenTrade", params.c_str(), "", "", selDb);
    EXPECT_TRUE(trades.log.empty()) << "SHM_SEL_DB=" << selDb;
  }
  EXPECT_TRUE(Run("getAccount", params.c_str(), "", "", nullptr).log.empty());
}

TEST_F(StatementsTest, ValuesThatCouldBreakAStatementAreNeverSent) {
  const char* const hostile[] = {"1' OR '1'='1", "1\\", "a'); DROP TABLE `Account`; --"};
  for (const char* value : hostile) {
    const std::string account = std::string("<accountid>") + value + "</accountid>";
    const Recorded accountRun = Run("getAccount", account.c_str(), "AccountID\nX\n");
    EXPECT_EQ(accountRun.log, (Lines{kConnect, "close"})) << value;
    EXPECT_EQ(accountRun.result.out, kAnswerHeader + std::string("[]")) << value;
    EXPECT_NE(accountRun.result.err.find("SQL value refused"), std::string::npos) << value;

    const std::string symbols = std::string("<symbol>EURUSD</symbol><symbol>") + value + "</symbol>";
    const Recorded offerRun = Run("getOffer", symbols.c_str(), "OfferID\n1\n");
    EXPECT_EQ(offerRun.log, (Lines{kConnect, "close"})) << value;
    EXPECT_EQ(offerRun.result.out, kAnswerHeader + std::string("{\"status\":1, \"data\":[]}"));

    const std::string bounded = "<accountid>" + id_ + "</accountid><startdate>" + value + "</startdate>";
    const Recorded tradeRun = Run("getOpenTradeA", bounded.c_str(), "TradeID\n1\n");
    EXPECT_EQ(tradeRun.log.size(), 4u) << value;  // connect, isConnected, strategy select, close
    EXPECT_EQ(tradeRun.log[1], "isConnected") << value;
  }
}

}  // namespace
