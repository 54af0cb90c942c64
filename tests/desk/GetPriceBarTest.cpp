// getPriceBar through the program: price-bar boards only.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/Boards.h"
#include "support/Cgi.h"

namespace {

class GetPriceBarTest : public ::testing::Test {
 protected:
  void TearDown() override { RemoveBoardsMarked(symbol_); }

  std::string Ask(const std::string& params, const char* selDb = "1") {
    CgiOptions options;
    options.shmSelDb = selDb;
    const ProcessResult result = RunCgi(RequestBody("getPriceBar", params), options);
    EXPECT_EQ(result.status, 0);
    return AnswerOf(result);
  }

  const std::string symbol_ = "Z" + std::to_string(getpid());
  const std::string bars_ = "{\"StartDate\":\"2026/12/05 00:00:00\"},{\"StartDate\":\"2026/12/05 00:05:00\"}";
};

TEST_F(GetPriceBarTest, SlashlessSymbolAndPeriodNameTheBoard) {
  ScopedBoard board("pricebar." + symbol_ + "JPY5");
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(172812, "     2    50", 0, "", 50,
                                               {"{\"StartDate\":\"2026/12/05 00:00:00\"}",
                                                "{\"StartDate\":\"2026/12/05 00:05:00\"}"})),
            0);
  const std::string expected = "{\"status\":0, \"data\":[" + bars_ + "]}";
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "/JPY</symbol><period>5</period>"), expected);
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "JPY</symbol><period>5</period>"), expected);
  EXPECT_EQ(Ask("<x><period>5</period></x><y><symbol>/" + symbol_ + "/JPY/</symbol></y>"), expected);
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "JPY</symbol><period>5</period>", nullptr), expected);
}

TEST_F(GetPriceBarTest, EmptyPeriodStillNamesABoard) {
  ScopedBoard board("pricebar." + symbol_);
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(172812, "     0    50", 0, "", 50, {})), 0);
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "</symbol><period></period>"), "{\"status\":0, \"data\":[]}");
}

TEST_F(GetPriceBarTest, NoBoardNoDatabase) {
  const std::string failed = "{\"status\":1, \"data\":[]}";
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "</symbol><period>9</period>"), failed);
  EXPECT_EQ(Ask("<symbol>" + symbol_ + "</symbol>"), failed);
  EXPECT_EQ(Ask("<period>9</period>"), failed);
  EXPECT_EQ(Ask(""), "(banner)");
}

}  // namespace
