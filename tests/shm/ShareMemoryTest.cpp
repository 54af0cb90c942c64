// CShareMemory and CSemaphore on real POSIX shared memory and semaphores.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

class ShareMemory : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_PRIVATE_SHM(); }
  const std::string key_ = UniqueKey("account");
};

TEST_F(ShareMemory, ReadersCreateNothingAndWritersCreateWithTheirMode) {
  CShareMemory reader, writer, again;
  errno = 0;
  EXPECT_EQ(reader.Open(key_, 1812, true, false), -1);
  EXPECT_TRUE(errno == ENOENT && reader.Failed() == CShareMemory::Part::kSegment &&
              !reader.IsSemaphoreOpen() && BoardGone(key_));
  const mode_t saved = umask(077);
  ASSERT_EQ(writer.Open(key_, 114012, false, true) + again.Open(key_, 114012, false, false), 0);
  EXPECT_EQ(umask(saved), 077u);  // and the mask is given back
  struct stat segment;
  ASSERT_EQ(stat(("/dev/shm/shm." + key_).c_str(), &segment), 0);
  EXPECT_EQ(segment.st_size, (114012 / getpagesize() + 1) * getpagesize())
      << "one page more than the whole pages";
  struct stat semaphore;
  ASSERT_EQ(stat(CShareMemory::SemaphorePath(key_).c_str(), &semaphore), 0);
  EXPECT_EQ((segment.st_mode & 0777) * 01000 + (semaphore.st_mode & 0777), 0666666u)
      << "the desk's feeders' way";
  // The modes and group of a feeder and a web server (group 4: not the test's own).
  const std::string other = UniqueKey("account");
  CShareMemory owned;
  owned.SetCreation(0640, 0660, 4);
  ASSERT_EQ(owned.Open(other, 1812, false, false), 0);
  ASSERT_EQ(stat(("/dev/shm/shm." + other).c_str(), &segment) +
                stat(CShareMemory::SemaphorePath(other).c_str(), &semaphore),
            0);
  EXPECT_EQ(std::make_tuple(segment.st_mode & 0777, semaphore.st_mode & 0777, segment.st_gid,
                            semaphore.st_gid),
            std::make_tuple(0640u, 0660u, 4u, 4u));
  // Keys that cannot name a board are refused before anything is asked of the system.
  for (const std::string& key : {std::string("account.bad/key"), std::string("account.\x7f"),
                                 std::string(), "account." + std::string(244, '7')}) {
    CShareMemory bad;
    errno = 0;
    EXPECT_EQ(bad.Open(key, 1812, false, false), -1) << key;
    EXPECT_TRUE(errno == EINVAL && bad.Failed() == CShareMemory::Part::kKey && BoardGone(key))
        << key;
  }
  CShareMemory longest;
  EXPECT_EQ(longest.Open("account." + std::string(243, '7'), 1812, true, false), -1);
  EXPECT_EQ(longest.Failed(), CShareMemory::Part::kSegment) << "251 bytes still name a board";
}

TEST_F(ShareMemory, AccessStaysWithinTheMapping) {
  CShareMemory writer, reader;
  ASSERT_EQ(writer.Open(key_, 100, false, false) + reader.Open(key_, 100, true, false), 0);
  const int64_t length = static_cast<int64_t>(writer.Length());
  char text[9] = {};
  // Each result with the errno it left; a braced list runs its calls in order.
  auto r = [](int result) { return std::make_pair(result, result == 0 ? 0 : errno); };
  const struct {
    const char* what;
    std::pair<int, int> got, want;
  } cases[] = {
      {"write past the end", r(writer.Write(length - 2, "xyz", 3, false)), {-1, EINVAL}},
      {"write read-only", r(reader.Write(0, "x", 1, false)), {-1, EBADF}},
      {"read past the end", r(reader.Read(length - 4, text, 5, false)), {-1, EINVAL}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  // A board that shrinks under a copy by read (a CGI reader) is an error with a reason, not a short
  // copy.
  CShareMemory copier;
  copier.CopyWithoutMapping();
  ASSERT_EQ(copier.Open(key_, 100, true, false) + truncate(("/dev/shm/shm." + key_).c_str(), 0) +
                (errno = 0),
            0);
  EXPECT_EQ(r(copier.Read(0, text, 1, false)), std::make_pair(-1, EINVAL));
}

TEST_F(ShareMemory, TimedLocksGiveUpAfterTheirTimeoutAndFailuresLeaveTheLockFree) {
  CShareMemory memory;
  ASSERT_EQ(memory.Open(key_, 100, false, false) + memory.Lock(), 0);
  // 1000 ms is one second, not 1,000,000,000 ns; 950 ms nearly always carries the deadline into
  // the next second.
  for (int64_t timeout : {950, 1000}) {
    memory.SetTimeout(timeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(memory.TimedLock());
    const long waited = MsSince(start);
    EXPECT_TRUE(waited >= timeout - 10 && waited < timeout + 2000) << timeout << ": " << waited;
  }
  char c;
  ASSERT_EQ(memory.Unlock(), 0);
  const int64_t length = static_cast<int64_t>(memory.Length());
  EXPECT_EQ(memory.Read(length, &c, 1, true) + memory.Write(length, &c, 1, true), -2);
  memory.SetTimeout(0);
  EXPECT_TRUE(memory.TimedLock() && memory.Unlock() == 0);
  CSemaphore unopened;
  EXPECT_TRUE(unopened.Lock() == -1 && !unopened.TimedLock() && unopened.Unlock() == -1);
}

}  // namespace
