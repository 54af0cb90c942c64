// CShareMemory and CSemaphore on real POSIX shared memory and semaphores.
#include "shm/ShareMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <utility>

#include "support/Desk.h"

namespace {

class ShareMemory : public ::testing::Test {
 protected:
  void TearDown() override { RemoveBoardsMarked(".zt" + std::to_string(getpid()) + "-"); }
  // How long a timed lock of a held semaphore waits, in milliseconds.
  static long WaitedFor(CShareMemory& memory, int64_t timeoutMillis) {
    memory.SetTimeout(timeoutMillis);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(memory.TimedLock());
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  }
  const std::string key_ = UniqueKey("account");
};

TEST_F(ShareMemory, PageSizeIsOnePageMoreThanTheWholePages) {
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  for (uint64_t size : {uint64_t{0}, page - 1, page, page + 1, uint64_t{172812}}) EXPECT_EQ(CShareMemory::PageSize(size), (size / page + 1) * page) << size;
}

TEST_F(ShareMemory, OpenCreatesOnlyWhenWritingAndSemaphoresAreOpenToAll) {
  CShareMemory reader, writer, again, bad;
  const mode_t saved = umask(077);
  errno = 0;
  EXPECT_EQ(reader.Open(key_, 1812, true, false), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(umask(saved), 077u);  // and the mask is given back
  EXPECT_TRUE(reader.IsSemaphoreOpen() && !reader.IsMapped() && reader.Created() == -1);
  struct stat status;
  ASSERT_EQ(stat(("/dev/shm/sem." + key_).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
  ASSERT_EQ(writer.Open(key_, 114012, false, true), 0);
  ASSERT_EQ(again.Open(key_, 114012, false, false), 0);
  EXPECT_EQ(writer.Created() * 10 + again.Created(), 10);
  ASSERT_EQ(stat(("/dev/shm/shm." + key_).c_str(), &status), 0);
  EXPECT_EQ(static_cast<uint64_t>(status.st_size), CShareMemory::PageSize(114012));
  errno = 0;
  EXPECT_EQ(bad.Open("bad/key", 1812, true, false), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(bad.IsSemaphoreOpen());
  EXPECT_EQ(CShareMemory::Unlink(key_), 0);
  EXPECT_TRUE(BoardGone(key_));
  EXPECT_EQ(CShareMemory::Unlink(key_), -1);
}

TEST_F(ShareMemory, AccessStaysWithinTheMapping) {
  CShareMemory writer, reader, unopened;
  ASSERT_EQ(writer.Open(key_, 100, false, false), 0);
  ASSERT_EQ(reader.Open(key_, 100, true, false), 0);
  const int64_t length = static_cast<int64_t>(writer.Length());
  char text[9] = {};
  // Each result with the errno it left; a braced list runs its calls in order.
  auto r = [](int result) { return std::make_pair(result, result == 0 ? 0 : errno); };
  const struct {
    const char* what;
    std::pair<int, int> got, want;
  } cases[] = {
      {"write", r(writer.Write(0, "abcdefgh", 8, true)), {0, 0}},
      {"write past the end", r(writer.Write(length - 2, "xyz", 3, false)), {-1, EINVAL}},
      {"write before the start", r(writer.Write(-1, "x", 1, false)), {-1, EINVAL}},
      {"write read-only", r(reader.Write(0, "x", 1, false)), {-1, EBADF}},
      {"read past the end", r(reader.Read(length - 4, text, 5, false)), {-1, EINVAL}},
      {"read a negative length", r(reader.Read(0, text, -1, false)), {-1, EINVAL}},
      {"read unopened", r(unopened.Read(0, text, 1, false)), {-1, EBADF}},
      {"move down, locked", r(writer.Move(8, 2, 2, true)), {0, 0}},
      {"move down, unlocked", r(writer.Move(length, length - 4, 4, false)), {0, 0}},
      {"move nothing", r(writer.Move(4, 4, 1, false)), {-1, EINVAL}},
      {"move end before start", r(writer.Move(4, 6, 1, false)), {-1, EINVAL}},
      {"move beyond the start", r(writer.Move(8, 2, 3, false)), {-1, EINVAL}},
      {"move up", r(writer.Move(8, 2, -1, false)), {-1, EINVAL}},
      {"move past the end", r(writer.Move(length + 1, 2, 1, false)), {-1, EINVAL}},
      {"move read-only", r(reader.Move(10, 5, 1, false)), {-1, EBADF}},
      {"resize a size that cannot be set", r(writer.Resize(INT64_MAX, false)), {-1, EINVAL}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(reader.Resize(length * 3, false), -1) << "read-only";
  ASSERT_EQ(reader.Read(0, text, 8, true), 0);
  EXPECT_STREQ(text, "cdefghgh");
  ASSERT_EQ(writer.Resize(length * 3, true), 0);
  EXPECT_EQ(writer.Length(), CShareMemory::PageSize(static_cast<uint64_t>(length) * 3));
  EXPECT_EQ(writer.Write(length + 10, "x", 1, false), 0);
  CShareMemory grown;
  ASSERT_EQ(grown.Open(key_, length * 3, true, false), 0);
  ASSERT_EQ(grown.Read(length + 10, text, 1, false), 0);
  EXPECT_EQ(text[0], 'x');
}

TEST_F(ShareMemory, ObjectShorterThanAskedIsRefusedNotFaulted) {
  const int fd = shm_open(("shm." + key_).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100), 0);
  close(fd);
  CShareMemory memory;
  ASSERT_EQ(memory.Open(key_, 172812, true, false), 0);
  EXPECT_EQ(memory.Available(), 100u);
  std::string copy(172812, '\0');
  EXPECT_EQ(memory.Read(0, &copy[0], 172812, true), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(memory.Read(0, &copy[0], 100, true), 0);
}

TEST_F(ShareMemory, TimedLocksGiveUpAfterTheirTimeoutAndFailuresLeaveTheLockFree) {
  CShareMemory memory;
  ASSERT_EQ(memory.Open(key_, 100, false, false), 0);
  ASSERT_EQ(memory.Lock(), 0);
  for (int64_t timeout : {250, 1000, 1100}) {  // 1000 ms is one second, not 1,000,000,000 ns
    const long waited = WaitedFor(memory, timeout);
    EXPECT_TRUE(waited >= timeout - 10 && waited < timeout + 2000) << timeout << ": " << waited;
  }
  char c;
  EXPECT_EQ(memory.TimedRead(0, &c, 1, true), -1);
  EXPECT_EQ(memory.TimedRead(0, &c, 1, false), 0);
  ASSERT_EQ(memory.Unlock(), 0);
  EXPECT_EQ(memory.TimedRead(0, &c, 1, true), 0);
  const int64_t length = static_cast<int64_t>(memory.Length());
  EXPECT_EQ(memory.Read(length, &c, 1, true) + memory.Write(length, &c, 1, true) + memory.Move(length + 5, 5, 1, true), -3);
  memory.SetTimeout(0);
  EXPECT_TRUE(memory.TimedLock());
  memory.Unlock();
  CSemaphore unopened;
  EXPECT_TRUE(unopened.Lock() == -1 && !unopened.TimedLock() && unopened.Unlock() == -1);
}

int CountDescriptorsAndMaps() {
  int count = 0;
  for (int fd = 0; fd < 4096; ++fd) count += fcntl(fd, F_GETFD) != -1;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) count += line.find("/dev/shm/") != std::string::npos;
  return count;
}

TEST_F(ShareMemory, ReleasesMappingsDescriptorsAndHandlesOnEveryPath) {
  { CShareMemory creator; ASSERT_EQ(creator.Open(key_, 1812, false, false), 0); }
  const std::string missing = UniqueKey("account");
  const int before = CountDescriptorsAndMaps();
  for (int i = 0; i < 200; ++i) {
    CShareMemory found, absent;
    char c;
    ASSERT_EQ(found.Open(key_, 1812, true, false), 0);
    ASSERT_EQ(found.Read(0, &c, 1, true), 0);
    ASSERT_EQ(absent.Open(missing, 1812, true, false), -1);
  }
  EXPECT_EQ(CountDescriptorsAndMaps(), before);
}

}  // namespace
