#include "ops/Health.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ops/Facts.h"
#include "shm/Board.h"
#include "util/Setting.h"

namespace {

const char kOfferKey[] = "offer";

// A worker's memory of the offer board when there is no scoreboard.
Counter ownDigest, ownSince;

uint64_t Digest(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

const char* BoardTrouble(BoardRead outcome) {
  switch (outcome) {
    case kBoardMissing:
      return "offer board missing";
    case kBoardLockTimeout:
      return "offer board locked longer than SHM_LOCK_MS";
    case kBoardRefusedOwner:
      return "offer board refused (SHM_OWNER)";
    default:
      return "offer board unreadable";
  }
}

// Seconds the offer board's records have stood unchanged (0 when they just
// changed, or cannot be told), or -1 with `why` set when it cannot be read.
int64_t OfferAge(std::string& why) {
  const BoardLayout* layout = FindBoardLayout(kOfferKey);
  CDeskService service;
  std::string records;
  if (service.ReadBoard(kOfferKey, layout->size, records, layout->indexSize) != 0) {
    why = BoardTrouble(RequestFacts().lastBoard);
    return -1;
  }
  CScoreboard* board = RequestScoreboard();
  Counter& digest = board != nullptr ? board->offerDigest : ownDigest;
  Counter& since = board != nullptr ? board->offerSince : ownSince;
  const uint64_t now = static_cast<uint64_t>(MonotonicMicros()), seen = Digest(records);
  const uint64_t from = since.load(std::memory_order_relaxed);
  if (digest.exchange(seen, std::memory_order_relaxed) != seen || from == 0 || from > now) {
    since.store(now, std::memory_order_relaxed);
    return 0;
  }
  return static_cast<int64_t>((now - from) / 1000000);
}

bool UsesDatabase() {
  for (const char* name : {"MYSQL_HOST", "MYSQL_DB"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

Outcome WriteHealthAnswer(CDbSlot* slot) {
  static CDbSlot kept;
  std::string why;
  const int64_t age = OfferAge(why);
  const int64_t stale = SettingValue(kOfferStaleSeconds);
  if (age > stale) why = "offer board unchanged for " + std::to_string(age) + " s";
  const bool database = UsesDatabase();
  if (why.empty() && database) {
    // A second to answer: the check's own connection is made and kept under these.
    setenv(kMysqlConnectTimeout.name, "1", 1);
    setenv(kMysqlTimeout.name, "1", 1);
    CDeskService service(slot != nullptr ? &kept : nullptr);
    if (!service.PingDb()) why = "database not answering";
  }
  std::fputs(why.empty() ? "" : "Status: 503 Service Unavailable\n", stdout);
  std::fputs("Content-Type: application/json\nCache-Control: no-store\n\n", stdout);
  if (!why.empty()) {
    std::printf("{\"status\":\"unavailable\",\"reason\":\"%s\"}\n", why.c_str());
    return Outcome::kUnavailable;
  }
  std::printf("{\"status\":\"ok\",\"offers_unchanged_s\":%lld,\"database\":\"%s\"}\n",
              static_cast<long long>(age), database ? "ok" : "unused");
  return Outcome::kAnswered;
}

Outcome WriteMetricsAnswer() {
  const CScoreboard* board = RequestScoreboard();
  if (board == nullptr) {
    std::fputs("Status: 503 Service Unavailable\nContent-Type: text/plain\n\n", stdout);
    std::fputs("no scoreboard: ZELVORA_STATS names none, or it was refused\n", stdout);
    return Outcome::kUnavailable;
  }
  std::string why;
  const std::string text = MetricsText(*board, OfferAge(why));
  std::fputs("Content-Type: text/plain; version=0.0.4; charset=utf-8\nCache-Control: no-store\n\n",
             stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return Outcome::kAnswered;
}
