// Test support: prefix and suffix checks that print well in assertions.
#ifndef ZELVORA_TESTS_SUPPORT_TEXT_H_
#define ZELVORA_TESTS_SUPPORT_TEXT_H_

#include <string>

inline bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

#endif  // ZELVORA_TESTS_SUPPORT_TEXT_H_
