// CShareMemory and CSemaphore on real POSIX shared memory and semaphores.
#include "shm/ShareMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>

#include "support/Boards.h"
#include "support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMillis(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(PageSize, IsOnePageMoreThanTheWholePages) {
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  EXPECT_EQ(CShareMemory::PageSize(0), page);
  EXPECT_EQ(CShareMemory::PageSize(page - 1), page);
  EXPECT_EQ(CShareMemory::PageSize(page), 2 * page);
  EXPECT_EQ(CShareMemory::PageSize(172812), (172812 / page + 1) * page);
  if (page == 4096) {
    EXPECT_EQ(CShareMemory::PageSize(4096), 8192u);
    EXPECT_EQ(CShareMemory::PageSize(1812), 4096u);
    EXPECT_EQ(CShareMemory::PageSize(64032), 65536u);
  }
}

TEST(ShareMemoryOpen, ReadOnlyNeverCreatesTheObject) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  errno = 0;
  EXPECT_EQ(memory.Open(board.Key(), 1812, true, false), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(memory.IsSemaphoreOpen());
  EXPECT_FALSE(memory.IsMapped());
  EXPECT_EQ(memory.Created(), -1);
  EXPECT_NE(access(("/dev/shm/sem." + board.Key()).c_str(), F_OK), -1);
  EXPECT_EQ(access(("/dev/shm/shm." + board.Key()).c_str(), F_OK), -1);
}

TEST(ShareMemoryOpen, RefusedNamesFailAtTheSemaphore) {
  CShareMemory memory;
  errno = 0;
  EXPECT_EQ(memory.Open("bad/key", 1812, true, false), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(memory.IsSemaphoreOpen());
}

TEST(ShareMemoryOpen, ReadWriteCreatesOnceAndSizesToThePage) {
  ScopedBoard board(UniqueKey("trade"));
  {
    CShareMemory memory;
    ASSERT_EQ(memory.Open(board.Key(), 114012, false, true), 0);
    EXPECT_EQ(memory.Created(), 1);
    EXPECT_TRUE(memory.IsMapped());
    EXPECT_FALSE(memory.ReadOnly());
    EXPECT_EQ(memory.Length(), CShareMemory::PageSize(114012));
    EXPECT_EQ(memory.Available(), memory.Length());
    EXPECT_EQ(memory.Name(), "shm." + board.Key());
  }
  struct stat status;
  ASSERT_EQ(stat(("/dev/shm/shm." + board.Key()).c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), CShareMemory::PageSize(114012));
  CShareMemory again;
  ASSERT_EQ(again.Open(board.Key(), 114012, false, false), 0);
  EXPECT_EQ(again.Created(), 0);
}

TEST(ShareMemoryOpen, SemaphoreIsOpenToEveryoneWhateverTheUmask) {
  ScopedBoard board(UniqueKey("account"));
  const mode_t saved = umask(077);
  {
    CShareMemory memory;
    memory.Open(board.Key(), 1812, true, false);
  }
  EXPECT_EQ(umask(saved), 077u);  // and the mask is given back
  struct stat status;
  ASSERT_EQ(stat(("/dev/shm/sem." + board.Key()).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
}

TEST(ShareMemoryAccess, WritesAndReadsWithinTheMapping) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory writer;
  ASSERT_EQ(writer.Open(board.Key(), 1812, false, false), 0);
  ASSERT_EQ(writer.Write(100, "hello", 5, true), 0);
  const int64_t length = static_cast<int64_t>(writer.Length());
  EXPECT_EQ(writer.Write(length - 2, "xyz", 3, false), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(writer.Write(-1, "x", 1, false), -1);

  CShareMemory reader;
  ASSERT_EQ(reader.Open(board.Key(), 1812, true, false), 0);
  char text[6] = {};
  ASSERT_EQ(reader.Read(100, text, 5, true), 0);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(reader.Read(length - 4, text, 5, false), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(reader.Read(0, text, -1, false), -1);
  EXPECT_EQ(reader.Write(0, "x", 1, false), -1);  // read-only
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(reader.Move(10, 5, 1, false), -1);
  CShareMemory unopened;
  EXPECT_EQ(unopened.Read(0, text, 1, false), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(ShareMemoryAccess, MoveCopiesOverlappingBytesDown) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 100, false, false), 0);
  ASSERT_EQ(memory.Write(0, "abcdefgh", 8, false), 0);
  ASSERT_EQ(memory.Move(8, 2, 2, true), 0);
  char text[9] = {};
  ASSERT_EQ(memory.Read(0, text, 8, false), 0);
  EXPECT_STREQ(text, "cdefghgh");
  const int64_t length = static_cast<int64_t>(memory.Length());
  EXPECT_EQ(memory.Move(4, 4, 1, false), -1);   // nothing to move
  EXPECT_EQ(memory.Move(4, 6, 1, false), -1);   // end before start
  EXPECT_EQ(memory.Move(8, 2, 3, false), -1);   // distance beyond start
  EXPECT_EQ(memory.Move(8, 2, -1, false), -1);  // upward
  EXPECT_EQ(memory.Move(length + 1, 2, 1, false), -1);
  EXPECT_EQ(memory.Move(length, length - 4, 4, false), 0);
}

TEST(ShareMemoryAccess, ResizeGrowsTheObjectAndTheMapping) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 100, false, false), 0);
  const int64_t small = static_cast<int64_t>(memory.Length());
  EXPECT_EQ(memory.Write(small + 10, "x", 1, false), -1);
  ASSERT_EQ(memory.Resize(small * 3, true), 0);
  EXPECT_EQ(memory.Length(), CShareMemory::PageSize(static_cast<uint64_t>(small) * 3));
  EXPECT_EQ(memory.Write(small + 10, "x", 1, false), 0);
  CShareMemory reader;
  ASSERT_EQ(reader.Open(board.Key(), small * 3, true, false), 0);
  EXPECT_EQ(reader.Resize(small, false), -1);  // read-only
  char c = 0;
  ASSERT_EQ(reader.Read(small + 10, &c, 1, false), 0);
  EXPECT_EQ(c, 'x');
}

