#include "ops/Scoreboard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "util/OwnFolder.h"
#include "util/StringUtil.h"

const char* const kMetricMethodNames[kMetricMethods] = {
    "getAccount",     "getOffer",  "getOrder",    "getOpenTrade", "getOpenTradeA",
    "getClosedTrade", "getReport", "getImplPlan", "setImplPlan",  "getPriceBar",
    "getPlanHistory", "whoAmI",    "none",        "health",       "metrics"};

const int64_t kBucketMicros[kBuckets - 1] = {100,   250,   500,    1000,   2500,   5000,
                                             10000, 25000, 100000, 250000, 1000000};

const char* const kOutcomeNames[kOutcomes] = {"answered", "banner", "refused", "error",
                                              "unavailable"};

namespace {
const char* const kBoardReadNames[kBoardReadOutcomes] = {"read", "missing", "lock_timeout",
                                                         "refused_owner", "failed"};

// What this process mapped, and for which path; a failed path waits a second.
CScoreboard* mapped = nullptr;
std::string mappedName, failedName;
time_t failedAt = 0;

// An absolute path of letters, digits, ".", "_", "-" and "/", naming a file
// in a folder: the folder is all before the last "/".
bool ScoreboardPath(const std::string& path) {
  if (path.size() < 2 || path.size() > 200 || path[0] != '/' || path.back() == '/') return false;
  return path.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-/") ==
         std::string::npos;
}

// The reason `descriptor` may not serve as the scoreboard, or null; a file
// just made (empty) is sized here, by whichever process comes first.
const char* Unfit(int descriptor) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return "cannot be examined";
  if (!S_ISREG(status.st_mode)) return "is not a file";
  if (status.st_uid != geteuid()) return "belongs to another user";
  if ((status.st_mode & 0022) != 0) return "may be written by others";
  if (status.st_size == 0 && ftruncate(descriptor, kScoreboardBytes) != 0) return "cannot be sized";
  if (status.st_size != 0 && status.st_size != kScoreboardBytes) {
    return "is not a scoreboard (its size)";
  }
  return nullptr;
}

