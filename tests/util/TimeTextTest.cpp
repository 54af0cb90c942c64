// Date-time texts and values. ctest runs this file under TZ=Asia/Tokyo (no
// daylight saving), UTC, Europe/London and America/New_York; the zone
// table has a column for each.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/TimeText.h"

namespace {

// 2020-01-02 03:04:05 UTC.
const int64_t kUtc = 1577934245;
const char* const kZones[] = {"Asia/Tokyo", "UTC", "Europe/London", "America/New_York"};

// A local text and the hours each zone's clock is ahead of UTC there (kSkip: the zone skips it).
const int kSkip = 99;
struct ZoneCase {
  const char* local;
  int ahead[4];
};

const ZoneCase kZoneCases[] = {
    {"2020/01/02 03:04:05", {9, 0, 0, -5}},
    {"2024/07/01 12:00:00", {9, 0, 1, -4}},
    // New York's clocks go forward at 02:00 on 10 March 2024, London's at 01:00 on 31 March: the
    // last second before, a skipped time, the first after (the reading knows no zone: one zone's
    // edges stand for every zone's).
    {"2024/03/10 01:59:59", {9, 0, 0, -5}},
    {"2024/03/10 02:30:00", {9, 0, 0, kSkip}},
    {"2024/03/10 03:00:00", {9, 0, 0, -4}},
    {"2024/03/31 01:30:00", {9, 0, kSkip, -4}},
    // London back at 02:00 summer time on 27 October, New York on 3 November: 01:00 to 01:59
    // come twice, the first is taken.
    {"2024/10/27 01:30:00", {9, 0, 1, -4}},
    {"2024/10/27 02:00:00", {9, 0, 0, -4}},
    {"2024/11/03 01:30:00", {9, 0, 0, -4}},
    {"2024/11/03 02:00:00", {9, 0, 0, -5}},
};

// The UTC value of a "Y/m/d H:M:S" text, by the C library.
int64_t Utc(const char* text) {
  struct tm f = {};
  std::sscanf(text, "%d/%d/%d %d:%d:%d", &f.tm_year, &f.tm_mon, &f.tm_mday, &f.tm_hour, &f.tm_min,
              &f.tm_sec);
  f.tm_year -= 1900;
  --f.tm_mon;
  return timegm(&f);
}

class TimeTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    for (zone_ = 0; zone != nullptr && zone_ < 4 && std::strcmp(zone, kZones[zone_]) != 0;) ++zone_;
    if (zone == nullptr || zone_ == 4)
      GTEST_SKIP() << "run under one of the four zones of the table";
    tzset();
  }
  int zone_ = 0;
};

TEST_F(TimeTexts, ReadsLocalTimesWithTheZonesDaylightSaving) {
  for (const ZoneCase& c : kZoneCases) {
    bool skipped = false;
    const int64_t value = ParseTimeText(c.local, 1, &skipped);
    const int ahead = c.ahead[zone_];
    const std::string where = std::string(c.local) + " in " + kZones[zone_];
    EXPECT_EQ(value, ahead == kSkip ? -1 : Utc(c.local) - ahead * 3600) << where;
    EXPECT_EQ(skipped, ahead == kSkip) << where;
    // Written back as local time, an accepted text comes out as it went in.
    EXPECT_EQ(value == -1 ? c.local : TimeText(value, 1), c.local) << where;
  }
}

TEST_F(TimeTexts, FillsMissingPiecesFromTheStartOfTheYear) {
  const int64_t midnight = kUtc - (3 * 3600 + 4 * 60 + 5);
  // An empty hour piece and month 13 (2021-01-01) are placed.
  const std::pair<const char*, int64_t> cases[] = {{"2020/1/2", midnight},
                                                   {"2020", midnight - 86400},
                                                   {"2020-01-02T03:04:05.123", kUtc},
                                                   {"2020-13-01", 1609459200},
                                                   {"1970-01-01 00:00:00", 0}};
  // (Read as local time, each goes the zone rows' way above.)
  for (const auto& c : cases) EXPECT_EQ(ParseTimeText(c.first, 0), c.second) << c.first;
}

TEST_F(TimeTexts, RefusesTextsItCannotPlace) {
  // Eight pieces; before 1970, also by a piece of 0; no number; minute above 59 with month 0; a
  // piece beyond half an int's range.
  const char* const refused[] = {"",
                                 "2020-01-02 03:04:05.1.2",
                                 "1969-12-31 23:59:59",
                                 "x2020-01-02",
                                 "2020-00-01 00:60:00",
                                 "1970-01-00",
                                 "2020-4294967296-01"};
  for (const char* text : refused) {
    bool skipped = false;
    EXPECT_EQ(ParseTimeText(text, 1, &skipped), -1) << "[" << text << "]";
    EXPECT_FALSE(skipped) << "[" << text << "]";
  }
  // Minute 60 with a real month is carried over, not refused.
  EXPECT_EQ(ParseTimeText("2020-01-02 03:60:00", 0), kUtc - 4 * 60 - 5 + 3600);
}

TEST_F(TimeTexts, WritesUtcText) {
  EXPECT_EQ(TimeText(-1, 0), "1969/12/31 23:59:59");
  EXPECT_EQ(TimeText(kUtc, 0, std::string(127, 'x')), std::string(127, 'x'));
  EXPECT_EQ(TimeText(kUtc, 0, std::string(128, 'x')), "") << "128 bytes do not fit";
}

}  // namespace