TEST(ShareMemoryAccess, ObjectShorterThanAskedIsRefusedNotFaulted) {
  ScopedBoard board(UniqueKey("pricebar"));
  const std::string name = "shm." + board.Key();
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100), 0);
  close(fd);
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 172812, true, false), 0);
  EXPECT_TRUE(memory.IsMapped());
  EXPECT_EQ(memory.Available(), 100u);
  std::string copy(172812, '\0');
  EXPECT_EQ(memory.Read(0, &copy[0], 172812, true), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(memory.Read(0, &copy[0], 100, true), 0);
}

TEST(Semaphore, TimedLockGivesUpAfterItsTimeout) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 100, false, false), 0);
  ASSERT_EQ(memory.Lock(), 0);
  memory.SetTimeout(250);  // 0 s + 250,000,000 ns
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(memory.TimedLock());
  const long waited = ElapsedMillis(start);
  EXPECT_GE(waited, 240);
  EXPECT_LT(waited, 5000);
  char c;
  EXPECT_EQ(memory.TimedRead(0, &c, 1, true), -1);
  EXPECT_EQ(memory.TimedRead(0, &c, 1, false), 0);
  ASSERT_EQ(memory.Unlock(), 0);
  EXPECT_TRUE(memory.TimedLock());
  EXPECT_EQ(memory.Unlock(), 0);
  EXPECT_EQ(memory.TimedRead(0, &c, 1, true), 0);
}

