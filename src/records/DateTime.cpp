#include "records/DateTime.h"

namespace {

// The current offset of local time from UTC, in seconds.
long LocalOffset() {
  const time_t now = std::time(nullptr);
  struct tm fields;
  localtime_r(&now, &fields);
  return fields.tm_gmtoff;
}

}  // namespace

CDateTime::CDateTime(int64_t value) { Set(value < 0 ? std::time(nullptr) : value); }

void CDateTime::Set(int64_t value) {
  value_ = value;
  const time_t seconds = static_cast<time_t>(value_);
  localtime_r(&seconds, &local_);
}

void CDateTime::AddSeconds(int64_t seconds) {
  const int64_t moved = value_ + seconds;
  Set(moved < 0 ? std::time(nullptr) : moved);
}

void CDateTime::UtcFields(struct tm& fields) const {
  const time_t seconds = static_cast<time_t>(value_);
  gmtime_r(&seconds, &fields);
}

int64_t CDateTime::Seconds(int mode) const { return mode == 1 ? value_ + LocalOffset() : value_; }
