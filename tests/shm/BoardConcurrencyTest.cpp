// A writer process rewrites a board as fast as it can, record by record
// under the semaphore, while reader processes read it through the service.
// Every record of one write carries the same generation; a reader that
// ever sees two generations in one read has copied a half-written board.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "desk/Zelvora.h"
#include "shm/Board.h"
#include "shm/ShareMemory.h"
#include "support/Boards.h"

namespace {

const int32_t kSize = 114012;
const int32_t kRecordSize = 1000;
const int kRecords = 100;
const int kReaders = 3;
const int kReadsEach = 3000;

std::string Record(long generation, int index) {
  std::string text = "{\"gen\":" + std::to_string(generation) + ",\"i\":" + std::to_string(index) +
                     ",\"pad\":\"";
  text += std::string(static_cast<size_t>(kRecordSize) - text.size() - 2, 'x');
  return text + "\"}";
}

// Rewrites the board until killed: one generation per locked pass.
[[noreturn]] void Writer(const std::string& key) {
  alarm(120);  // never outlive a broken test
  CShareMemory memory;
  if (memory.Open(key, kSize, false, false) != 0) _exit(3);
  const std::string header = FormatBoardHeader(kRecords, kRecordSize);
  for (long generation = 1;; ++generation) {
    memory.Lock();
    for (int i = 0; i < kRecords; ++i) {
      const std::string record = Record(generation, i);
      memory.Write(kBoardHeaderSize + static_cast<int64_t>(i) * kRecordSize, record.data(),
                   kRecordSize, false);
    }
    memory.Write(0, header.data(), kBoardHeaderSize, false);
    memory.Unlock();
    usleep(50);  // a semaphore is not fair: let waiting readers in between passes
  }
}

// Reads the board kReadsEach times; reports "reads mixed generations" on
// `report`. Exit status 0.
[[noreturn]] void Reader(const std::string& key, int report) {
  alarm(120);
  CDeskService service;
  int mixed = 0;
  std::set<long> generations;
  for (int n = 0; n < kReadsEach; ++n) {
    std::string out;
    if (service.ReadBoard(key, kSize, out, 0) != 0) _exit(4);
    std::set<long> seen;
    int records = 0;
    for (size_t at = out.find("\"gen\":"); at != std::string::npos;
         at = out.find("\"gen\":", at + 1)) {
      seen.insert(std::strtol(out.c_str() + at + 6, nullptr, 10));
      ++records;
    }
    if (seen.size() != 1 || records != kRecords) ++mixed;
    generations.insert(seen.begin(), seen.end());
  }
  const std::string line = std::to_string(kReadsEach) + " " + std::to_string(mixed) + " " +
                           std::to_string(generations.size()) + "\n";
  if (write(report, line.data(), line.size()) < 0) _exit(5);
  _exit(0);
}

TEST(BoardConcurrency, ReadersNeverSeeTwoGenerationsInOneCopy) {
  ScopedBoard board(UniqueKey("trade"));
  std::vector<std::string> first;
  for (int i = 0; i < kRecords; ++i) first.push_back(Record(0, i));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(kSize, FormatBoardHeader(kRecords, kRecordSize), 0,
                                               "", kRecordSize, first)),
            0);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  std::fflush(nullptr);
  const pid_t writer = fork();
  if (writer == 0) Writer(board.Key());
  std::vector<pid_t> readers;
  for (int r = 0; r < kReaders; ++r) {
    const pid_t reader = fork();
    if (reader == 0) Reader(board.Key(), report[1]);
    readers.push_back(reader);
  }
  close(report[1]);
  for (pid_t reader : readers) {
    int status = 0;
    waitpid(reader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reader status " << status;
  }
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);

  std::string lines;
  char buffer[256];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) lines.append(buffer, n);
  close(report[0]);
  long reads = 0, mixed = 0, mostGenerations = 0;
  for (size_t at = 0; at < lines.size();) {
    long r = 0, m = 0, g = 0;
    std::sscanf(lines.c_str() + at, "%ld %ld %ld", &r, &m, &g);
    reads += r;
    mixed += m;
    mostGenerations = std::max(mostGenerations, g);
    at = lines.find('\n', at) + 1;
  }
  EXPECT_EQ(reads, static_cast<long>(kReaders) * kReadsEach);
  EXPECT_EQ(mixed, 0);
  // The writer must really have moved on while the readers read.
  EXPECT_GT(mostGenerations, 10);
  RecordProperty("reads", static_cast<int>(reads));
  std::printf("%ld reads by %d readers, %ld mixed, up to %ld generations seen by one reader\n",
              reads, kReaders, mixed, mostGenerations);
}

}  // namespace
