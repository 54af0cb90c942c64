// The exact statements the live methods hand to the database library, as
// the recording stand-in library sees them. No board exists for these
// requests, so every method that may fall back does.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
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
  void TearDown() override {
    RemoveBoardsMarked(id_);
    RemoveBoardsMarked(".1001");  // the fixed ids of the statement tables
    for (const char* marker : {".1'", ".1\\", ".a'", "pricebar.EURUSD1"}) RemoveBoardsMarked(marker);
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

namespace {

using Lines = std::vector<std::string>;

// Every date-time text ("2026/12/05 09:30:00") in a statement, as "NOW".
std::string MaskNow(std::string line) {
  const std::string shape = "dddd/dd/dd dd:dd:dd";
  auto fits = [&](size_t at) {
    for (size_t i = 0; i < shape.size(); ++i) {
      const char c = line[at + i];
      if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i]) return false;
    }
    return true;
  };
  for (size_t at = 0; at + shape.size() <= line.size(); ++at) {
    if (fits(at)) line.replace(at, shape.size(), "NOW");
  }
  return line;
}

class DatabaseStatementsTest : public StatementsTest {};

TEST_F(DatabaseStatementsTest, GetClosedTradeBoundsOpeningAndClosing) {
  const Recorded run = Run("getClosedTrade",
                           "<accountid>1001</accountid><x><startdate>2020/01/01</startdate></x>"
                           "<enddate>2020/02/01</enddate>",
                           "TradeID\tSymbol\n1\tEURUSD\n");
  EXPECT_EQ(run.log, (Lines{kConnect,
                            "select SELECT * FROM `Trade` WHERE `AccountId`='1001' AND "
                            "`CloseOrderID`!='' AND `OpenTime`>='2020/01/01' AND "
                            "`CloseTime`<='2020/02/01' ORDER BY `TradeID`",
                            "close"}));
  const std::string first = "[{\"TradeID\":\"1\",\"Symbol\":\"EURUSD\",";
  EXPECT_EQ(AnswerOf(run.result).substr(0, first.size()), first);
  const Recorded empty = Run("getClosedTrade", "<accountid></accountid><startdate></startdate>");
  EXPECT_EQ(empty.log[1], "select SELECT * FROM `Trade` WHERE `AccountId`='' AND "
                          "`CloseOrderID`!='' ORDER BY `TradeID`");
  EXPECT_EQ(empty.result.out, kAnswerHeader + std::string("[]"));
  const Recorded none = Run("getClosedTrade", "<symbol>x</symbol>");
  EXPECT_TRUE(none.log.empty());
  EXPECT_EQ(none.result.out, kAnswerHeader + std::string("[]"));
}

TEST_F(DatabaseStatementsTest, GetReportGroupsAndFillsItsColumns) {
  const std::string rows = "counts\tSymbol\t_year\tPL\tGrossPL\tCounts\n3\tEURUSD\t2020\t10\t12\t3\n";
  const Recorded run = Run("getReport",
                           "<rpttype>1</rpttype><accountid>1001</accountid>"
                           "<grouping><g>1</g><g>9</g><g>3</g></grouping>",
                           rows);
  const std::string where = " where t.AccountId='1001' group by t.Symbol,year(t.OpenTime)";
  EXPECT_EQ(run.log, (Lines{kConnect, "select select count(1) counts from `Trade` t" + where,
                            "select select t.Symbol,year(t.OpenTime) _year,sum(t.PL) PL, "
                            "sum(t.GrossPL) GrossPL, count(t.PL) Counts,'' TradeMethodName,"
                            "'-1'_month,'-1'_week from `Trade` t" + where,
                            "close"}));
  EXPECT_EQ(run.result.out,
            kAnswerHeader + std::string("[{\"Symbol\":\"EURUSD\",\"_year\":2020,\"PL\":10.000000,"
                                        "\"GrossPL\":12.000000,\"Counts\":3,\"TradeMethodName\":\"\","
                                        "\"_month\":\"\",\"_week\":\"\"}]"));
}

