// Date-time texts and values. ctest runs this file twice, under
// TZ=Asia/Tokyo (nine hours ahead of UTC, no daylight saving) and TZ=UTC;
// expectations that depend on the zone name the zone they hold for.
#include "util/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// 2020-01-02 03:04:05 UTC.
const int64_t kUtc = 1577934245;

// The zone's offset in hours, for the two zones the tests run under.
int ZoneHours() {
  const std::string zone = std::getenv("TZ") ? std::getenv("TZ") : "";
  return zone == "Asia/Tokyo" ? 9 : zone == "UTC" ? 0 : -1;
}

class DateTime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ZoneHours() < 0) GTEST_SKIP() << "run under TZ=Asia/Tokyo or TZ=UTC";
    tzset();
  }
  int64_t Offset() const { return ZoneHours() * 3600; }
};

TEST_F(DateTime, FillsMissingPiecesFromTheStartOfTheYear) {
  const int64_t midnight = kUtc - (3 * 3600 + 4 * 60 + 5);
  // An empty hour piece, month 13 (2021-01-01) and day 32 (2020-02-01) are all placed.
  const std::pair<const char*, int64_t> cases[] = {{"2020/01/02 03:04:05", kUtc}, {"2020/1/2", midnight}, {"2020", midnight - 86400}, {"2020-01", midnight - 86400}, {"2020-01-02T03:04:05.123", kUtc}, {"2020-01-02 03", kUtc - 4 * 60 - 5},
                                                   {"2020-01-02  03:04", midnight + 3 * 60 + 4}, {"2020-13-01", 1609459200}, {"2020-01-32", midnight + 30 * 86400}, {"1970-01-01 00:00:00", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ParseTimeText(c.first, 0), c.second) << c.first;
    EXPECT_EQ(ParseTimeText(c.first, 1), c.second - Offset()) << c.first;
  }
}

TEST_F(DateTime, RefusesTextsItCannotPlace) {
  // Eight pieces; before 1970, also by pieces of 0; no number; minute above 59 with month 0; pieces beyond an int's range.
  const char* const refused[] = {"", "2020-01-02 03:04:05.1.2", "1969-12-31 23:59:59", "abc", "x2020-01-02", "2020-00-01 00:60:00", "1970 ", "1970-01-00", "-2147483648-01-01", "2020-4294967296-01", "99999999999999999999"};
  for (const char* text : refused) {
    EXPECT_EQ(ParseTimeText(text, 1), -1) << "[" << text << "]";
    EXPECT_EQ(ParseTimeText(text, 0), -1) << "[" << text << "]";
    struct tm fields;
    EXPECT_EQ(SplitTimeText(text, fields), -1) << "[" << text << "]";
  }
  // Minute 60 with a real month is carried over, not refused.
  EXPECT_EQ(ParseTimeText("2020-01-02 03:60:00", 0), kUtc - 4 * 60 - 5 + 3600);
}

TEST_F(DateTime, WritesLocalOrUtcText) {
  struct tm f;
  ASSERT_EQ(SplitTimeText("2020-01-02T03:04:05.999", f), 0);
  EXPECT_EQ(std::vector<int>({f.tm_year, f.tm_mon, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec, f.tm_isdst}), std::vector<int>({120, 0, 2, 3, 4, 5, 0}));
  EXPECT_EQ(TimeText(kUtc, 0) + "|" + TimeText(0, 0) + "|" + TimeText(-1, 0) + "|" + TimeText(kUtc, 0, "%Y%m%d") + "|" + TimeText(kUtc, 0, std::string(127, 'x')) + "|" + TimeText(kUtc, 0, std::string(128, 'x')),
            "2020/01/02 03:04:05|1970/01/01 00:00:00|1969/12/31 23:59:59|20200102|" + std::string(127, 'x') + "|");  // 128 bytes do not fit
  EXPECT_EQ(TimeText(kUtc, 1), ZoneHours() == 9 ? "2020/01/02 12:04:05" : "2020/01/02 03:04:05");
}

}  // namespace
