// The board format, read from private copies (each in a heap buffer of
// exactly the segment's size, so a read past it shows up under the address
// sanitizer). The readers on real segments, with their diagnostics, are
// the program's table's.
#include <gtest/gtest.h>

#include "shm/Board.h"
#include "support/Desk.h"

namespace {

struct Taken {
  BoardStatus status;
  std::string out;
  bool explained;  // a detail was given
};

// With keys, as the program reads an indexed board: FindBoardRecords (through
// `cache` when given, as a worker does), then AppendBoardRecord for each record
// found; with none (null): TakeBoardRecords.
Taken Take(const std::string& image, int32_t indexSize, const Lines* keys, std::string out = "",
           CBoardIndexCache* cache = nullptr) {
  const std::vector<char> copy(image.begin(), image.end());
  const int32_t size = static_cast<int32_t>(copy.size());
  std::string detail;
  std::vector<int64_t> offsets;
  const BoardStatus status =
      keys ? FindBoardRecords(copy.data(), size, indexSize, *keys, offsets, detail, cache)
           : TakeBoardRecords(copy.data(), size, indexSize, out, detail);
  for (const int64_t offset : offsets)
    if (offset >= 0 && !AppendBoardRecord(&copy[offset], ReadBoardHeader(&copy[0]).recordSize, out))
      detail += "x";
  return {status, out, !detail.empty()};
}

// A record goes into an answer's JSON array only when it is one JSON object;
// whatever it holds inside is kept byte for byte.
TEST(BoardFormat, RecordsAreTakenOnlyWhenTheyAreOneJsonObject) {
  const std::string deep = std::string(63, '[') + std::string(63, ']');
  const std::pair<std::string, std::string> taken[] = {
      // record, what goes into the answer ("*": the record as it is)
      {std::string("{}  \0cd", 7), "{}  "},
      {" {\"a\":\"},\"}\t ", " {\"a\":\"},\"}\t"},
      {"{\"e\":\"\\ud83d\\ude00\"}", "*"},
      {"{\"s\":\"\\u00e9\\n\\\"\\\\\\/"
       "\",\"u\":\"\xc3\xa9\xe6\x97\xa5\xf0\x9d\x84\x9e\",\"n\":-0.5e+10,\"t\":[true,false,null,{}]"
       "}",
       "*"},
      {"{\"d\":" + deep + "}", "*"},
      // Bytes that are not UTF-8 inside strings: one replacement character each.
      {"{\"a\":\"\xc0\xaf\"}", "{\"a\":\"\\ufffd\\ufffd\"}"},
      {"{\"a\":\"\xe6\x97\xa5\xe6\x97\"}", "{\"a\":\"\xe6\x97\xa5\\ufffd\\ufffd\"}"},
      // Not one JSON object: nothing.
      {std::string("\0{}", 3), ""},
      {"{\"d\":[" + deep + "]}", ""},
      {"[1]", ""},
      {"{\"a\":1,}", ""},
      {"{\"a\" 1}", ""},
      {"{\"a\":+1}", ""},
      {"{\"a\":01}", ""},
      {"{\"a\":1.}", ""},
      {"{\"a\":\"\x01\"}", ""},
      {"{\"a\":\"\\q\"}", ""},
      {"{\"a\":\"\\u12G4\"}", ""},
      {"{\"a\":\"\\ud800\"}", ""},
      {"{\"a\":\"\\udc00\\ud800\"}", ""},
      {"{\"a\":1}\xff", ""},
  };
  for (const auto& [record, want] : taken) {
    std::string out = "x";  // after an earlier record: one comma between (none before the first:
                            // the indexed boards' rows)
    const bool took = AppendBoardRecord(record.data(), static_cast<int32_t>(record.size()), out);
    EXPECT_EQ(std::make_pair(took, out),
              std::make_pair(!want.empty(),
                             "x" + (want.empty() ? "" : "," + (want == "*" ? record : want))))
        << ::testing::PrintToString(record);
  }
}

TEST(BoardFormat, WholeBoardsTakeTheirRecordsOrNothing) {
  const struct {
    std::string image;
    int32_t indexSize;
    BoardStatus status;
    const char* out;
  } cases[] = {
      {BoardImage(400, "     2000040", 20, "{}", 40, {"{\"n\":0}", "{\"n\":1}"}), 20,
       BoardStatus::kOk, "x,{\"n\":0},{\"n\":1}"},
      {BoardImage(1812, "    18   100", 0, "", 100, Lines(18, "{}")), 0, BoardStatus::kOk,
       "x,{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}"},  // ends exactly at the end
      {BoardImage(1812, "     0    40", 0, "", 40, {"{}"}), 0, BoardStatus::kOk, "x"},
      {BoardImage(1812, "    -1    40", 0, "", 1, {}), 0, BoardStatus::kBroken, "x"},
      {BoardImage(1812, "    19   100", 0, "", 1, {}), 0, BoardStatus::kBroken, "x"},
      {BoardImage(1812, "     1    10", 0, "", 1, {}), 1801, BoardStatus::kBroken, "x"},
      {BoardImage(1812, "     1     0", 0, "", 1, {}), 0, BoardStatus::kBroken, "x"},
      {"11111111", 0, BoardStatus::kBroken, "x"},  // too small for the header
  };
  for (const auto& c : cases) {
    const Taken taken = Take(c.image, c.indexSize, nullptr, "x");
    EXPECT_EQ(std::tie(taken.status, taken.out, taken.explained),
              std::make_tuple(c.status, std::string(c.out), c.status != BoardStatus::kOk))
        << c.image.substr(0, 12) << " index " << c.indexSize;
  }
  // Records that are not JSON objects are left out, and named.
  const Taken taken = Take(
      BoardImage(1812, "     4    10", 0, "", 10, {"{}", "", "[1]", "{\"a\":2}"}), 0, nullptr, "x");
  EXPECT_EQ(taken.out, "x,{},{\"a\":2}");
  EXPECT_TRUE(taken.explained);
}

TEST(BoardFormat, IndexedBoardsTakeTheNamedRecordsInKeyOrder) {
  const std::string index = "{\"EURUSD\":0,\"USDJPY\":1,\"GBPUSD\":2}";
  auto offers = [](const std::string& header, const std::string& index, int32_t indexSize = 300) {
    return BoardImage(indexSize + 500, header, indexSize, index, 40,
                      {"{\"s\":\"EUR\"}", "{\"s\":\"JPY\"}", "{\"s\":\"GBP\"}"});
  };
  const std::string odd =
      "{\"neg\":-1,\"past\":12,\"huge\":1e300,\"text\":\"0\",\"obj\":{},\"half\":-0.5,"
      "\"frac\":1.9,\"dup\":0,\"dup\":2,\"EUR/USD\":1} trailing bytes";
  const struct {
    std::string image;
    Lines keys;
    BoardStatus status;
    std::string out;
  } cases[] = {
      {offers("     3    40", index), {"eurusd", "EUR/USD", ""}, BoardStatus::kOk, ""},
      {offers("     0    40", index),
       {"GBPUSD"},
       BoardStatus::kOk,
       "{\"s\":\"GBP\"}"},  // the count is not looked at
      // Members naming no record are skipped; fractions are cut toward zero; the last of two
      // counts; a key asked twice is answered twice, in the order asked.
      {offers("     3    40", odd),
       {"neg", "past", "huge", "text", "dup", "half", "frac", "EUR/USD", "dup"},
       BoardStatus::kOk,
       "{\"s\":\"GBP\"},{\"s\":\"EUR\"},{\"s\":\"JPY\"},{\"s\":\"JPY\"},{\"s\":\"GBP\"}"},
      {offers("     3    40", ""), {"EURUSD"}, BoardStatus::kBadIndex, ""},
      {offers("     3    40", "[0,1]"), {"EURUSD"}, BoardStatus::kBroken, ""},
      {offers("     3     0", index), {"EURUSD"}, BoardStatus::kBroken, ""},
      {offers("     0    10", std::string(2000, '[') + std::string(2000, ']'), 4000),
       {"x"},
       BoardStatus::kBadIndex,
       ""},
  };
  CBoardIndexCache kept;  // a worker's, kept from case to case
  for (const auto& c : cases) {
    const int32_t indexSize = static_cast<int32_t>(c.image.size()) - 500;
    for (CBoardIndexCache* cache : {static_cast<CBoardIndexCache*>(nullptr), &kept}) {
      const Taken taken = Take(c.image, indexSize, &c.keys, "", cache);
      const std::string row = ::testing::PrintToString(c.keys) + (cache ? " cached" : "");
      EXPECT_EQ(std::tie(taken.status, taken.out, taken.explained),
                std::make_tuple(c.status, c.out, c.status != BoardStatus::kOk))
          << row;
    }
  }
}

}  // namespace
