// Numeric settings read from the environment. A worker changes its
// environment for every request, so callers read them per request.
#ifndef ZELVORA_UTIL_SETTING_H_
#define ZELVORA_UTIL_SETTING_H_

#include <cstdint>

// The variable `name` as a whole decimal number from `low` to `high`;
// `fallback` when it is unset, not wholly a number, or out of that range
// (the last two said on standard error, once for each value).
int64_t SettingValue(const char* name, int64_t low, int64_t high, int64_t fallback);

#endif  // ZELVORA_UTIL_SETTING_H_
