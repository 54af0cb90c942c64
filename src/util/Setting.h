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
// library's own, with the same ranges there); FCGI_TIMEOUT is a worker's;
// OFFER_STALE_SECONDS is the health check's.
extern const CSettingRange kShmLockMs, kShmLockTotalMs, kMaxAnswerRecords, kMaxRequestIds,
    kMaxLogBytes, kMysqlConnectTimeout, kMysqlTimeout, kFcgiTimeout, kOfferStaleSeconds;

// True, with `value` set, when `text` is a whole decimal number within
// `range`; false, `value` untouched, for anything else (null included).
bool SettingNumber(const char* text, const CSettingRange& range, int64_t& value);

// The variable of `range` as SettingNumber reads it; the fallback when it
// is unset or refused (a refusal said on standard error, once for each
// value).
int64_t SettingValue(const CSettingRange& range);

#endif  // ZELVORA_UTIL_SETTING_H_
