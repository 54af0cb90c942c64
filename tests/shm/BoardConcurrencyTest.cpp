// A writer process rewrites a board as fast as it can, record by record
// under the semaphore, while reader processes read it through the service.
// Every record of one write carries the same generation; a reader that ever
// sees two generations in one read has copied a half-written board.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "desk/DeskService.h"
#include "shm/Board.h"
#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

const int32_t kSize = kTradeBoard.size, kRecordSize = 1000;
const int kRecords = 100, kReaders = 3, kReadsEach = 1000;

std::string Record(long generation) {
  const std::string text = "{\"gen\":" + std::to_string(generation) + ",\"pad\":\"";
  return text + std::string(static_cast<size_t>(kRecordSize) - text.size() - 2, 'x') + "\"}";
}

// Rewrites the board until killed: one generation per locked pass.
[[noreturn]] void Writer(const std::string& key) {
  alarm(120);  // never outlive a broken test
  CShareMemory memory;
  if (memory.Open(key, kSize, false, false) != 0) _exit(3);
  for (long generation = 1;; ++generation) {
    const std::string record = Record(generation);
    memory.Lock();
    for (int i = 0; i < kRecords; ++i)
      memory.Write(kBoardHeaderSize + static_cast<int64_t>(i) * kRecordSize, record.data(),
                   kRecordSize, false);
    memory.Unlock();
    usleep(50);  // a semaphore is not fair: let waiting readers in between passes
  }
}

// Reads the board kReadsEach times; exits with the number of mixed reads
// (at most 100), or 200 when it saw fewer than ten generations.
[[noreturn]] void Reader(const std::string& key) {
  alarm(120);
  int mixed = 0;
  std::set<long> generations;
  for (int n = 0; n < kReadsEach; ++n) {
    // A service a read, as the program has one a request: one service's
    // SHM_LOCK_TOTAL_MS would be spent by a thousand reads' waits on a busy machine.
    CDeskService service;
    std::string out;
    std::set<long> seen;
    int records = 0;
    if (service.ReadBoard(key, kSize, out, 0) != 0) _exit(250);
    for (size_t at = out.find("\"gen\":"); at != std::string::npos;
         at = out.find("\"gen\":", at + 1), ++records)
      seen.insert(std::strtol(out.c_str() + at + 6, nullptr, 10));
    mixed += seen.size() != 1 || records != kRecords;
    generations.insert(seen.begin(), seen.end());
  }
  _exit(generations.size() < 10 ? 200 : std::min(mixed, 100));
}

TEST(BoardConcurrency, ReadersNeverSeeTwoGenerationsInOneCopy) {
  REQUIRE_PRIVATE_SHM();
  const std::string key = UniqueKey("trade");
  ASSERT_EQ(WriteBoard(key, BoardImage(kSize, FormatBoardHeader(kRecords, kRecordSize), 0, "",
                                       kRecordSize, Lines(kRecords, Record(0)))),
            0);
  std::fflush(nullptr);
  pid_t pids[1 + kReaders];
  for (int p = 0; p <= kReaders; ++p) {
    if ((pids[p] = fork()) == 0) p == 0 ? Writer(key) : Reader(key);
    ASSERT_GT(pids[p], 0) << "fork";  // the children end by their alarms
  }
  for (int p = 1; p <= kReaders; ++p) {
    int status = 0;
    waitpid(pids[p], &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0)
        << "mixed reads of one reader; 200: the writer hardly moved";
  }
  kill(pids[0], SIGKILL);
  waitpid(pids[0], nullptr, 0);
}

}  // namespace
