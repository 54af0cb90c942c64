#include "Health.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "Response.h"
#include "ops/Facts.h"
#include "shm/Board.h"
#include "util/Setting.h"

namespace {

// This process's memory of the offer board: its records' digest and when
// it first saw them (monotonic microseconds; 0: never).
uint64_t seenDigest = 0;
int64_t seenSince = 0;

// The last verdict, answered again to every check for a second after it was
// reached: a crowd of checks costs a worker one board read and one database
// question a second.
constexpr int64_t kVerdictMicros = 1000000;
struct Verdict {
  int64_t at = 0;  // monotonic microseconds when reached; 0: none yet
  std::string why;
  int64_t age = 0;
  bool database = false;
} last;

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
  CDeskService service;
  std::string records;
  if (service.ReadBoard(BoardKey(kOfferBoard), kOfferBoard.size, records, kOfferBoard.indexSize) !=
      0) {
    why = BoardTrouble(RequestFacts().lastBoard);
    return -1;
  }
  const int64_t now = MonotonicMicros();
  const uint64_t digest = Digest(records);
  if (digest != seenDigest || seenSince == 0) {
    seenDigest = digest, seenSince = now;
    return 0;
  }
  return (now - seenSince) / 1000000;
}

// Sets setting `name` to `value` for its scope and puts back what was
// there: a worker knows the values it placed in its environment, and the
// requests after a check must find its own.
class CSettingFor {
 public:
  CSettingFor(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value, 1);
  }
  ~CSettingFor() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  CSettingFor(const CSettingFor&) = delete;
  CSettingFor& operator=(const CSettingFor&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

bool UsesDatabase() {
  for (const char* name : {"MYSQL_HOST", "MYSQL_DB"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Reaches a verdict: the offer board read (waiting SHM_LOCK_MS at most for
// its lock) and, where it serves, the database asked.
void Check(CDbSlot* slot, Verdict& verdict) {
  static CDbSlot kept;
  std::string& why = verdict.why;
  why.clear();
  verdict.age = OfferAge(why);
  const int64_t stale = SettingValue(kOfferStaleSeconds);
  if (verdict.age > stale) why = "offer board unchanged for " + std::to_string(verdict.age) + " s";
  verdict.database = UsesDatabase();
  if (why.empty() && verdict.database) {
    // A second to answer: the check's own connection is made and kept under these.
    const CSettingFor connecting(kMysqlConnectTimeout.name, "1"),
        answering(kMysqlTimeout.name, "1");
    CDeskService service(slot != nullptr ? &kept : nullptr);
    if (!service.PingDb()) why = "database not answering";
  }
  // From its end: however long a check took, the next waits a second.
  verdict.at = MonotonicMicros();
}

}  // namespace

Outcome WriteHealthAnswer(FILE* out, CDbSlot* slot) {
  if (last.at == 0 || MonotonicMicros() - last.at >= kVerdictMicros) Check(slot, last);
  const char kHead[] = "Content-Type: application/json\nCache-Control: no-store\n";
  if (!last.why.empty()) {
    // The reason up to a NUL, as the answer always wrote it.
    WriteResponse(
        out, std::string("Status: 503 Service Unavailable\n") + kHead,
        "{\"status\":\"unavailable\",\"reason\":\"" + std::string(last.why.c_str()) + "\"}\n");
    return Outcome::kUnavailable;
  }
  WriteResponse(out, kHead,
                "{\"status\":\"ok\",\"offers_unchanged_s\":" + std::to_string(last.age) +
                    ",\"database\":\"" + (last.database ? "ok" : "unused") + "\"}\n");
  return Outcome::kAnswered;
}

Outcome WriteMetricsAnswer(FILE* out) {
  const CScoreboard* board = RequestScoreboard();
  if (board == nullptr) {
    WriteResponse(out, "Status: 503 Service Unavailable\nContent-Type: text/plain\n",
                  "no scoreboard: ZELVORA_STATS names none, or it was refused\n");
    return Outcome::kUnavailable;
  }
  std::string why;
  WriteResponse(out,
                "Content-Type: text/plain; version=0.0.4; charset=utf-8\nCache-Control: no-store\n",
                MetricsText(*board, OfferAge(why)));
  return Outcome::kAnswered;
}
