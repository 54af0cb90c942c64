// Feeds arbitrary text to the date parser in both modes, and writes back
// every time it accepts: no text may overflow a field or fail to print.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/TimeText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int local : {0, 1}) {
    const int64_t value = ParseTimeText(text, local);
    if (value < -1) std::abort();
    if (value >= 0 && TimeText(value, local).empty()) std::abort();
  }
  struct tm fields;
  if (SplitTimeText(text, fields) == 0 && fields.tm_year < 70) std::abort();
  return 0;
}
