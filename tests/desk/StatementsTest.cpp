// The exact statements each method hands to the database library, as the
// recording stand-in library sees them. No board exists for these requests,
// so every method that may fall back does.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/Desk.h"

namespace {

// The log of a request that never loaded the library.
const Lines kUnloaded = {"(not loaded)"};
const std::string kNoRows = "{\"status\":1, \"data\":[]}";

// A request to the CGI program with the recording library, what the library saw, and the answer.
struct StatementCase {
  std::string method;
  std::string params;
  // between connecting and closing; {"*"}: not compared; kUnloaded
  Lines log;
  // "*" when any answer will do; ending in "*", its beginning
  std::string answer;
  // the recording library's rows: names line, then rows, tab-separated
  std::string rows;
  // the recording library's failing call
  std::string fail;
  Lines env;
  // null: unset
  const char* selDb = "1";
};

// Runs each case through the CGI program with the recording library.
void Expect(const std::vector<StatementCase>& cases) {
  for (const StatementCase& c : cases) {
    const Reply reply = Ask({c.method, c.params, c.selDb, Call::kFake, "", c.rows, c.fail, c.env});
    Lines log = c.log, masked = reply.log.empty() ? kUnloaded : Lines();
    if (log != kUnloaded && log != Lines{"*"}) {
      log.insert(log.begin(), "connect deskdb|fakehost:1|desk|secret");
      log.push_back("close");
    }
    for (const std::string& line : reply.log) masked.push_back(MaskNow(line));
    const std::string shown = c.method + c.params + " rows " + c.rows;
    EXPECT_EQ(log == Lines{"*"} ? log : masked, log) << shown;
    const size_t compared =
        !c.answer.empty() && c.answer.back() == '*' ? c.answer.size() - 1 : std::string::npos;
    EXPECT_EQ(reply.answer.substr(0, compared), c.answer.substr(0, compared)) << shown;
  }
}

const std::string kId = "zt" + std::to_string(getpid()),
                  kAccount = "<accountid>" + kId + "</accountid>", kA1 = "<accountid>1</accountid>",
                  kA1001 = "<accountid>1001</accountid>";

// getReport's params for a report of `type` on account 1.
std::string Report(const char* type) {
  return "<rpttype>" + std::string(type) + "</rpttype>" + kA1;
}

// A board on this machine would answer instead of the library.
class Statements : public ::testing::Test {
  void SetUp() override { REQUIRE_PRIVATE_SHM(); }
};

TEST_F(Statements, LiveMethodsFallBackWithExactStatements) {
  const std::string trades =
      "select SELECT * FROM `Trade` WHERE `AccountId`='" + kId + "' AND `CloseOrderID`=''";
  const std::string offers = "select SELECT * FROM `Offer` where `Symbol` in (",
                    two = kAccount + "<accountid>" + kId + "b</accountid>",
                    account = "select SELECT * FROM `Account` WHERE `AccountId`='" + kId;
  const std::string fromRow =
      "{\"AccountID\":\"X1\",\"Balance\":5.000000,\"Equity\":0.000000,\"DayPL\":0.000000,"
      "\"UsedMargin\":0.000000,\"UsableMargin\":0.000000,\"GrossPL\":0.000000,\"Hedging\":\"\"}";
  const std::string context =
      "select SELECT Ts.*   FROM `Trade` T, `TsContext` Ts  WHERE T.AccountId=Ts.AccountId    AND "
      "T.TradeID=Ts.TradeID    AND T.AccountId='" +
      kId + "'    AND T.CloseOrderID=''    AND Ts.AccountId='" + kId +
      "'    AND Ts.TradeMethodName!=''";
  Expect({
      // The statements of one request share its connection, with no round trip between them;
      // columns the table lacks are 0 and "".
      {"getAccount",
       two,
       {account + "'", account + "b'"},
       "[{\"status\":0, \"data\":" + fromRow + "},{\"status\":0, \"data\":" + fromRow + "}]",
       "AccountID\tBalance\nX1\t5\n"},
      // A refused statement keeps the connection; one that found it gone ends the request's use of
      // it.
      {"getAccount",
       two,
       {account + "'", "isConnected", account + "b'", "isConnected"},
       "[]",
       "",
       "select"},
      {"getAccount", two, {account + "'", "isConnected"}, NoAccount({kId + "b"}), "", "lost"},
      // A failed connect is never retried.
      {"getAccount", two, {}, NoAccount({kId, kId + "b"}), "", "connect"},
      {"getOffer",
       "<!-- c --><symbol>EUR/USD,)</symbol>",
       {offers + "'c','EUR/USD,)') ORDER BY `OfferID`"},
       kNoRows},
      {"getOffer", "", {"select SELECT * FROM `Offer`  ORDER BY `OfferID`"}, kNoRows},
      {"getOpenTrade",
       (kAccount +
        "<startdate>2026/12/01 00:00:00</startdate><enddate>2026/12/05 23:59:59</enddate>"),
       {trades + " AND `OpenTime`>='2026/12/01 00:00:00' AND `CloseTime`<='2026/12/05 23:59:59' "
                 "ORDER BY `TradeID`"},
       kNoRows},
      // A value that could end its literal is never sent, whatever the method.
      {"getAccount", "<accountid>1' OR '1'='1</accountid>", {}, "[]", "AccountID\nX\n"},
      {"getOffer", "<symbol>EURUSD</symbol><symbol>1\\</symbol>", {}, kNoRows, "OfferID\n1\n"},
      {"getOpenTradeA",
       (kAccount + "<startdate>a'); DROP TABLE `Account`; --</startdate>"),
       {context},
       "*",
       "TradeID\n1\n"},
      // A fallback that is not allowed (SHM_SEL_DB unset, or other than 1) never loads the library.
      {"getAccount", kAccount, kUnloaded, NoAccount({kId}), "", "", {}, nullptr},
      {"getOpenTrade", kAccount, kUnloaded, kNoRows, "", "", {}, "10"},
  });
}

TEST_F(Statements, DatabaseMethods) {
  const std::string join =
      " left outer join (select OrderID, TradeMethodPeriod, TradeMethodName, TrailStopPeriod, "
      "TrailStopName, TrailMoveTsName from `TsContext` where `AccountId`='1001' and `Class`='S') "
      "ts on t.OpenOrderID=ts.OrderID";
  const std::string filters =
      " where t.AccountId='1001' and t.Symbol='EURUSD' and ts.TradeMethodName='MA' and "
      "t.OpenTime>='2020/01/01' and t.OpenTime<='2020/12/31' and t.PL>=-10.5 and t.PL<=100";
  const std::string allFilters =
      kA1001 +
      "<symbol>EURUSD</symbol><method>MA</method><startdate>2020/01/01</startdate><enddate>2020/12/"
      "31</enddate><frompl>-10.5</frompl><topl>100</topl>";
  const std::string bySymbolYear = " where t.AccountId='1001' group by t.Symbol,year(t.OpenTime)";
  const std::string byMethodWeek = " group by ts.TradeMethodName,week(t.OpenTime)";
  const std::string count = "select select count(1) counts from `Trade` t";
  Expect({
      {"getClosedTrade",
       kA1001 + "<x><startdate>2020/01/01</startdate></x><enddate>2020/02/01</enddate>",
       {"select SELECT * FROM `Trade` WHERE `AccountId`='1001' AND `CloseOrderID`!='' AND "
        "`OpenTime`>='2020/01/01' AND `CloseTime`<='2020/02/01' ORDER BY `TradeID`"},
       "*",
       "TradeID\tSymbol\n1\tEURUSD\n"},
      {"getClosedTrade", "<symbol>x</symbol>", kUnloaded, "[]"},
      {"getReport",
       "<rpttype>1</rpttype>" + kA1001 + "<grouping><g>1</g><g>9</g><g>3</g><g>1</g></grouping>",
       {count + bySymbolYear,
        "select select t.Symbol,year(t.OpenTime) _year,sum(t.PL) PL, sum(t.GrossPL) GrossPL, "
        "count(t.PL) Counts,'' TradeMethodName,'-1'_month,'-1'_week from `Trade` t" +
            bySymbolYear},
       "[{\"Symbol\":\"EURUSD\",\"_year\":2020,\"PL\":10.000000,\"GrossPL\":12.000000,\"Counts\":3,"
       "\"TradeMethodName\":\"\",\"_month\":\"\",\"_week\":\"\"}]",
       "counts\tSymbol\t_year\tPL\tGrossPL\tCounts\n3\tEURUSD\t2020\t10\t12\t3\n"},
      {"getReport",
       ("<rpttype>1</rpttype>" + allFilters + "<grouping><a>2</a><!-- 5 --></grouping>"),
       {count + join + filters + byMethodWeek,
        "select select ts.TradeMethodName,week(t.OpenTime) _week,sum(t.PL) PL, sum(t.GrossPL) "
        "GrossPL, count(t.PL) Counts,'' Symbol,'-1' _year,'-1'_month from `Trade` t" +
            join + filters + byMethodWeek},
       "[{\"TradeMethodName\":\"MA\",\"_week\":7,\"PL\":-2.500000,\"GrossPL\":3.000000,\"Counts\":"
       "1,\"Symbol\":\"\",\"_year\":\"\",\"_month\":\"\"}]",
       "counts\tTradeMethodName\t_week\tPL\tGrossPL\tCounts\n1\tMA\t7\t-2.5\t3\t1\n"},
      {"getReport",
       ("<rpttype>2</rpttype>" + allFilters),
       {count + join + filters,
        "select select t.*, ts.TradeMethodPeriod, ts.TradeMethodName, ts.TrailStopPeriod, "
        "ts.TrailStopName, ts.TrailMoveTsName from `Trade` t" +
            join + filters + " ORDER BY t.TradeID"},
       "*",
       "counts\n2\n"},
      // Type 2 joins even without a method; other types count only.
      {"getReport",
       "<rpttype>2</rpttype>" + kA1001,
       {count + join + " where t.AccountId='1001'"},
       "msg_no_data",
       "counts\n0\n"},
      {"getReport",
       "<rpttype>7</rpttype>" + kA1001,
       {count + " where t.AccountId='1001'"},
       "[]",
       "counts\n1\n"},
      {"getReport", "<rpttype>1</rpttype>", kUnloaded, "(banner)"},
      {"getReport",
       Report("2") + "<frompl>1' OR '1'='1</frompl>",
       {},
       "msg_no_data",
       "counts\n5\n"},
      // The counts decide before the report runs; the limit takes its low 32 bits (no count row:
      // the refused profit bound above).
      {"getReport", Report("2"), {"*"}, "msg_counts_over", "counts\n201\n"},
      {"getReport", Report("2") + "<maxcounts>201</maxcounts>", {"*"}, "[*", "counts\n201\n"},
      // An answer past MAX_ANSWER_RECORDS is refused whole.
      {"getClosedTrade", kA1, {"*"}, "(banner)", "TradeID\n1\n2\n", "", {"MAX_ANSWER_RECORDS=1"}},
      {"getClosedTrade", kA1, {"*"}, "[*", "TradeID\n1\n2\n", "", {"MAX_ANSWER_RECORDS=2"}},
      {"getReport",
       Report("3") + "<maxcounts>4294967297</maxcounts>",
       {"*"},
       "msg_counts_over",
       "counts\n2\n"},
      {"getReport", Report("1"), {}, "(banner)", "", "connect"},
      // The plans' JSON: the method tests.
      {"getImplPlan",
       kA1001,
       {"select SELECT * FROM `ImplPlan` WHERE `AccountId`='1001' ORDER BY `Symbol`"},
       "[]"},
      {"getImplPlan", "<symbol>x</symbol>" + kA1001, kUnloaded, "[]"},
      {"setImplPlan",
       kA1001 + Param("EURUSD", "<ip2>a</ip2><ip5>b</ip5><ip21>z</ip21><loginid>ops</loginid>") +
           "<param><ip1>skipped</ip1></param>" + Param("USDJPY") + "<x>" + Param("DEEP") + "</x>",
       {"trans 2",
        "  UPDATE `ImplPlan` SET `IP1`='a',`IP2`='b',`upd_user_id`='ops',`upd_datetime`='NOW' "
        "WHERE `AccountID`='1001' AND `Symbol`='EURUSD'",
        "  UPDATE `ImplPlan` SET `upd_user_id`='',`upd_datetime`='NOW' WHERE `AccountID`='1001' "
        "AND `Symbol`='USDJPY'"},
       "ok"},
      {"setImplPlan",
       kA1 + Param("A"),
       {"trans 1",
        "  UPDATE `ImplPlan` SET `upd_user_id`='',`upd_datetime`='NOW' WHERE `AccountID`='1' AND "
        "`Symbol`='A'",
        "isConnected"},
       "(banner)",
       "",
       "trans"},
      // A plan value that would end its literal refuses the whole transaction.
      {"setImplPlan",
       kA1 + Param("A", "<ip1>1</ip1>") + Param("B", "<ip1>it's</ip1>"),
       {},
       "(banner)"},
      {"setImplPlan", Param("A"), kUnloaded, "(banner)"},
      {"setImplPlan", kA1, kUnloaded, "(banner)"},
  });
}

// Database times are the desk's local times, answered as UTC; one its clocks
// skip is no time at all.
TEST_F(Statements, DatabaseTimesFollowTheZonesDaylightSaving) {
  // A zone that is not the default, at a local time its clocks skip (TimeTextTest holds every
  // zone's changes): refused (written as -1, as the open trades' close times in the method
  // tests), with its diagnostic.
  const Reply reply = Ask({"getClosedTrade",
                           kAccount,
                           "1",
                           Call::kFake,
                           "",
                           "TradeID\tOpenTime\n1\t2024-03-31 01:30:00\n",
                           "",
                           {"TZ=Europe/London"}});
  EXPECT_NE(reply.answer.find("\"OpenTime\":\"1969/12/31 23:59:59\""), std::string::npos)
      << reply.answer;
  EXPECT_EQ(reply.result.err,
            "OpenTime[2024-03-31 01:30:00] refused: no such local time in TZ=Europe/London (clocks "
            "skip it)\n");
}

}  // namespace