TEST_F(DatabaseStatementsTest, GetReportJoinsTheStrategyWhenAMethodIsInvolved) {
  const std::string join =
      " left outer join (select OrderID, TradeMethodPeriod, TradeMethodName, TrailStopPeriod, "
      "TrailStopName, TrailMoveTsName from `TsContext` where `AccountId`='1001' and `Class`='S') ts"
      " on t.OpenOrderID=ts.OrderID";
  const std::string filters =
      " where t.AccountId='1001' and t.Symbol='EURUSD' and ts.TradeMethodName='MA' and "
      "t.OpenTime>='2020/01/01' and t.OpenTime<='2020/12/31' and t.PL>=-10.5 and t.PL<=100";
  const char* allFilters =
      "<accountid>1001</accountid><symbol>EURUSD</symbol><method>MA</method>"
      "<startdate>2020/01/01</startdate><enddate>2020/12/31</enddate><frompl>-10.5</frompl>"
      "<topl>100</topl>";
  const Recorded grouped = Run("getReport",
                               (std::string("<rpttype>1</rpttype>") + allFilters +
                                "<grouping><a>2</a><!-- 5 --></grouping>").c_str(),
                               "counts\n1\n");
  const std::string groupBy = " group by ts.TradeMethodName,week(t.OpenTime)";
  EXPECT_EQ(grouped.log, (Lines{kConnect,
                                "select select count(1) counts from `Trade` t" + join + filters + groupBy,
                                "select select ts.TradeMethodName,week(t.OpenTime) _week,sum(t.PL) PL, "
                                "sum(t.GrossPL) GrossPL, count(t.PL) Counts,'' Symbol,'-1' _year,"
                                "'-1'_month from `Trade` t" + join + filters + groupBy,
                                "close"}));
  const Recorded trades =
      Run("getReport", (std::string("<rpttype>2</rpttype>") + allFilters).c_str(), "counts\n2\n");
  EXPECT_EQ(trades.log, (Lines{kConnect,
                               "select select count(1) counts from `Trade` t" + join + filters,
                               "select select t.*, ts.TradeMethodPeriod, ts.TradeMethodName, "
                               "ts.TrailStopPeriod, ts.TrailStopName, ts.TrailMoveTsName from "
                               "`Trade` t" + join + filters + " ORDER BY t.TradeID",
                               "close"}));
  // Type 2 joins even without a method; other types count only.
  const Recorded plain = Run("getReport", "<rpttype>2</rpttype><accountid>1001</accountid>", "counts\n1\n");
  EXPECT_EQ(plain.log[1], "select select count(1) counts from `Trade` t" + join +
                              " where t.AccountId='1001'");
  const Recorded other = Run("getReport", "<rpttype>7</rpttype><accountid>1001</accountid>", "counts\n1\n");
  EXPECT_EQ(other.log, (Lines{kConnect,
                              "select select count(1) counts from `Trade` t where t.AccountId='1001'",
                              "close"}));
  EXPECT_EQ(other.result.out, kAnswerHeader + std::string("[]"));
}

TEST_F(DatabaseStatementsTest, GetReportCountsBeforeAnswering) {
  const struct {
    const char* params;
    const char* rows;
    const char* answer;
  } cases[] = {
      {"<rpttype>2</rpttype><accountid>1</accountid>", "counts\n0\n", "msg_no_data"},
      {"<rpttype>2</rpttype><accountid>1</accountid>", "", "msg_no_data"},
      {"<rpttype>2</rpttype><accountid>1</accountid>", "counts\n201\n", "msg_counts_over"},
      {"<rpttype>2</rpttype><accountid>1</accountid><maxcounts>201</maxcounts>", "counts\n201\n", "["},
      {"<rpttype>3</rpttype><accountid>1</accountid><maxcounts>abc</maxcounts>", "counts\n1\n",
       "msg_counts_over"},
      {"<rpttype>3</rpttype><accountid>1</accountid><maxcounts>-1</maxcounts>", "counts\n99999\n",
       "[]"},
      {"<rpttype>3</rpttype><accountid>1</accountid><maxcounts>4294967297</maxcounts>",
       "counts\n2\n", "msg_counts_over"},  // the limit's low 32 bits: 1
      {"<rpttype>3</rpttype><accountid>1</accountid><maxcounts> 5x</maxcounts>", "counts\n5\n", "[]"},
      {"<rpttype>1</rpttype><accountid>1</accountid><maxcounts>1</maxcounts><grouping><g>1</g>"
       "</grouping>",
       "counts\tSymbol\n4\tA\n4\tB\n", "msg_counts_over"},  // two groups
  };
  for (const auto& c : cases) {
    const Recorded run = Run("getReport", c.params, c.rows);
    const std::string answer = AnswerOf(run.result);
    EXPECT_EQ(answer.substr(0, std::strlen(c.answer)), c.answer) << c.params << " rows " << c.rows;
  }
  EXPECT_EQ(AnswerOf(Run("getReport", "<rpttype>1</rpttype>").result), "(banner)");
  EXPECT_EQ(AnswerOf(Run("getReport", "<accountid>1</accountid>").result), "(banner)");
  EXPECT_EQ(AnswerOf(Run("getReport", "<rpttype>1</rpttype><accountid>1</accountid>", "", "connect").result),
            "(banner)");
  // A profit bound that is no number is refused: nothing is sent.
  const Recorded refused =
      Run("getReport", "<rpttype>2</rpttype><accountid>1</accountid><frompl>1 OR 1=1</frompl>", "counts\n5\n");
  EXPECT_EQ(refused.log, (Lines{kConnect, "close"}));
  EXPECT_EQ(AnswerOf(refused.result), "msg_no_data");
}

