// The pool's counters: one small file, mapped shared, that every process
// serving the desk's requests (each FastCGI worker of a pool, and CGI
// processes of the same user) adds to, and that /metrics reads.
// ZELVORA_STATS names it by absolute path ("/run/zelvora-pool/stats");
// unset, nothing is counted.
//
// The file is kScoreboardBytes long and made of 64-bit counters, each
// changed only by atomic additions (relaxed: no counter orders another):
//
//   field                   count                         meaning
//   layout                  1                             kScoreboardLayout once made
//   requests                kMetricMethods x kOutcomes    requests by method and outcome
//   latency                 kMetricMethods x kBuckets     by duration, each bucket on its own
//   latencyMicros           kMetricMethods                total duration
//   boards                  kBoardReadOutcomes            board reads by outcome
//   dbConnects, dbConnectFailures, dbFailovers, dbStatements, dbErrors, dbMicros
//   workerStarts, workerRestarts  1 each                workers started; of them, replacements
//
// Only the process's user may have made it: its folder must belong to that
// user (or root) and be writable by no one else, so that no neighbour can
// make it first or put another file in its place. It is made 0600 by the
// first process that needs it and then used only while it is a regular
// file of the process's user that no one else may write, exactly
// kScoreboardBytes long and holding this layout; anything else is refused,
// said once on standard error, and nothing is counted. Whoever can write it
// can change only counts: nothing read from it decides an answer. A process
// maps it once and keeps the map; a path that failed is tried again at
// most once a second.
#ifndef ZELVORA_OPS_SCOREBOARD_H_
#define ZELVORA_OPS_SCOREBOARD_H_

#include <atomic>
#include <cstdint>
#include <string>

// The methods counted: the desk's, then "none" (no method, or a name that
// is none of them), "health" and "metrics".
constexpr int kMetricMethods = 15;
extern const char* const kMetricMethodNames[kMetricMethods];
constexpr int kMethodNone = 12, kMethodHealth = 13, kMethodMetrics = 14;

// What became of a request.
enum class Outcome { kAnswered, kBanner, kRefused, kError, kUnavailable };
constexpr int kOutcomes = 5;
extern const char* const kOutcomeNames[kOutcomes];

// What became of one board read.
enum BoardRead {
  kBoardRead,
  kBoardMissing,
  kBoardLockTimeout,
  kBoardRefusedOwner,
  kBoardFailed,
  kBoardReadOutcomes
};

// Upper bounds of the latency buckets, in microseconds; the last is unbounded.
constexpr int kBuckets = 12;
extern const int64_t kBucketMicros[kBuckets - 1];

constexpr uint64_t kScoreboardLayout = 0x5a4c565301000003;  // changes with the layout
constexpr int64_t kScoreboardBytes = 4096;

using Counter = std::atomic<uint64_t>;

struct CScoreboard {
  Counter layout;
  Counter requests[kMetricMethods][kOutcomes];
  Counter latency[kMetricMethods][kBuckets];
  Counter latencyMicros[kMetricMethods];
  Counter boards[kBoardReadOutcomes];
  Counter dbConnects, dbConnectFailures, dbFailovers, dbStatements, dbErrors, dbMicros;
  Counter workerStarts, workerRestarts;
};
static_assert(sizeof(CScoreboard) <= kScoreboardBytes, "the scoreboard fits its segment");
static_assert(Counter::is_always_lock_free, "counters shared between processes need no lock");

// The scoreboard ZELVORA_STATS names, mapped (and made when missing); null
// when unset or refused.
CScoreboard* AttachScoreboard();

// The index of `method` in kMetricMethodNames; kMethodNone for any other name.
int MetricMethod(const std::string& method);

// Adds one request of `method` with `outcome`, taking `micros`.
void CountRequest(CScoreboard& board, int method, Outcome outcome, int64_t micros);

// The counters in Prometheus' text format; `offerAge` (seconds, -1 when the
// board could not be read) is the offer board's, as the caller found it.
std::string MetricsText(const CScoreboard& board, int64_t offerAge);

#endif  // ZELVORA_OPS_SCOREBOARD_H_
