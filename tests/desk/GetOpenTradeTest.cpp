// getOpenTrade and getOpenTradeA through the program: trade boards, the
// Trade table, and the strategy context that getOpenTradeA adds.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

class GetOpenTradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    const std::string insert =
        "INSERT INTO `Trade` (TradeID, AccountID, OfferID, Symbol, Amount, BS, Open, PL, OpenTime, "
        "CloseTime, OpenOrderID, CloseOrderID) VALUES ";
    RunSql(db_, {insert + "('1', '" + id_ + "', '1', 'EURUSD', 10000, 'B', 1.08, 12.5, "
                          "'2026-12-01 09:00:00', DEFAULT, 'o1', ''), "
                          "('2', '" + id_ + "', '2', 'USDJPY', 5000, 'S', 151.2, -3, "
                          "'2026-12-03 10:00:00', DEFAULT, 'o2', ''), "
                          "('3', '" + id_ + "', '1', 'EURUSD', 10000, 'B', 1.07, 40, "
                          "'2026-11-01 09:00:00', '2026-11-02 09:00:00', 'o3', 'c3')",
                 "INSERT INTO `TsContext` (OrderID, TradeID, AccountId, Class, TradeMethodPeriod, "
                 "TradeMethodName, TrailStopPeriod, TrailStopName, TrailMoveTsName) VALUES "
                 "('o1', '1', '" + id_ + "', 'S', 'H1', 'MA-Cross', 'M15', 'ATR', 'Step'), "
                 "('o2', '2', '" + id_ + "', 'S', 'M5', '', '', '', ''), "
                 "('o3', '3', '" + id_ + "', 'S', 'D1', 'Carry', '', '', '')"});
  }
  void TearDown() override {
    RemoveBoardsMarked(id_);
    if (db_.host.empty()) return;
    RunSql(db_, {"DELETE FROM `Trade` WHERE AccountID='" + id_ + "'",
                 "DELETE FROM `TsContext` WHERE AccountId='" + id_ + "'"});
  }

  std::string Ask(const std::string& method, const std::string& params, const char* selDb = "1",
                  const std::string& host = "") {
    CgiOptions options;
    options.shmSelDb = selDb;
    options.database = &db_;
    options.host = host;
    const ProcessResult result = RunCgi(RequestBody(method, params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  static std::string Envelope(const std::string& status, const std::string& data) {
    return "{\"status\":" + status + ", \"data\":[" + data + "]}";
  }

  DatabaseSettings db_;
  const std::string id_ = "zt" + std::to_string(getpid());
  const std::string account_ = "<accountid>" + id_ + "</accountid>";
  // Opened 09:00 Tokyo time, written as UTC; the open trade's zero close
  // time is refused by the parser and written as -1.
  const std::string first_ =
      "{\"TradeID\":\"1\",\"Symbol\":\"EURUSD\",\"Amount\":10000.000000,\"BS\":\"B\","
      "\"Open\":1.080000,\"Close\":0.000000,\"Stop\":0.000000,\"Limit\":0.000000,\"High\":0.000000,"
      "\"Low\":0.000000,\"PL\":12.500000,\"GrossPL\":0.000000,\"OpenTime\":\"2026/12/01 00:00:00\","
      "\"CloseTime\":\"1969/12/31 23:59:59\",\"MaxSumPL\":0.000000,\"MaxSumPLCount\":0,"
      "\"MaxSumPLTime\":\"1969/12/31 23:59:59\",\"CurSumPL\":0.000000,\"CurSumPLCount\":0,"
      "\"TradeMethodPeriod\":\"\",\"TradeMethodName\":\"\",\"TrailStopPeriod\":\"\","
      "\"TrailStopName\":\"\",\"TrailMoveTsName\":\"\"}";
  const std::string second_ =
      "{\"TradeID\":\"2\",\"Symbol\":\"USDJPY\",\"Amount\":5000.000000,\"BS\":\"S\","
      "\"Open\":151.200000,\"Close\":0.000000,\"Stop\":0.000000,\"Limit\":0.000000,"
      "\"High\":0.000000,\"Low\":0.000000,\"PL\":-3.000000,\"GrossPL\":0.000000,"
      "\"OpenTime\":\"2026/12/03 01:00:00\",\"CloseTime\":\"1969/12/31 23:59:59\","
      "\"MaxSumPL\":0.000000,\"MaxSumPLCount\":0,\"MaxSumPLTime\":\"1969/12/31 23:59:59\","
      "\"CurSumPL\":0.000000,\"CurSumPLCount\":0,\"TradeMethodPeriod\":\"\","
      "\"TradeMethodName\":\"\",\"TrailStopPeriod\":\"\",\"TrailStopName\":\"\","
      "\"TrailMoveTsName\":\"\"}";
  const std::string context_ =
      "{\"TradeID\":\"1\",\"TradeMethodPeriod\":\"H1\",\"TradeMethodName\":\"MA-Cross\","
      "\"TrailStopPeriod\":\"M15\",\"TrailStopName\":\"ATR\",\"TrailMoveTsName\":\"Step\"}";
};

TEST_F(GetOpenTradeTest, BoardAnswersFirstWhateverTheTableHolds) {
  ScopedBoard board("trade." + id_);
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(114012, "     2    30", 0, "", 30,
                                               {"{\"TradeID\":\"b1\"}", "{\"TradeID\":\"b2\"}"})),
            0);
  EXPECT_EQ(Ask("getOpenTrade", account_),
            Envelope("0", "{\"TradeID\":\"b1\"},{\"TradeID\":\"b2\"}"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(114012, "     0    30", 0, "", 30, {})), 0);
  EXPECT_EQ(Ask("getOpenTrade", account_), Envelope("0", ""));
  // getOpenTradeA asks the database for the context all the same.
  EXPECT_EQ(Ask("getOpenTradeA", account_, nullptr),
            "{\"status\":0, \"data\":[], \"data2\":[" + context_ + "]}");
}