TEST_F(DatabaseStatementsTest, ImplPlansAreReadByAccountAndWrittenInOneTransaction) {
  const Recorded read = Run("getImplPlan", "<accountid>1001</accountid><symbol>x</symbol>",
                            "Symbol\tIP1\nEURUSD\t0.5\n");
  EXPECT_EQ(read.log, (Lines{kConnect,
                             "select SELECT * FROM `ImplPlan` WHERE `AccountId`='1001' ORDER BY `Symbol`",
                             "close"}));
  std::string plan = "{\"Symbol\":\"EURUSD\",\"IP1\":\"0.5\"";
  for (int i = 2; i <= 20; ++i) plan += ",\"IP" + std::to_string(i) + "\":\"\"";
  EXPECT_EQ(AnswerOf(read.result), "[" + plan + "}]");
  for (const char* params : {"<symbol>x</symbol><accountid>1001</accountid>",
                             "<!-- c --><accountid>1001</accountid>"}) {
    const Recorded notFirst = Run("getImplPlan", params);
    EXPECT_TRUE(notFirst.log.empty()) << params;
    EXPECT_EQ(AnswerOf(notFirst.result), "[]") << params;
  }

  const Recorded write = Run("setImplPlan",
                             "<accountid>1001</accountid>"
                             "<param><symbol>EURUSD</symbol><ip2>a</ip2><ip5>b</ip5><ip21>z</ip21>"
                             "<loginid>ops</loginid></param>"
                             "<param><ip1>skipped</ip1></param>"
                             "<param><symbol>USDJPY</symbol></param>"
                             "<x><param><symbol>DEEP</symbol></param></x>");
  Lines masked;
  for (const auto& line : write.log) masked.push_back(MaskNow(line));
  EXPECT_EQ(masked, (Lines{kConnect, "trans 2",
                           "  UPDATE `ImplPlan` SET `IP1`='a',`IP2`='b',`upd_user_id`='ops',"
                           "`upd_datetime`='NOW' WHERE `AccountID`='1001' AND `Symbol`='EURUSD'",
                           "  UPDATE `ImplPlan` SET `upd_user_id`='',`upd_datetime`='NOW' WHERE "
                           "`AccountID`='1001' AND `Symbol`='USDJPY'",
                           "close"}));
  EXPECT_EQ(write.result.out, kAnswerHeader + std::string("ok"));
  const Recorded failed = Run("setImplPlan", "<accountid>1</accountid><param><symbol>A</symbol></param>",
                              "", "trans");
  EXPECT_EQ(AnswerOf(failed.result), "(banner)");
  EXPECT_NE(failed.result.err.find("fake: transaction failed\n"), std::string::npos);
  // A plan value that would end its literal refuses the whole transaction.
  const Recorded quoted = Run("setImplPlan",
                              "<accountid>1</accountid><param><symbol>A</symbol><ip1>1</ip1></param>"
                              "<param><symbol>B</symbol><ip1>it's</ip1></param>");
  EXPECT_EQ(quoted.log, (Lines{kConnect, "close"}));
  EXPECT_EQ(AnswerOf(quoted.result), "(banner)");
  for (const char* params : {"<param><symbol>A</symbol></param>", "<accountid>1</accountid>",
                             "<accountid>1</accountid><param><ip1>no symbol</ip1></param>"}) {
    const Recorded nothing = Run("setImplPlan", params);
    EXPECT_EQ(AnswerOf(nothing.result), "(banner)") << params;
  }
}

}  // namespace
