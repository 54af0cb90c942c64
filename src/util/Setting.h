// Numeric settings read from the environment. A worker changes its
// environment for every request, so callers read them per request.
#ifndef ZELVORA_UTIL_SETTING_H_
#define ZELVORA_UTIL_SETTING_H_

#include <cstdint>

// A numeric setting: its variable, the range it must lie in, and the value
// taken when it is unset or refused.
struct CSettingRange {
  const char* name;
  int64_t low, high, fallback;
};

// The bounds the program reads, each in one place: what the readers take
// and what a worker lets a request lower (database timeouts are the
// library's own, with the same ranges there).
extern const CSettingRange kShmLockMs, kShmLockTotalMs, kMaxAnswerRecords, kMaxRequestIds,
    kMaxLogBytes, kMysqlConnectTimeout, kMysqlTimeout;

// The variable `name` as a whole decimal number from `low` to `high`;
// `fallback` when it is unset, not wholly a number, or out of that range
// (the last two said on standard error, once for each value).
int64_t SettingValue(const char* name, int64_t low, int64_t high, int64_t fallback);
inline int64_t SettingValue(const CSettingRange& range) {
  return SettingValue(range.name, range.low, range.high, range.fallback);
}

#endif  // ZELVORA_UTIL_SETTING_H_