TEST_F(GetOpenTradeTest, MissingBoardFallsBackToOpenTradesWhenAllowed) {
  const struct {
    std::string params;
    const char* selDb;
    std::string host;
    std::string answer;
  } cases[] = {
      {account_, "1", "", Envelope("0", first_ + "," + second_)},
      {account_ + "<startdate>2026-12-02 00:00:00</startdate>", "1", "", Envelope("0", second_)},
      {account_ + "<x><enddate>2026-12-05</enddate></x>", "1", "", Envelope("0", first_ + "," + second_)},
      {account_ + "<startdate></startdate>", "1", "", Envelope("0", first_ + "," + second_)},
      {account_ + "<startdate>2027-01-01</startdate>", "1", "", Envelope("1", "")},
      {account_, "1", "127.0.0.1:1", Envelope("1", "")},
      {account_, nullptr, "", Envelope("1", "")},
      {account_, "01", "", Envelope("1", "")},
      {"<symbol>EURUSD</symbol>" + account_, "1", "", Envelope("1", "")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ask("getOpenTrade", c.params, c.selDb, c.host), c.answer)
        << c.params << " SHM_SEL_DB=" << (c.selDb ? c.selDb : "(unset)") << " " << c.host;
  }
}

TEST_F(GetOpenTradeTest, StrategyContextComesFromTheDatabaseAlways) {
  const std::string withContext = ", \"data2\":[" + context_ + "]}";
  // Trades from the table, context appended.
  std::string answer = Envelope("0", first_ + "," + second_);
  EXPECT_EQ(Ask("getOpenTradeA", account_), answer.substr(0, answer.size() - 1) + withContext);
  // No fallback for the trades, but the context still comes.
  EXPECT_EQ(Ask("getOpenTradeA", account_, nullptr), "{\"status\":1, \"data\":[]" + withContext);
  // No database at all: the trades' envelope alone.
  EXPECT_EQ(Ask("getOpenTradeA", account_, "1", "127.0.0.1:1"), Envelope("1", ""));
  // No context rows with a method name: no "data2" member.
  RunSql(db_, {"UPDATE `TsContext` SET TradeMethodName='' WHERE AccountId='" + id_ + "'"});
  EXPECT_EQ(Ask("getOpenTradeA", account_, nullptr), Envelope("1", ""));
}

TEST_F(GetOpenTradeTest, RequestsWithoutAnAccountFirst) {
  EXPECT_EQ(Ask("getOpenTrade", "<symbol>x</symbol>" + account_), Envelope("1", ""));
  EXPECT_EQ(Ask("getOpenTradeA", "<symbol>x</symbol>" + account_), "(banner)");
  EXPECT_EQ(Ask("getOpenTrade", ""), "(banner)");
  EXPECT_EQ(Ask("getOpenTradeA", ""), "(banner)");
  CgiOptions options;
  EXPECT_EQ(AnswerOf(RunCgi(RequestBody("getOpenTrade", nullptr), options)), "(banner)");
}

}  // namespace
