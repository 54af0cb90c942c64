#include "util/TimeText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "util/StringUtil.h"

const char kDateTimeFormat[] = "%Y/%m/%d %H:%M:%S";

namespace {

std::string Format(const struct tm& fields, const std::string& format) {
  char text[128];
  const size_t length =
      std::strftime(text, sizeof text, format.empty() ? kDateTimeFormat : format.c_str(), &fields);
  return std::string(text, length);
}

long OffsetAt(int64_t value) {
  const time_t seconds = static_cast<time_t>(value);
  struct tm fields;
  localtime_r(&seconds, &fields);
  return fields.tm_gmtoff;
}

// The earliest time at which local clocks show `wall` (the same fields read
// as UTC), or false when they never do. The offsets in force a day either
// side are the only ones that can apply: zones change their offset at least
// a week apart, never twice in two days. mktime is not asked, since what it
// makes of a skipped or repeated time depends on tm_isdst and differs by
// library.
bool LocalValue(int64_t wall, int64_t& value) {
  const long before = OffsetAt(wall - 86400), after = OffsetAt(wall + 86400);
  bool found = false;
  for (const long offset : {before, after}) {
    const int64_t candidate = wall - offset;
    if ((!found || candidate < value) && OffsetAt(candidate) == offset) {
      value = candidate;
      found = true;
    }
    if (before == after) break;  // most days have one offset throughout
  }
  return found;
}

// A piece's number, or false when it does not fit well within an int (so
// that the year's and month's offsets cannot overflow either).
bool ReadPiece(const std::string& piece, int& value) {
  errno = 0;
  const long number = std::strtol(piece.c_str(), nullptr, 10);
  if (errno == ERANGE || number > INT_MAX / 2 || number < INT_MIN / 2) return false;
  value = static_cast<int>(number);
  return true;
}

// SplitTimeText, with `wall` the fields read as UTC once carried over.
int SplitTime(const std::string& text, struct tm& fields, int64_t& wall) {
  std::vector<std::string> pieces;
  SplitAny(text.c_str(), "-/: T.", pieces);
  if (pieces.empty() || pieces.size() > 7) return -1;
  fields = tm();
  fields.tm_mday = 1;
  int* const targets[] = {&fields.tm_year, &fields.tm_mon, &fields.tm_mday,
                          &fields.tm_hour, &fields.tm_min, &fields.tm_sec};
  for (size_t i = 0; i < pieces.size() && i < 6; ++i) {
    if (!ReadPiece(pieces[i], *targets[i])) return -1;
  }
  fields.tm_year -= 1900;
  if (pieces.size() >= 2) fields.tm_mon -= 1;
  fields.tm_isdst = 0;
  if (fields.tm_year < 70 || (fields.tm_min > 59 && fields.tm_mon < 0)) return -1;
  // Pieces of 0 carry back across the year too ("1970-01-00" is the last
  // day of 1969): what they name must still be 1970 or later.
  struct tm placed = fields;
  wall = static_cast<int64_t>(timegm(&placed));
  return wall < 0 ? -1 : 0;
}

}  // namespace

std::string NowText(const std::string& format) { return TimeText(std::time(nullptr), 1, format); }

std::string TimeText(int64_t value, int local, const std::string& format) {
  const time_t seconds = static_cast<time_t>(value);
  struct tm fields;
  if (local != 0) {
    localtime_r(&seconds, &fields);
  } else {
    gmtime_r(&seconds, &fields);
  }
  return Format(fields, format);
}

int SplitTimeText(const std::string& text, struct tm& fields) {
  int64_t wall;
  return SplitTime(text, fields, wall);
}

int64_t ParseTimeText(const std::string& text, int local, bool* skipped) {
  struct tm fields;
  int64_t wall;
  if (SplitTime(text, fields, wall) != 0) return -1;
  int64_t value = wall;
  if (local == 0 || LocalValue(wall, value)) return value;
  if (skipped != nullptr) *skipped = true;
  return -1;
}
