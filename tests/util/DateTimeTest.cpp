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
  const char* zone = std::getenv("TZ");
  if (zone != nullptr && std::strcmp(zone, "Asia/Tokyo") == 0) return 9;
  if (zone != nullptr && std::strcmp(zone, "UTC") == 0) return 0;
  return -1;
}

class DateTime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ZoneHours() < 0) GTEST_SKIP() << "run under TZ=Asia/Tokyo or TZ=UTC";
    tzset();
  }
  int64_t Offset() const { return ZoneHours() * 3600; }
};

TEST_F(DateTime, ReadsTextAsLocalOrAsUtc) {
  EXPECT_EQ(ParseTimeText("2020-01-02 03:04:05", 0), kUtc);
  EXPECT_EQ(ParseTimeText("2020-01-02 03:04:05", 1), kUtc - Offset());
  EXPECT_EQ(ParseTimeText("2020/01/02 03:04:05"), kUtc - Offset());
  if (ZoneHours() == 9) {
    EXPECT_EQ(ParseTimeText("2020-01-02 03:04:05", 0) - ParseTimeText("2020-01-02 03:04:05", 1),
              32400);
  }
}

TEST_F(DateTime, FillsMissingPiecesFromTheStartOfTheYear) {
  const int64_t midnight = kUtc - (3 * 3600 + 4 * 60 + 5);
  const struct {
    const char* text;
    int64_t utc;
  } cases[] = {
      {"2020/1/2", midnight},
      {"2020", midnight - 86400},
      {"2020-01", midnight - 86400},
      {"2020-01-02T03:04:05.123", kUtc},
      {"2020-01-02 03", kUtc - 4 * 60 - 5},
      {"2020-01-02  03:04", midnight + 3 * 60 + 4},  // empty hour piece
      {"2020-13-01", 1609459200},                   // 2021-01-01
      {"2020-01-32", midnight + 30 * 86400},        // 2020-02-01
      {"1970-01-01 00:00:00", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseTimeText(c.text, 0), c.utc) << c.text;
    EXPECT_EQ(ParseTimeText(c.text, 1), c.utc - Offset()) << c.text;
  }
}

TEST_F(DateTime, RefusesTextsItCannotPlace) {
  const char* const refused[] = {
      "",
      "2020-01-02 03:04:05.1.2",  // eight pieces
      "1969-12-31 23:59:59",
      "abc",
      "x2020-01-02",
      "2020-00-01 00:60:00",  // minute above 59 with month 0
  };
  for (const char* text : refused) {
    EXPECT_EQ(ParseTimeText(text, 1), -1) << "[" << text << "]";
    EXPECT_EQ(ParseTimeText(text, 0), -1) << "[" << text << "]";
    struct tm fields;
    EXPECT_EQ(SplitTimeText(text, fields), -1) << "[" << text << "]";
  }
  // Minute 60 with a real month is carried over, not refused.
  EXPECT_EQ(ParseTimeText("2020-01-02 03:60:00", 0), kUtc - 4 * 60 - 5 + 3600);
}

TEST_F(DateTime, SplitFillsTheFields) {
  struct tm fields;
  ASSERT_EQ(SplitTimeText("2020-01-02T03:04:05.999", fields), 0);
  EXPECT_EQ(fields.tm_year, 120);
  EXPECT_EQ(fields.tm_mon, 0);
  EXPECT_EQ(fields.tm_mday, 2);
  EXPECT_EQ(fields.tm_hour, 3);
  EXPECT_EQ(fields.tm_min, 4);
  EXPECT_EQ(fields.tm_sec, 5);
  EXPECT_EQ(fields.tm_isdst, 0);
  ASSERT_EQ(SplitTimeText("2021", fields), 0);
  EXPECT_EQ(fields.tm_mon, 0);
  EXPECT_EQ(fields.tm_mday, 1);
}

TEST_F(DateTime, WritesLocalOrUtcText) {
  EXPECT_EQ(TimeText(kUtc, 0), "2020/01/02 03:04:05");
  EXPECT_EQ(TimeText(kUtc, 1), ZoneHours() == 9 ? "2020/01/02 12:04:05" : "2020/01/02 03:04:05");
  EXPECT_EQ(TimeText(0, 0), "1970/01/01 00:00:00");
  EXPECT_EQ(TimeText(-1, 0), "1969/12/31 23:59:59");
  EXPECT_EQ(TimeText(kUtc, 0, "%Y%m%d"), "20200102");
  EXPECT_EQ(TimeText(kUtc, 0, std::string(200, 'x')), "");  // does not fit
}

TEST_F(DateTime, NowTextIsTheCurrentLocalTime) {
  const int64_t before = std::time(nullptr);
  const std::string now = NowText();
  const int64_t after = std::time(nullptr);
  ASSERT_EQ(now.size(), 19u) << now;
  const int64_t read = ParseTimeText(now, 1);
  EXPECT_GE(read, before);
  EXPECT_LE(read, after);
  EXPECT_EQ(NowText("%Y").size(), 4u);
}

TEST_F(DateTime, ValueKeepsItsLocalFieldsInStep) {
  // 2020-01-02 23:59:30 local, a Thursday.
  CDateTime time(ParseTimeText("2020-01-02 23:59:30", 1));
  EXPECT_EQ(time.WeekDay(), 4);
  EXPECT_EQ(time.Hour(), 23);
  time.AddSeconds(60);
  EXPECT_EQ(time.WeekDay(), 5);
  EXPECT_EQ(time.Hour(), 0);
  EXPECT_EQ(TimeText(time.Seconds(), 1), "2020/01/03 00:00:30");
  EXPECT_EQ(time.Seconds(1), time.Seconds() + Offset());
  EXPECT_EQ(time.Seconds(2), time.Seconds());
  struct tm utc;
  time.UtcFields(utc);
  EXPECT_EQ(utc.tm_hour, ZoneHours() == 9 ? 15 : 0);
}

TEST_F(DateTime, NegativeValuesMeanNow) {
  const int64_t before = std::time(nullptr);
  CDateTime now(-1);
  EXPECT_GE(now.Seconds(), before);
  EXPECT_LE(now.Seconds(), std::time(nullptr));
  CDateTime epoch(10);
  epoch.AddSeconds(-11);
  EXPECT_GE(epoch.Seconds(), before);
  CDateTime zero(0);
  EXPECT_EQ(zero.Seconds(), 0);
}

}  // namespace
