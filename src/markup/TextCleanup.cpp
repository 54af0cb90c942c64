#include "markup/TextCleanup.h"

#include <algorithm>

#include "util/StringUtil.h"

namespace {

struct EntityRow {
  const char* named;
  const char* numeric;
  const char* replacement;
};

const EntityRow kEntities[] = {
    {"&nbsp;", "&#160;", " "}, {"&yen;", "&#165;", "\\"},  {"&quot;", "&#34;", "\""},
    {"&amp;", "&#38;", "&"},   {"&times;", "&#215;", "X"},
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

void TrimBlanks(std::string& text) {
  const std::string::size_type first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    text.clear();
    return;
  }
  text.erase(text.find_last_not_of(' ') + 1);
  text.erase(0, first);
}

bool StripPattern(std::string& text, const std::string& pattern) {
  if (pattern.empty() || text.find(pattern) == std::string::npos) return false;
  if (text.compare(0, pattern.size(), pattern) == 0) {
    const std::string::size_type rest = text.find_first_not_of(pattern);
    if (rest == std::string::npos) {
      text.clear();
      return true;
    }
    text.erase(0, rest);
  }
  while (EndsWith(text, pattern)) text.erase(text.size() - pattern.size());
  return true;
}

void StripLineEnds(std::string& text) {
  if (StripPattern(text, "\r\n")) return;
  if (StripPattern(text, "\n")) return;
  StripPattern(text, "\r");
}

void StripTabs(std::string& text) { StripPattern(text, "\t"); }

void DecodeEntities(std::string& text) {
  // Every form starts with "&"; most texts have none.
  if (text.find('&') == std::string::npos) return;
  for (const EntityRow& row : kEntities) {
    if (!ReplaceAll(text, row.named, row.replacement)) {
      ReplaceAll(text, row.numeric, row.replacement);
    }
  }
}

std::string CleanTextRun(std::string run) {
  // Most runs (a request's values) have nothing to strip.
  const auto plain = [](char c) { return c != '\r' && c != '\n' && c != '\t'; };
  if (!run.empty() && run.front() != ' ' && run.back() != ' ' &&
      std::all_of(run.begin(), run.end(), plain)) {
    return run;
  }
  TrimBlanks(run);
  StripLineEnds(run);
  StripTabs(run);
  return run;
}