// Opens (making it when missing) and maps the file at `path`; null with
// `why` set.
CScoreboard* Map(const std::string& path, const char*& why) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    why = "has a folder that cannot be opened";
    return nullptr;
  }
  why = UnfitFolder(directory);
  const int descriptor = why != nullptr
                             ? -1
                             : openat(directory, path.c_str() + slash + 1,
                                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
  close(directory);
  if (why != nullptr) return nullptr;
  if (descriptor < 0) {
    why = "cannot be opened";
    return nullptr;
  }
  why = Unfit(descriptor);
  void* address = why != nullptr ? MAP_FAILED
                                 : mmap(nullptr, kScoreboardBytes, PROT_READ | PROT_WRITE,
                                        MAP_SHARED, descriptor, 0);
  close(descriptor);
  if (address == MAP_FAILED) {
    if (why == nullptr) why = "cannot be mapped";
    return nullptr;
  }
  auto* board = static_cast<CScoreboard*>(address);
  uint64_t layout = 0;
  if (board->layout.compare_exchange_strong(layout, kScoreboardLayout) ||
      layout == kScoreboardLayout) {
    return board;
  }
  munmap(address, kScoreboardBytes);
  why = "holds another layout (remove it and restart the pool)";
  return nullptr;
}

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (length > 0) out.append(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

void Head(std::string& out, const char* name, const char* type, const char* help) {
  Append(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

unsigned long long Get(const Counter& counter) {
  return static_cast<unsigned long long>(counter.load(std::memory_order_relaxed));
}

void One(std::string& out, const char* name, const char* help, const Counter& counter) {
  Head(out, name, "counter", help);
  Append(out, "%s %llu\n", name, Get(counter));
}

void Latency(std::string& out, const CScoreboard& board) {
  Head(out, "zelvora_request_duration_seconds", "histogram", "Time to serve a request.");
  for (int m = 0; m < kMetricMethods; ++m) {
    const char* method = kMetricMethodNames[m];
    unsigned long long total = 0;
    for (int b = 0; b < kBuckets; ++b) {
      total += Get(board.latency[m][b]);
      if (b + 1 < kBuckets) {
        Append(out, "zelvora_request_duration_seconds_bucket{method=\"%s\",le=\"%g\"} %llu\n",
               method, static_cast<double>(kBucketMicros[b]) / 1e6, total);
      } else {
        Append(out, "zelvora_request_duration_seconds_bucket{method=\"%s\",le=\"+Inf\"} %llu\n",
               method, total);
      }
    }
    Append(out, "zelvora_request_duration_seconds_sum{method=\"%s\"} %.6f\n", method,
           static_cast<double>(Get(board.latencyMicros[m])) / 1e6);
    Append(out, "zelvora_request_duration_seconds_count{method=\"%s\"} %llu\n", method, total);
  }
}

}  // namespace

CScoreboard* AttachScoreboard() {
  const char* name = std::getenv("ZELVORA_STATS");
  if (name == nullptr || *name == '\0') return nullptr;
  if (mapped != nullptr && mappedName == name) return mapped;
  const time_t now = std::time(nullptr);
  if (failedName == name && now == failedAt) return nullptr;
  const char* why = ScoreboardPath(name) ? nullptr : "is no absolute path of a file";
  CScoreboard* board = why == nullptr ? Map(name, why) : nullptr;
  if (board == nullptr) {
    if (failedName != name) {
      std::fprintf(stderr, "zelvora: ZELVORA_STATS %s %s: nothing counted\n",
                   Printable(std::string(name).substr(0, 200)).c_str(), why);
    }
    failedName = name, failedAt = now;
    return nullptr;
  }
  if (mapped != nullptr) munmap(mapped, kScoreboardBytes);
  mapped = board, mappedName = name, failedName.clear();
  return board;
}

int MetricMethod(const std::string& method) {
  for (int m = 0; m < kMethodNone; ++m) {
    if (method == kMetricMethodNames[m]) return m;
  }
  return kMethodNone;
}

void CountRequest(CScoreboard& board, int method, Outcome outcome, int64_t micros) {
  int bucket = 0;
  while (bucket < kBuckets - 1 && micros > kBucketMicros[bucket]) ++bucket;
  board.requests[method][static_cast<int>(outcome)].fetch_add(1, std::memory_order_relaxed);
  board.latency[method][bucket].fetch_add(1, std::memory_order_relaxed);
  board.latencyMicros[method].fetch_add(static_cast<uint64_t>(micros), std::memory_order_relaxed);
}

std::string MetricsText(const CScoreboard& board, int64_t offerAge) {
  std::string out;
  out.reserve(24576);
  Head(out, "zelvora_requests_total", "counter", "Requests served, by method and outcome.");
  for (int m = 0; m < kMetricMethods; ++m) {
    for (int o = 0; o < kOutcomes; ++o) {
      Append(out, "zelvora_requests_total{method=\"%s\",outcome=\"%s\"} %llu\n",
             kMetricMethodNames[m], kOutcomeNames[o], Get(board.requests[m][o]));
    }
  }
  Latency(out, board);
  Head(out, "zelvora_board_reads_total", "counter", "Board reads, by outcome.");
  for (int r = 0; r < kBoardReadOutcomes; ++r) {
    Append(out, "zelvora_board_reads_total{outcome=\"%s\"} %llu\n", kBoardReadNames[r],
           Get(board.boards[r]));
  }
  One(out, "zelvora_db_connects_total", "Database connections made.", board.dbConnects);
  One(out, "zelvora_db_connect_failures_total", "Database connections that failed.",
      board.dbConnectFailures);
  One(out, "zelvora_db_failovers_total", "Connections made to a host other than the first listed.",
      board.dbFailovers);
  One(out, "zelvora_db_statements_total", "Database statements and transactions run.",
      board.dbStatements);
  One(out, "zelvora_db_errors_total", "Database statements and transactions that failed.",
      board.dbErrors);
  Head(out, "zelvora_db_statement_seconds_total", "counter", "Time spent in database statements.");
  Append(out, "zelvora_db_statement_seconds_total %.6f\n",
         static_cast<double>(Get(board.dbMicros)) / 1e6);
  One(out, "zelvora_worker_starts_total", "FastCGI workers started.", board.workerStarts);
  One(out, "zelvora_worker_restarts_total",
      "FastCGI workers started in place of one that ended (ZELVORA_REPLACED).",
      board.workerRestarts);
  Head(out, "zelvora_offer_board_up", "gauge", "1 when the offer board could be read.");
  Append(out, "zelvora_offer_board_up %d\n", offerAge >= 0 ? 1 : 0);
  Head(out, "zelvora_offer_unchanged_seconds", "gauge",
       "Seconds since the offer board's records last changed.");
  Append(out, "zelvora_offer_unchanged_seconds %lld\n",
         static_cast<long long>(offerAge >= 0 ? offerAge : 0));
  return out;
}
