#include "ops/Facts.h"

#include <ctime>

namespace {

CRequestFacts facts;
CScoreboard* scoreboard = nullptr;

void Add(Counter& counter, uint64_t amount = 1) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

}  // namespace

CRequestFacts& RequestFacts() { return facts; }

void BeginRequest(CScoreboard* board) {
  facts = CRequestFacts();
  scoreboard = board;
}

CScoreboard* RequestScoreboard() { return scoreboard; }

void NoteBoardRead(BoardRead outcome) {
  facts.lastBoard = outcome;
  ++(outcome == kBoardRead ? facts.boardsRead : facts.boardsFailed);
  if (scoreboard != nullptr) Add(scoreboard->boards[outcome]);
}

void NoteDbConnect(bool connected, bool failover) {
  ++(connected ? facts.dbAnswered : facts.dbFailed);
  if (scoreboard == nullptr) return;
  Add(connected ? scoreboard->dbConnects : scoreboard->dbConnectFailures);
  if (connected && failover) Add(scoreboard->dbFailovers);
}

void NoteDbStatement(int64_t micros, bool answered) {
  ++(answered ? facts.dbAnswered : facts.dbFailed);
  if (scoreboard == nullptr) return;
  Add(scoreboard->dbStatements);
  Add(scoreboard->dbMicros, static_cast<uint64_t>(micros > 0 ? micros : 0));
  if (!answered) Add(scoreboard->dbErrors);
}

int64_t MonotonicMicros() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
