#include "util/Setting.h"

#include <cstdlib>

int64_t SettingValue(const char* name, int64_t low, int64_t high, int64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high ? value : fallback;
}
