#include "stream/StreamAuth.h"

#include <cstdio>
#include <cstring>

#include "util/StringUtil.h"

CStreamAuth::CStreamAuth(const std::string& key, const std::string* accessPath)
    : key_(key), hasAccess_(accessPath != nullptr), path_(hasAccess_ ? *accessPath : "") {
  if (hasAccess_) Load();
}

bool CStreamAuth::KeyMatches(const char* given) const {
  if (given == nullptr) return false;
  const size_t length = std::strlen(given);
  // Every byte of the key is looked at whatever the header holds, so the
  // time taken tells nothing of how much of it was right.
  unsigned char differ = length == key_.size() ? 0 : 1;
  for (size_t i = 0; i < key_.size(); ++i) {
    differ |= static_cast<unsigned char>(key_[i] ^ (i < length ? given[i] : 0));
  }
  return differ == 0;
}

bool CStreamAuth::IsUser(const char* user) {
  return user != nullptr && CAccessRules::IsUserName(user);
}

void CStreamAuth::Load() {
  std::string error = "ZELVORA_ACCESS is empty";
  rules_ = path_.empty() ? nullptr : file_.Rules(path_, nullptr, error);
  if (rules_ == nullptr && error != error_) {
    std::fprintf(stderr, "zelvora-stream: grants refused, no stream served: %s\n",
                 Printable(error).c_str());
  }
  error_ = rules_ == nullptr ? error : "";
}

bool CStreamAuth::Refresh(int64_t nowMillis) {
  if (!hasAccess_ || nowMillis - lookedAt_ < 1000) return false;
  lookedAt_ = nowMillis;
  Load();
  return true;
}

bool CStreamAuth::Admits(const std::string& user) const {
  return !hasAccess_ || (rules_ != nullptr && rules_->Knows(user));
}

bool CStreamAuth::MayRead(const std::string& user, const std::string& account) const {
  if (!hasAccess_) return true;
  return rules_ != nullptr && rules_->MayRead(user, account);
}
