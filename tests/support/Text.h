// Test support: prefix and suffix checks that print well in assertions.
#ifndef ZELVORA_TESTS_SUPPORT_TEXT_H_
#define ZELVORA_TESTS_SUPPORT_TEXT_H_

#include <string>

#include "util/DateTime.h"

inline bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Calls `build` until the clock did not turn a second during the call, and
// gives its text with every current local time text replaced by "NOW".
template <typename Build>
std::string WithNow(Build build) {
  for (;;) {
    const std::string before = NowText();
    std::string text = build();
    if (NowText() != before) continue;
    for (auto at = text.find(before); at != std::string::npos; at = text.find(before, at)) {
      text.replace(at, before.size(), "NOW");
    }
    return text;
  }
}

#endif  // ZELVORA_TESTS_SUPPORT_TEXT_H_
