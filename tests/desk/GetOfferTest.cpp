// getOffer through the program: the offer board and its index, the Offer
// table, and the choice between them. The board's key is fixed ("offer"):
// these tests hold its lock and leave no board behind.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

const char kIndex[] = "{\"EURUSD\":0,\"USD/JPY\":1,\"GBPUSD\":2}";
const char kEur[] = "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}";
const char kJpy[] = "{\"Symbol\":\"USD/JPY\",\"Bid\":151.3}";
const char kGbp[] = "{\"Symbol\":\"GBPUSD\",\"Bid\":1.27}";

class GetOfferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    RunSql(db_, {"DELETE FROM `Offer`",
                 "INSERT INTO `Offer` (OfferID, Symbol, Bid, Ask, PointSize, Time) VALUES "
                 "('1', 'EURUSD', 1.0842, 1.0844, 0.0001, '2026-12-05 09:30:00'), "
                 "('2', 'USDJPY', 151.32, 151.34, 0.01, '2026-12-05 09:30:01')"});
  }
  void TearDown() override {
    if (!db_.host.empty()) RunSql(db_, {"DELETE FROM `Offer`"});
  }

  std::string Ask(const char* params, const char* selDb = "1", const std::string& host = "") {
    CgiOptions options;
    options.shmSelDb = selDb;
    options.database = &db_;
    options.host = host;
    const ProcessResult result = RunCgi(RequestBody("getOffer", params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  static std::string Envelope(const std::string& status, const std::string& data) {
    return "{\"status\":" + status + ", \"data\":[" + data + "]}";
  }

  DatabaseSettings db_;
  ScopedBoard board_{"offer"};
  // Times in the table are Tokyo time; the answer writes them as UTC.
  const std::string eurRow_ =
      "{\"OfferID\":\"1\",\"Symbol\":\"EURUSD\",\"Bid\":1.084200,\"Ask\":1.084400,\"High\":0.000000,"
      "\"Low\":0.000000,\"PipCost\":0.000000,\"PointSize\":0.000100,\"Time\":\"2026/12/05 00:30:00\"}";
  const std::string jpyRow_ =
      "{\"OfferID\":\"2\",\"Symbol\":\"USDJPY\",\"Bid\":151.320000,\"Ask\":151.340000,"
      "\"High\":0.000000,\"Low\":0.000000,\"PipCost\":0.000000,\"PointSize\":0.010000,"
      "\"Time\":\"2026/12/05 00:30:01\"}";
};

TEST_F(GetOfferTest, BoardAnswersByIndexInTheOrderAsked) {
  ASSERT_EQ(WriteBoard("offer", BoardImage(64032, "     3   100", 4000, kIndex, 100, {kEur, kJpy, kGbp})), 0);
  const struct {
    const char* params;
    std::string data;
  } cases[] = {
      {"<symbol>USD/JPY</symbol><symbol>EURUSD</symbol>", std::string(kJpy) + "," + kEur},
      {"<symbol>CHFJPY</symbol><symbol>GBPUSD</symbol>", kGbp},
      {"<symbol>EURUSD</symbol><symbol>EURUSD</symbol>", std::string(kEur) + "," + kEur},
      {"<symbol>USDJPY</symbol>", ""},  // the board knows it with its slash only
      {"<accountid>7</accountid>", ""},
      {nullptr, std::string(kEur) + "," + kJpy + "," + kGbp},
      {"", std::string(kEur) + "," + kJpy + "," + kGbp},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ask(c.params), Envelope("0", c.data)) << (c.params ? c.params : "(no params)");
  }
}

TEST_F(GetOfferTest, EmptyBoardIsStillTheAnswer) {
  ASSERT_EQ(WriteBoard("offer", BoardImage(64032, "     0   100", 4000, "{}", 100, {})), 0);
  EXPECT_EQ(Ask(nullptr), Envelope("0", ""));
  EXPECT_EQ(Ask("<symbol>EURUSD</symbol>"), Envelope("0", ""));
}

TEST_F(GetOfferTest, BrokenIndexFallsBackLikeAMissingBoard) {
  ASSERT_EQ(WriteBoard("offer", BoardImage(64032, "     1   100", 4000, "EURUSD=0", 100, {kEur})), 0);
  CgiOptions options;
  options.database = &db_;
  const ProcessResult result = RunCgi(RequestBody("getOffer", "<symbol>EURUSD</symbol>"), options);
  EXPECT_EQ(AnswerOf(result), Envelope("0", eurRow_));
  EXPECT_EQ(result.err.substr(0, 52), "filename[src/desk/Zelvora], line[115] malloc error. ");
  // Without symbols the index is not read at all.
  EXPECT_EQ(Ask(nullptr), Envelope("0", kEur));
}

TEST_F(GetOfferTest, MissingBoardFallsBackToTheTableWhenAllowed) {
  const struct {
    const char* params;
    const char* selDb;
    std::string host;
    std::string answer;
  } cases[] = {
      {"<symbol>USDJPY</symbol><symbol>EURUSD</symbol>", "1", "",
       Envelope("0", eurRow_ + "," + jpyRow_)},  // table order, by OfferID
      {nullptr, "1", "", Envelope("0", eurRow_ + "," + jpyRow_)},
      {"<symbol>EURUSD</symbol><symbol>EURUSD</symbol>", "1", "", Envelope("0", eurRow_)},
      {"<accountid>USDJPY</accountid>", "1", "", Envelope("0", jpyRow_)},
      {"<symbol>CHFJPY</symbol>", "1", "", Envelope("1", "")},
      {"<symbol>EURUSD</symbol>", "1", "127.0.0.1:1", Envelope("1", "")},
      {"<symbol>EURUSD</symbol>", nullptr, "", Envelope("1", "")},
      {"<symbol>EURUSD</symbol>", " 1", "", Envelope("1", "")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ask(c.params, c.selDb, c.host), c.answer)
        << (c.params ? c.params : "(no params)") << " SHM_SEL_DB=" << (c.selDb ? c.selDb : "(unset)")
        << " " << c.host;
  }
}

}  // namespace
