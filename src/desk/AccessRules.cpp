#include "desk/AccessRules.h"

#include <cstdint>
#include <cstring>

namespace {

// What a byte may be: part of a user name, of an account id, a blank.
enum : uint8_t { kUserByte = 1, kAccountByte = 2, kBlank = 4 };

struct CByteClasses {
  uint8_t of[256] = {};
  CByteClasses() {
    for (int c = 0; c < 256; ++c) {
      const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (alnum || std::strchr("._-", c) != nullptr) of[c] = kUserByte | kAccountByte;
    }
    of[static_cast<uint8_t>('@')] = kUserByte;
    of[static_cast<uint8_t>(' ')] = of[static_cast<uint8_t>('\t')] = kBlank;
    of[0] = 0;  // strchr finds the terminator
  }
};
const CByteClasses kClasses;

// A line's words in place, each with what all of its bytes may be.
class CWords {
 public:
  CWords(const char* first, const char* last) : at_(first), last_(last) {}
  // The next word, or false at the line's end.
  bool Next(const char*& word, size_t& length, uint8_t& kinds) {
    while (at_ < last_ && kClasses.of[static_cast<uint8_t>(*at_)] == kBlank) ++at_;
    if (at_ == last_ || *at_ == '#') return false;  // a comment runs to the line's end
    word = at_;
    kinds = kUserByte | kAccountByte;
    for (uint8_t of; at_ < last_ && (of = kClasses.of[static_cast<uint8_t>(*at_)]) != kBlank;
         ++at_) {
      kinds &= of;
    }
    length = static_cast<size_t>(at_ - word);
    return true;
  }

 private:
  const char* at_;
  const char* last_;
};

bool IsName(size_t length, uint8_t kinds, uint8_t kind) {
  return length <= CAccessRules::kMaxName && (kinds & kind) != 0;
}

template <size_t N>
bool Is(const char* word, size_t length, const char (&text)[N]) {
  return length == N - 1 && std::memcmp(word, text, N - 1) == 0;
}

// True when every byte of `name` may be part of a name of `kind`.
bool IsWhole(const std::string& name, uint8_t kind) {
  if (name.empty() || name.size() > CAccessRules::kMaxName) return false;
  for (const char c : name) {
    if ((kClasses.of[static_cast<uint8_t>(c)] & kind) == 0) return false;
  }
  return true;
}

}  // namespace

bool CAccessRules::IsUserName(const std::string& name) { return IsWhole(name, kUserByte); }

bool CAccessRules::IsAccountId(const std::string& name) { return IsWhole(name, kAccountByte); }

int CAccessRules::Parse(const std::string& text, std::string& error, const std::string* only) {
  users_.clear();
  if (text.size() > kMaxBytes) {
    error = "larger than " + std::to_string(kMaxBytes) + " bytes";
    return -1;
  }
  // A file caught half written could end inside a word and grant what it
  // never said ("1" of "1001"): a whole file ends in a line end.
  if (!text.empty() && text.back() != '\n') {
    error = "does not end in a line end (half written? replace it by rename)";
    return -1;
  }
  std::unordered_map<std::string, CGrants> users;
  size_t grantCount = 0;
  const char* const end = text.data() + text.size();
  size_t number = 0;
  for (const char* line = text.data(); line < end; ++number) {
    const char* last =
        static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    if (last == nullptr) last = end;
    CWords words(line, last > line && last[-1] == '\r' ? last - 1 : last);
    line = last + 1;
    const char* word;
    size_t length;
    uint8_t kinds;
    if (!words.Next(word, length, kinds)) continue;
    const auto where = [number] { return "line " + std::to_string(number + 1) + ": "; };
    if (!IsName(length, kinds, kUserByte)) {
      error = where() + "a user name of letters, digits and . _ @ - (at most 32) must come first";
      return -1;
    }
    // Only the grants of `only` are kept; every line is checked all the same.
    CGrants* grants = nullptr;
    if (only == nullptr ||
        (only->size() == length && only->compare(0, length, word, length) == 0)) {
      grants = &users[std::string(word, length)];
    }
    const bool verb = words.Next(word, length, kinds), trade = verb && Is(word, length, "trade");
    if (!verb || !(trade || Is(word, length, "read")) || !words.Next(word, length, kinds)) {
      error = where() + "expected USER read|trade ACCOUNT...";
      return -1;
    }
    for (bool named = true; named; named = words.Next(word, length, kinds)) {
      if (!(length == 1 && *word == '*') && !IsName(length, kinds, kAccountByte)) {
        error = where() + "an account is * or letters, digits and . _ - (at most 32)";
        return -1;
      }
      if (++grantCount > kMaxGrants) {
        error = where() + "more than " + std::to_string(kMaxGrants) + " grants";
        return -1;
      }
      if (grants == nullptr) continue;
      grants->read.emplace(word, length);
      if (trade) grants->trade.emplace(word, length);
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
