// CBoardReader: how the desk reads its boards, shared by the program's
// handlers and the stream server, so that both take the same lock with the
// same bounded wait, refuse the same owners and sizes, and answer the same
// record texts.
//
// A reader holds no board: each call opens the board, copies the bytes it
// needs under the board's semaphore, lets the lock go and only then parses
// the copy. The reason a call failed comes back with the call (`why`), and
// what it was, with the key's control bytes escaped, goes to the reader's
// log (standard error for the program; null writes nothing, for a process
// that reads a board fifty times a second and says only what changed).
// `owner` and `waitLeft` must outlive the reader.
#ifndef ZELVORA_DESK_BOARDREADER_H_
#define ZELVORA_DESK_BOARDREADER_H_

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ops/Scoreboard.h"
#include "shm/Board.h"
#include "util/MallocBuffer.h"

class CShareMemory;

class CBoardReader {
 public:
  // Boards are read only when `owner` (unless null) owns them. Lock waits
  // draw on `waitLeft` milliseconds, each at most SHM_LOCK_MS; once it is
  // spent, a board is read only when its lock is free.
  CBoardReader(const uid_t* owner, int64_t& waitLeft, FILE* log = stderr)
      : owner_(owner), waitLeft_(waitLeft), log_(log) {}

  // Appends the records of board `key` (a segment of `size` bytes with an
  // index area of `indexSize` bytes) to `out`, joined by ",", as
  // TakeBoardRecords gives them. 0 when the board was read (also when it
  // holds no record); -1 when it could not be opened, copied or understood,
  // with `why` set (kBoardFailed unless the reason is one of its own).
  int ReadAll(const std::string& key, int32_t size, int32_t indexSize, std::string& out,
              BoardRead& why);

  // As ReadAll, but appends only the records the board's index names for
  // `keys`, in their order; no keys: 0 and nothing appended, once the
  // board's head was read.
  int ReadByKeys(const std::string& key, int32_t size, int32_t indexSize,
                 const std::vector<std::string>& keys, std::string& out, BoardRead& why);

 private:
  void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool Lock(const std::string& key, CShareMemory& memory, BoardRead& why);
  int OpenLocked(const std::string& key, int32_t size, CShareMemory& memory, BoardRead& why);
  int ReadPart(CShareMemory& memory, int64_t offset, int64_t length, char* into);
  int CopyPart(CShareMemory& memory, int64_t offset, int64_t length, MallocBuffer& copy);
  int Report(const std::string& key, BoardStatus status, const std::string& detail);

  const uid_t* owner_;
  int64_t& waitLeft_;
  FILE* log_;
};

#endif  // ZELVORA_DESK_BOARDREADER_H_