TEST(Semaphore, TimeoutCarriesWholeSeconds) {
  ScopedBoard board(UniqueKey("account"));
  CSemaphore semaphore;
  ASSERT_EQ(semaphore.Open(board.Key(), 60000), 0);
  ASSERT_EQ(semaphore.Lock(), 0);
  semaphore.SetTimeout(1100);  // 1 s + 100,000,000 ns
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(semaphore.TimedLock());
  EXPECT_GE(ElapsedMillis(start), 1050);
  EXPECT_EQ(semaphore.Unlock(), 0);
  CSemaphore unopened;
  EXPECT_EQ(unopened.Lock(), -1);
  EXPECT_FALSE(unopened.TimedLock());
  EXPECT_EQ(unopened.Unlock(), -1);
}

TEST(Semaphore, FailedAccessesLeaveItFree) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 100, false, true), 0);
  char buffer[16];
  const int64_t length = static_cast<int64_t>(memory.Length());
  EXPECT_EQ(memory.Read(length, buffer, 16, true), -1);
  EXPECT_EQ(memory.Write(length, buffer, 16, true), -1);
  EXPECT_EQ(memory.Move(length + 5, 5, 1, true), -1);
  memory.SetTimeout(0);
  EXPECT_TRUE(memory.TimedLock());  // nothing above kept it
  memory.Unlock();
}

TEST(Semaphore, AnotherProcessHoldingItBlocksTheCopy) {
  ScopedBoard board(UniqueKey("account"));
  CShareMemory memory;
  ASSERT_EQ(memory.Open(board.Key(), 100, false, false), 0);
  ASSERT_EQ(memory.Lock(), 0);
  // The child's copy must wait for the parent's Unlock.
  const ProcessResult child = RunInChild([&] {
    CShareMemory other;
    if (other.Open(board.Key(), 100, true, false) != 0) return 3;
    other.SetTimeout(300);
    char c;
    return other.TimedRead(0, &c, 1, true) == -1 ? 0 : 1;
  });
  EXPECT_EQ(child.status, 0);
  memory.Unlock();
  const ProcessResult after = RunInChild([&] {
    CShareMemory other;
    if (other.Open(board.Key(), 100, true, false) != 0) return 3;
    char c;
    return other.Read(0, &c, 1, true);
  });
  EXPECT_EQ(after.status, 0);
}

int CountLines(const char* path, const std::string& needle) {
  std::ifstream file(path);
  int count = 0;
  for (std::string line; std::getline(file, line);) count += line.find(needle) != std::string::npos;
  return count;
}

int CountDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 4096; ++fd) count += fcntl(fd, F_GETFD) != -1;
  return count;
}

TEST(ShareMemoryLifetime, ReleasesMappingsDescriptorsAndHandlesOnEveryPath) {
  ScopedBoard board(UniqueKey("account"));
  ScopedBoard missing(UniqueKey("account"));
  {
    CShareMemory creator;
    ASSERT_EQ(creator.Open(board.Key(), 1812, false, false), 0);
  }
  const int descriptors = CountDescriptors();
  const int maps = CountLines("/proc/self/maps", "/dev/shm/");
  for (int i = 0; i < 200; ++i) {
    CShareMemory found;
    ASSERT_EQ(found.Open(board.Key(), 1812, true, false), 0);
    char c;
    ASSERT_EQ(found.Read(0, &c, 1, true), 0);
    CShareMemory absent;
    ASSERT_EQ(absent.Open(missing.Key(), 1812, true, false), -1);
  }
  EXPECT_EQ(CountDescriptors(), descriptors);
  EXPECT_EQ(CountLines("/proc/self/maps", "/dev/shm/"), maps);
}

TEST(ShareMemoryUnlink, RemovesObjectAndSemaphore) {
  const std::string key = UniqueKey("account");
  {
    CShareMemory memory;
    ASSERT_EQ(memory.Open(key, 100, false, false), 0);
  }
  EXPECT_FALSE(BoardGone(key));
  EXPECT_EQ(CShareMemory::Unlink(key), 0);
  EXPECT_TRUE(BoardGone(key));
  EXPECT_EQ(CShareMemory::Unlink(key), -1);
}

}  // namespace
