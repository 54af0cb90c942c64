// What the request in hand did, for the pool's counters and the request
// log. BeginRequest starts a request's facts; the board readers and the
// database client add to them (and to the scoreboard, when there is one)
// while it is served. One request at a time per process.
#ifndef ZELVORA_OPS_FACTS_H_
#define ZELVORA_OPS_FACTS_H_

#include <cstdint>

#include "ops/Scoreboard.h"

struct CRequestFacts {
  int method = kMethodNone;
  uint32_t ids = 0;  // children of the request's params
  uint32_t boardsRead = 0, boardsFailed = 0;
  BoardRead lastBoard = kBoardRead;       // the outcome of the last board read
  uint32_t dbAnswered = 0, dbFailed = 0;  // statements and connects
};

CRequestFacts& RequestFacts();

// Empties the facts; `board` (may be null) counts what follows.
void BeginRequest(CScoreboard* board);

// The scoreboard BeginRequest was given.
CScoreboard* RequestScoreboard();

void NoteBoardRead(BoardRead outcome);
void NoteDbConnect(bool connected, bool failover);
void NoteDbStatement(int64_t micros, bool answered);

// Microseconds of the monotonic clock.
int64_t MonotonicMicros();

#endif  // ZELVORA_OPS_FACTS_H_
