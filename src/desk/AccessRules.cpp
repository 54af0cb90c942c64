#include "desk/AccessRules.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool IsNameByte(char c, const char* extra) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr(extra, c) != nullptr);
}

bool IsName(const std::string& word, const char* extra) {
  if (word.empty() || word.size() > CAccessRules::kMaxName) return false;
  for (const char c : word) {
    if (!IsNameByte(c, extra)) return false;
  }
  return true;
}

// The blank-separated words of `line` (blanks: space and tab).
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return words;
    const size_t end = line.find_first_of(" \t", at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
}

}  // namespace

int CAccessRules::Parse(const std::string& text, std::string& error) {
  users_.clear();
  if (text.size() > kMaxBytes) {
    error = "larger than " + std::to_string(kMaxBytes) + " bytes";
    return -1;
  }
  std::unordered_map<std::string, CGrants> users;
  size_t number = 0;
  for (size_t at = 0; at < text.size(); ++number) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words.front()[0] == '#') continue;
    const std::string where = "line " + std::to_string(number + 1) + ": ";
    if (!IsName(words[0], "._@-")) {
      error = where + "a user name of letters, digits and . _ @ - (at most 32) must come first";
      return -1;
    }
    if (words.size() < 3 || (words[1] != "read" && words[1] != "trade")) {
      error = where + "expected USER read|trade ACCOUNT...";
      return -1;
    }
    CGrants& grants = users[words[0]];
    for (size_t i = 2; i < words.size(); ++i) {
      if (words[i] != "*" && !IsName(words[i], "._-")) {
        error = where + "an account is * or letters, digits and . _ - (at most 32)";
        return -1;
      }
      grants.read.insert(words[i]);
      if (words[1] == "trade") grants.trade.insert(words[i]);
    }
  }
  users_ = std::move(users);
  error.clear();
  return 0;
}

bool CAccessRules::MayRead(const std::string& user, const std::string& account) const {
  const auto found = users_.find(user);
  return found != users_.end() && Holds(found->second.read, account);
}

bool CAccessRules::MayTrade(const std::string& user, const std::string& account) const {
  const auto found = users_.find(user);
  return found != users_.end() && Holds(found->second.trade, account);
}

std::set<std::string> CAccessRules::Readable(const std::string& user) const {
  const auto found = users_.find(user);
  return found != users_.end() ? found->second.read : std::set<std::string>();
}

std::set<std::string> CAccessRules::Tradable(const std::string& user) const {
  const auto found = users_.find(user);
  return found != users_.end() ? found->second.trade : std::set<std::string>();
}
