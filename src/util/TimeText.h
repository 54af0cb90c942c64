// Date-time texts. A time value is seconds since 1970-01-01
// 00:00:00 UTC; texts default to "%Y/%m/%d %H:%M:%S" (2020/01/02 03:04:05).
// Everything rests on the process's time zone (TZ) and keeps no state.
#ifndef ZELVORA_UTIL_TIMETEXT_H_
#define ZELVORA_UTIL_TIMETEXT_H_

#include <cstdint>
#include <ctime>
#include <string>

extern const char kDateTimeFormat[];  // "%Y/%m/%d %H:%M:%S"

// The current time as local time in `format` (strftime; the default format
// when empty). A result that does not fit 127 characters gives "".
std::string NowText(const std::string& format = "");

// `value` as local time when `local` is non-zero, else as UTC, in `format`
// (the default when empty). "" when the result does not fit 127 characters.
std::string TimeText(int64_t value, int local = 1, const std::string& format = "");

// Splits a date-time text at any of "-/: T." into year, month, day, hour,
// minute and second (as many as there are pieces, up to six; a seventh is
// ignored) into `fields` (time 00:00:00, day 1, January when absent;
// tm_isdst 0). 0 when accepted; -1 for no piece, more than seven, a year
// before 1970, or a minute above 59 with a month below 1. Out-of-range
// values are left for the conversion to carry over, on the calendar first:
// "2024-03-09 26:30" is 02:30 on the 10th, which New York skips.
int SplitTimeText(const std::string& text, struct tm& fields);

// The text's time value, read as local time when `local` is non-zero and as
// UTC otherwise; -1 when SplitTimeText refuses it. Local time follows the
// zone's daylight saving: a wall-clock time the zone shows twice (the hour
// that repeats when clocks go back) is taken at its first, earlier
// occurrence; one the zone skips (clocks going forward) is refused with -1,
// and `skipped`, when given, is set to say that this was the reason.
int64_t ParseTimeText(const std::string& text, int local = 1, bool* skipped = nullptr);

#endif  // ZELVORA_UTIL_TIMETEXT_H_
