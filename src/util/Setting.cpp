#include "util/Setting.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "util/StringUtil.h"

namespace {

// Says once per value that a setting was refused: a worker reads its
// settings for every request, and its log must not repeat the same line.
// Names are the program's own few, so the map stays small.
void SayRefused(const CSettingRange& range, const char* text) {
  static std::map<std::string, std::string> said;
  std::string& last = said[range.name];
  if (last == text) return;
  last = text;
  std::fprintf(stderr, "zelvora: %s=%s is not a whole number from %lld to %lld: %lld used\n",
               range.name, Printable(text).c_str(), static_cast<long long>(range.low),
               static_cast<long long>(range.high), static_cast<long long>(range.fallback));
}

}  // namespace

const CSettingRange kShmLockMs = {"SHM_LOCK_MS", 1, 60000, 1000};
const CSettingRange kShmLockTotalMs = {"SHM_LOCK_TOTAL_MS", 1, 600000, 3000};
const CSettingRange kMaxAnswerRecords = {"MAX_ANSWER_RECORDS", 1, 1000000, 10000};
const CSettingRange kMaxRequestIds = {"MAX_REQUEST_IDS", 1, 10000, 100};
const CSettingRange kMaxLogBytes = {"MAX_LOG_BYTES", 1, 1 << 20, 8192};
const CSettingRange kMysqlConnectTimeout = {"MYSQL_CONNECT_TIMEOUT", 1, 3600, 2};
const CSettingRange kMysqlTimeout = {"MYSQL_TIMEOUT", 1, 3600, 10};

const CSettingRange kFcgiTimeout = {"FCGI_TIMEOUT", 1, 3600, 30};
const CSettingRange kOfferStaleSeconds = {"OFFER_STALE_SECONDS", 1, 604800, 60};

bool SettingNumber(const char* text, const CSettingRange& range, int64_t& value) {
  if (text == nullptr) return false;
  char* end = nullptr;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || number < range.low || number > range.high) return false;
  value = number;
  return true;
}

int64_t SettingValue(const CSettingRange& range) {
  const char* text = std::getenv(range.name);
  int64_t value = range.fallback;
  if (text != nullptr && !SettingNumber(text, range, value)) SayRefused(range, text);
  return value;
}
