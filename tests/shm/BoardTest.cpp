// The board format read from private copies: every copy sits in a heap
// buffer of exactly the segment's size, so a read past it shows up under
// the address sanitizer.
#include "shm/Board.h"

#include <gtest/gtest.h>

#include "support/Boards.h"

namespace {

using Keys = std::vector<std::string>;

struct Taken {
  BoardStatus status;
  std::string out;
  std::string detail;
};

Taken TakeAll(const std::string& image, int32_t indexSize, std::string out = "") {
  const std::vector<char> copy(image.begin(), image.end());
  std::string detail;
  const BoardStatus status =
      TakeBoardRecords(copy.data(), static_cast<int32_t>(copy.size()), indexSize, out, detail);
  return {status, out, detail};
}

Taken TakeKeys(const std::string& image, int32_t indexSize, const Keys& keys) {
  const std::vector<char> copy(image.begin(), image.end());
  std::string out, detail;
  const BoardStatus status = TakeBoardRecordsByKeys(
      copy.data(), static_cast<int32_t>(copy.size()), indexSize, keys, out, detail);
  return {status, out, detail};
}

TEST(BoardHeader, ReadsEachSixByteFieldAlone) {
  const struct {
    const char* header;
    int32_t count, size;
  } cases[] = {
      {"     3000040", 3, 40},      {"000002000010", 2, 10},    {"123456789012", 123456, 789012},
      {"  -1      5", -1, 5},       {"abcdefghijkl", 0, 0},     {"3x    40    ", 3, 40},
      {"+5    -0007", 5, -7},       {"            ", 0, 0},     {"99999999    ", 999999, 99},
  };
  for (const auto& c : cases) {
    const BoardHeader header = ReadBoardHeader(c.header);
    EXPECT_EQ(header.count, c.count) << "header [" << c.header << "]";
    EXPECT_EQ(header.recordSize, c.size) << "header [" << c.header << "]";
  }
  const BoardHeader header = ReadBoardHeader(FormatBoardHeader(17, 999999).c_str());
  EXPECT_EQ(header.count, 17);
  EXPECT_EQ(header.recordSize, 999999);
  EXPECT_EQ(FormatBoardHeader(3, 40), "     3    40");
}

TEST(BoardRecordOffset, KeepsEveryRecordInsideTheSegment) {
  EXPECT_EQ(BoardRecordOffset(1812, 0, 100, 0), 12);
  EXPECT_EQ(BoardRecordOffset(1812, 0, 100, 17), 1712);  // ends exactly at S
  EXPECT_EQ(BoardRecordOffset(1812, 0, 100, 18), -1);
  EXPECT_EQ(BoardRecordOffset(64032, 4000, 40, 0), 4012);
  EXPECT_EQ(BoardRecordOffset(1812, 0, 0, 0), -1);
  EXPECT_EQ(BoardRecordOffset(1812, 0, -40, 1), -1);
  EXPECT_EQ(BoardRecordOffset(1812, 0, 10, -1), -1);
  EXPECT_EQ(BoardRecordOffset(1812, 1801, 1, 0), -1);
  EXPECT_EQ(BoardRecordOffset(1812, -4, 10, 0), -1);
  EXPECT_EQ(BoardRecordOffset(1812, 0, 2000000000, 1), -1);
  EXPECT_EQ(BoardRecordOffset(10, 0, 1, 0), -1);  // no room for the header
}

TEST(AppendBoardRecord, EndsAtLastNonBlankOrFirstNul) {
  const struct {
    std::string record, before, after;
  } cases[] = {
      {"abc   ", "", "abc"},
      {"abc   ", "x", "x,abc"},
      {"      ", "x", "x,"},  // a blank record keeps its comma
      {"      ", "", ""},
      {std::string("ab\0cd ", 6), "", "ab"},
      {std::string("ab  \0cd", 7), "", "ab  "},  // the NUL comes first
      {std::string("ab\0   ", 6), "", "ab"},
      {std::string("\0abc", 4), "", ""},
      {" a\tb \t ", "", " a\tb \t"},
  };
  for (const auto& c : cases) {
    std::string out = c.before;
    AppendBoardRecord(c.record.data(), static_cast<int32_t>(c.record.size()), out);
    EXPECT_EQ(out, c.after) << "record " << ::testing::PrintToString(c.record);
  }
}

TEST(TakeBoardRecords, ReadsRecordsAfterTheIndexArea) {
  // Count "     3" (blank padded), size "000040": records at 12 + A, 52 + A, 92 + A.
  for (int32_t indexSize : {0, 20}) {
    const std::string image =
        BoardImage(400, "     3000040", indexSize, "{}", 40, {"{\"n\":0}", "{\"n\":1}", "{\"n\":2}"});
    const Taken taken = TakeAll(image, indexSize);
    EXPECT_EQ(taken.status, BoardStatus::kOk) << "index " << indexSize;
    EXPECT_EQ(taken.out, "{\"n\":0},{\"n\":1},{\"n\":2}") << "index " << indexSize;
  }
}

TEST(TakeBoardRecords, JoinsWithCommasAsTheTextGrows) {
  const std::string image = BoardImage(1812, "     3    10", 0, "", 10, {"a", "", "b"});
  EXPECT_EQ(TakeAll(image, 0).out, "a,,b");
  EXPECT_EQ(TakeAll(image, 0, "x").out, "x,a,,b");
  const std::string blankFirst = BoardImage(1812, "     2    10", 0, "", 10, {"", "b"});
  EXPECT_EQ(TakeAll(blankFirst, 0).out, "b");
}

TEST(TakeBoardRecords, EmptyBoardsTakeNothing) {
  for (const char* header : {"     0    40", "            ", "abc   000040", "-0    40"}) {
    const Taken taken = TakeAll(BoardImage(1812, header, 0, "", 40, {"{}"}), 0, "x");
    EXPECT_EQ(taken.status, BoardStatus::kOk) << header;
    EXPECT_EQ(taken.out, "x") << header;
  }
}

TEST(TakeBoardRecords, BrokenHeadersTakeNothing) {
  const struct {
    const char* header;
    int32_t size, indexSize;
  } cases[] = {
      {"    -1    40", 1812, 0},  // negative count
      {"     1     0", 1812, 0},  // records of no bytes
      {"     1   -40", 1812, 0},
      {"    19   100", 1812, 0},  // the 19th record ends past S
      {"999999999999", 1812, 0},
      {"     1  1801", 1812, 0},
      {"     1    10", 1812, 1801},  // index area leaves no room
      {"     1    10", 1812, -1},
  };
  for (const auto& c : cases) {
    const Taken taken = TakeAll(BoardImage(c.size, c.header, 0, "", 1, {}), c.indexSize, "x");
    EXPECT_EQ(taken.status, BoardStatus::kBroken) << c.header << " index " << c.indexSize;
    EXPECT_EQ(taken.out, "x") << c.header;
    EXPECT_FALSE(taken.detail.empty()) << c.header;
  }
  // A buffer too small for the header is not read at all.
  const std::vector<char> tiny(8, '1');
  std::string out, detail;
  EXPECT_EQ(TakeBoardRecords(tiny.data(), 8, 0, out, detail), BoardStatus::kBroken);
}

TEST(TakeBoardRecords, TheLastRecordMayEndExactlyAtTheSegmentEnd) {
  std::vector<std::string> records(18, "r");
  const Taken taken = TakeAll(BoardImage(1812, "    18   100", 0, "", 100, records), 0);
  EXPECT_EQ(taken.status, BoardStatus::kOk);
  EXPECT_EQ(taken.out.size(), 18u * 2 - 1);
}

const char kIndex[] = "{\"EURUSD\":0,\"USDJPY\":1,\"GBPUSD\":2}";

std::string OfferImage(const std::string& header, const std::string& index,
                       int32_t indexSize = 100) {
  return BoardImage(indexSize + 500, header, indexSize, index, 40, {"{\"s\":\"EURUSD\"}", "{\"s\":\"USDJPY\"}",
                                                   "{\"s\":\"GBPUSD\"}"});
}

TEST(TakeBoardRecordsByKeys, AnswersInTheOrderOfTheKeys) {
  const std::string image = OfferImage("     3    40", kIndex);
  const struct {
    Keys keys;
    const char* out;
  } cases[] = {
      {{"USDJPY", "EURUSD"}, "{\"s\":\"USDJPY\"},{\"s\":\"EURUSD\"}"},
      {{"CHFJPY", "GBPUSD"}, "{\"s\":\"GBPUSD\"}"},
      {{"EURUSD", "EURUSD"}, "{\"s\":\"EURUSD\"},{\"s\":\"EURUSD\"}"},
      {{"eurusd", "EUR/USD", ""}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    const Taken taken = TakeKeys(image, 100, c.keys);
    EXPECT_EQ(taken.status, BoardStatus::kOk) << ::testing::PrintToString(c.keys);
    EXPECT_EQ(taken.out, c.out) << ::testing::PrintToString(c.keys);
  }
}

TEST(TakeBoardRecordsByKeys, IgnoresTheHeaderCount) {
  const Taken taken = TakeKeys(OfferImage("     0    40", kIndex), 100, {"GBPUSD"});
  EXPECT_EQ(taken.out, "{\"s\":\"GBPUSD\"}");
}

TEST(TakeBoardRecordsByKeys, IndexMembersThatNameNoRecordAreSkipped) {
  const std::string index =
      "{\"neg\":-1,\"past\":12,\"huge\":1e300,\"text\":\"0\",\"nul\":null,\"obj\":{},"
      "\"half\":-0.5,\"frac\":1.9,\"dup\":0,\"dup\":2,\"EUR/USD\":1} trailing bytes";
  const struct {
    const char* key;
    const char* out;
  } cases[] = {
      {"neg", ""},
      {"past", ""},
      {"huge", ""},
      {"text", ""},
      {"nul", ""},
      {"obj", ""},
      {"half", "{\"s\":\"EURUSD\"}"},  // truncated toward zero
      {"frac", "{\"s\":\"USDJPY\"}"},
      {"dup", "{\"s\":\"GBPUSD\"}"},  // the last one counts
      {"EUR/USD", "{\"s\":\"USDJPY\"}"},
  };
  for (const auto& c : cases) {
    const Taken taken = TakeKeys(OfferImage("     3    40", index, 300), 300, {c.key});
    EXPECT_EQ(taken.status, BoardStatus::kOk) << c.key;
    EXPECT_EQ(taken.out, c.out) << c.key;
  }
}

TEST(TakeBoardRecordsByKeys, BrokenIndexOrHeaderTakesNothing) {
  const struct {
    const char* header;
    const char* index;
    BoardStatus status;
  } cases[] = {
      {"     3    40", "", BoardStatus::kBadIndex},
      {"     3    40", "{\"EURUSD\":", BoardStatus::kBadIndex},
      {"     3    40", "EURUSD=0", BoardStatus::kBadIndex},
      {"     3    40", "{\"EURUSD\":2e999}", BoardStatus::kBadIndex},  // beyond a double
      {"     3    40", "[0,1]", BoardStatus::kBroken},
      {"     3    40", "7", BoardStatus::kBroken},
      {"     3     0", kIndex, BoardStatus::kBroken},
      {"     3   -40", kIndex, BoardStatus::kBroken},
  };
  for (const auto& c : cases) {
    const Taken taken = TakeKeys(OfferImage(c.header, c.index), 100, {"EURUSD"});
    EXPECT_EQ(taken.status, c.status) << c.header << " " << c.index;
    EXPECT_EQ(taken.out, "") << c.index;
    EXPECT_FALSE(taken.detail.empty()) << c.index;
  }
  // Without keys nothing is looked at.
  EXPECT_EQ(TakeKeys(OfferImage("     3     0", "["), 100, {}).status, BoardStatus::kOk);
}

TEST(TakeBoardRecordsByKeys, SurvivesADeeplyNestedIndex) {
  const std::string nested = std::string(2000, '[') + std::string(2000, ']');
  const std::string image = BoardImage(4100, "     0    10", 4000, nested, 10, {});
  EXPECT_EQ(TakeKeys(image, 4000, {"x"}).status, BoardStatus::kBadIndex);
}

TEST(FindBoardLayout, TakesTheKeysFirstWord) {
  const struct {
    const char* key;
    int32_t size, indexSize;
  } cases[] = {{"account.1001", 1812, 0},
               {"trade.1001", 114012, 0},
               {"offer", 64032, 4000},
               {"pricebar.EURUSD1", 172812, 0},
               {"pricebar.EURUSD.5", 172812, 0}};
  for (const auto& c : cases) {
    const BoardLayout* layout = FindBoardLayout(c.key);
    ASSERT_NE(layout, nullptr) << c.key;
    EXPECT_EQ(layout->size, c.size) << c.key;
    EXPECT_EQ(layout->indexSize, c.indexSize) << c.key;
  }
  EXPECT_EQ(FindBoardLayout("accounts.1"), nullptr);
  EXPECT_EQ(FindBoardLayout("Account.1"), nullptr);
  EXPECT_EQ(FindBoardLayout(""), nullptr);
}

}  // namespace
