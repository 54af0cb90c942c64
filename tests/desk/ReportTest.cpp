// getReport and getClosedTrade against the real server, on a data set made
// for them; the expected totals are summed here from the data itself.
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "support/Boards.h"
#include "support/Cgi.h"
#include "util/StringUtil.h"

namespace {

struct Trade {
  const char* id;
  const char* account;  // suffix of the test's own id
  const char* symbol;
  const char* opened;   // local time
  const char* closed;   // "" while open
  double pl, grossPl;
  const char* method;   // strategy row's method name; null: no strategy row
};

// PL values are exact in binary, so sums print exactly.
const Trade kTrades[] = {
    {"1", "A", "EURUSD", "2025-03-03 09:00:00", "2025-03-04 10:00:00", 10.5, 11, "MA"},
    {"2", "A", "EURUSD", "2025-07-10 09:00:00", "2025-07-10 15:00:00", -3.25, -3, "MA"},
    {"3", "A", "USDJPY", "2025-07-11 09:00:00", "2025-07-12 09:00:00", 20, 21.5, "Breakout"},
    {"4", "A", "EURUSD", "2026-01-05 09:00:00", "2026-01-09 09:00:00", 7.75, 8, nullptr},
    {"5", "A", "GBPUSD", "2026-02-02 09:00:00", "2026-03-02 09:00:00", -12, -12.5, "Breakout"},
    {"6", "A", "USDJPY", "2026-11-30 09:00:00", "", 4.5, 4.5, "MA"},
    {"7", "B", "EURUSD", "2025-03-03 09:00:00", "2025-03-05 09:00:00", 99, 99, "MA"},
};

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    for (const Trade& t : kTrades) {
      const std::string account = id_ + t.account;
      const bool open = *t.closed == '\0';
      RunSql(db_, {std::string("INSERT INTO `Trade` (TradeID, AccountID, Symbol, Amount, BS, PL, "
                               "GrossPL, OpenTime, CloseTime, OpenOrderID, CloseOrderID) VALUES ('") +
                   t.id + "', '" + account + "', '" + t.symbol + "', 10000, 'B', " +
                   DoubleToText(t.pl) + ", " + DoubleToText(t.grossPl) + ", '" + t.opened + "', " +
                   (open ? std::string("DEFAULT") : "'" + std::string(t.closed) + "'") + ", 'o" +
                   t.id + "', '" + (open ? "" : std::string("c") + t.id) + "')"});
      if (t.method != nullptr) {
        RunSql(db_, {std::string("INSERT INTO `TsContext` (OrderID, TradeID, AccountId, Class, "
                                 "TradeMethodPeriod, TradeMethodName) VALUES ('o") +
                     t.id + "', '" + t.id + "', '" + account + "', 'S', 'H1', '" + t.method + "')"});
      }
    }
  }
  void TearDown() override {
    if (db_.host.empty()) return;
    RunSql(db_, {"DELETE FROM `Trade` WHERE AccountID LIKE '" + id_ + "%'",
                 "DELETE FROM `TsContext` WHERE AccountId LIKE '" + id_ + "%'"});
  }

  std::string Ask(const std::string& method, const std::string& params) {
    CgiOptions options;
    options.shmSelDb = nullptr;  // these methods never look at it
    options.database = &db_;
    const ProcessResult result = RunCgi(RequestBody(method, params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  std::string Report(const std::string& type, const std::string& more) {
    return Ask("getReport", "<rpttype>" + type + "</rpttype><accountid>" + id_ + "A</accountid>" + more);
  }

  // Totals of account A's trades that `keep` accepts, grouped by `key`.
  template <typename Key, typename Keep, typename KeyOf>
  static std::map<Key, std::tuple<double, double, int>> Totals(Keep keep, KeyOf keyOf) {
    std::map<Key, std::tuple<double, double, int>> totals;
    for (const Trade& t : kTrades) {
      if (std::string(t.account) != "A" || !keep(t)) continue;
      auto& total = totals[keyOf(t)];
      std::get<0>(total) += t.pl;
      std::get<1>(total) += t.grossPl;
      std::get<2>(total) += 1;
    }
    return totals;
  }

  static std::string Sums(const std::tuple<double, double, int>& total) {
    return "\"PL\":" + DoubleToText(std::get<0>(total)) + ",\"GrossPL\":" +
           DoubleToText(std::get<1>(total)) + ",\"Counts\":" + IntToText(std::get<2>(total));
  }

  DatabaseSettings db_;
  const std::string id_ = "zt" + std::to_string(getpid());
};

TEST_F(ReportTest, GroupedTotalsBySymbolAndYear) {
  const auto totals = Totals<std::pair<std::string, int>>(
      [](const Trade&) { return true; },
      [](const Trade& t) { return std::make_pair(std::string(t.symbol), std::atoi(t.opened)); });
  std::string expected;
  for (const auto& group : totals) {
    expected += std::string(expected.empty() ? "" : ",") + "{\"Symbol\":\"" + group.first.first +
                "\",\"_year\":" + IntToText(group.first.second) + "," + Sums(group.second) +
                ",\"TradeMethodName\":\"\",\"_month\":\"\",\"_week\":\"\"}";
  }
  EXPECT_EQ(Report("1", "<grouping><g>1</g><g>3</g></grouping>"), "[" + expected + "]");
}

TEST_F(ReportTest, GroupedTotalsByMethodJoinTheStrategyRows) {
  const auto totals = Totals<std::pair<std::string, int>>(
      [](const Trade&) { return true; },
      [](const Trade& t) {
        return std::make_pair(std::string(t.method ? t.method : ""), std::atoi(t.opened + 5));
      });
  std::string expected;
  for (const auto& group : totals) {
    expected += std::string(expected.empty() ? "" : ",") + "{\"TradeMethodName\":\"" +
                group.first.first + "\",\"_month\":" + IntToText(group.first.second) + "," +
                Sums(group.second) + ",\"Symbol\":\"\",\"_year\":\"\",\"_week\":\"\"}";
  }
  EXPECT_EQ(Report("1", "<grouping><g>2</g><g>4</g></grouping>"), "[" + expected + "]");
}

TEST_F(ReportTest, UngroupedTotalsWithFilters) {
  const std::string fillers =
      ",\"Symbol\":\"\",\"TradeMethodName\":\"\",\"_year\":\"\",\"_month\":\"\",\"_week\":\"\"}]";
  auto only = [&](auto keep) {
    return "[{" + Sums(Totals<int>(keep, [](const Trade&) { return 0; })[0]) + fillers;
  };
  EXPECT_EQ(Report("1", ""), only([](const Trade&) { return true; }));
  EXPECT_EQ(Report("1", "<symbol>EURUSD</symbol>"),
            only([](const Trade& t) { return std::string(t.symbol) == "EURUSD"; }));
  EXPECT_EQ(Report("1", "<method>Breakout</method>"),
            only([](const Trade& t) { return t.method && std::string(t.method) == "Breakout"; }));
  EXPECT_EQ(Report("1", "<frompl>-3.25</frompl><topl>10.5</topl>"),
            only([](const Trade& t) { return t.pl >= -3.25 && t.pl <= 10.5; }));
  // The end date bounds the opening time: trade 5 opened before it and
  // closed after it counts.
  EXPECT_EQ(Report("1", "<startdate>2026-01-01</startdate><enddate>2026-02-15</enddate>"),
            only([](const Trade& t) {
              return std::string(t.opened) >= "2026-01-01" && std::string(t.opened) <= "2026-02-15";
            }));
  // Nothing matches: a grouped count of one row still, with empty totals.
  EXPECT_EQ(Report("1", "<symbol>CHFJPY</symbol>"),
            "[{\"PL\":0.000000,\"GrossPL\":0.000000,\"Counts\":0" + fillers);
}

TEST_F(ReportTest, TradeListCarriesTheStrategyOfItsOpeningOrder) {
  const std::string answer = Report("2", "<symbol>EURUSD</symbol>");
  ASSERT_EQ(answer.front(), '[');
  // Trades 1, 2 and 4 in TradeID order; 4 has no strategy row but is listed.
  const auto first = answer.find("\"TradeID\":\"1\"");
  const auto second = answer.find("\"TradeID\":\"2\"");
  const auto fourth = answer.find("\"TradeID\":\"4\"");
  ASSERT_NE(first, std::string::npos) << answer;
  ASSERT_NE(fourth, std::string::npos) << answer;
  EXPECT_LT(first, second);
  EXPECT_LT(second, fourth);
  EXPECT_EQ(answer.find("\"TradeID\":\"7\""), std::string::npos);  // another account
  EXPECT_NE(answer.find("\"TradeMethodPeriod\":\"H1\",\"TradeMethodName\":\"MA\""), std::string::npos);
  EXPECT_NE(answer.find("\"CloseTime\":\"2026/01/09 00:00:00\",\"MaxSumPL\":0.000000,"
                        "\"MaxSumPLCount\":0,\"MaxSumPLTime\":\"1969/12/31 23:59:59\","
                        "\"CurSumPL\":0.000000,\"CurSumPLCount\":0,\"TradeMethodPeriod\":\"\","
                        "\"TradeMethodName\":\"\""),
            std::string::npos)
      << answer;
  EXPECT_EQ(answer.substr(answer.size() - 2), "}]");
}

TEST_F(ReportTest, CountsDecideBeforeTheReportRuns) {
  EXPECT_EQ(Report("2", "<symbol>CHFJPY</symbol>"), "msg_no_data");
  EXPECT_EQ(Report("3", "<symbol>CHFJPY</symbol>"), "msg_no_data");
  EXPECT_EQ(Report("3", ""), "[]");
  EXPECT_EQ(Report("2", "<maxcounts>5</maxcounts>"), "msg_counts_over");  // six trades
  EXPECT_NE(Report("2", "<maxcounts>6</maxcounts>"), "msg_counts_over");
  EXPECT_EQ(Report("1", "<grouping><g>1</g></grouping><maxcounts>2</maxcounts>"),
            "msg_counts_over");  // three symbols
  EXPECT_EQ(Report("2", "<maxcounts>x</maxcounts>"), "msg_counts_over");
  EXPECT_NE(Report("2", "<maxcounts>-1</maxcounts>"), "msg_counts_over");
}

TEST_F(ReportTest, ClosedTradesOnlyWithinTheirBounds) {
  auto ids = [](const std::string& answer) {
    std::string found;
    for (auto at = answer.find("\"TradeID\":\""); at != std::string::npos;
         at = answer.find("\"TradeID\":\"", at + 1)) {
      found += answer.substr(at + 11, answer.find('"', at + 11) - at - 11);
    }
    return found;
  };
  const std::string account = "<accountid>" + id_ + "A</accountid>";
  EXPECT_EQ(ids(Ask("getClosedTrade", account)), "12345");  // 6 is still open
  EXPECT_EQ(ids(Ask("getClosedTrade", account + "<startdate>2025-07-10 09:00:00</startdate>")),
            "2345");
  // The end bounds the closing time: 5 opened before it but closed after.
  EXPECT_EQ(ids(Ask("getClosedTrade", account + "<enddate>2026-02-28</enddate>")), "1234");
  EXPECT_EQ(Ask("getClosedTrade", "<accountid>" + id_ + "none</accountid>"), "[]");
  EXPECT_EQ(Ask("getClosedTrade", ""), "(banner)");
}

}  // namespace
