// CShareMemory and CSemaphore on real POSIX shared memory and semaphores.
#include "shm/ShareMemory.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>

#include "support/Desk.h"

namespace {

class ShareMemory : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_PRIVATE_SHM(); }
  // The modes of a board's segment and semaphore as one octal number, and their groups as one decimal.
  static std::pair<unsigned, unsigned> Made(const std::string& key) {
    struct stat segment, semaphore;
    if (stat(("/dev/shm/shm." + key).c_str(), &segment) + stat(CShareMemory::SemaphorePath(key).c_str(), &semaphore) != 0) return {0, 0};
    return {(segment.st_mode & 0777) * 01000 + (semaphore.st_mode & 0777), segment.st_gid * 10 + semaphore.st_gid};
  }
  const std::string key_ = UniqueKey("account");
};

TEST_F(ShareMemory, ReadersCreateNothingAndWritersCreateWithTheirMode) {
  CShareMemory reader, writer, again, owned;
  errno = 0;
  EXPECT_EQ(reader.Open(key_, 1812, true, false), -1);
  EXPECT_TRUE(errno == ENOENT && reader.Failed() == CShareMemory::Part::kSegment && !reader.IsSemaphoreOpen() && BoardGone(key_));
  const mode_t saved = umask(077);
  ASSERT_EQ(writer.Open(key_, 114012, false, true) + again.Open(key_, 114012, false, false), 0);
  EXPECT_EQ(umask(saved), 077u);  // and the mask is given back
  EXPECT_EQ(writer.Created() * 10 + again.Created(), 10);
  struct stat segment;
  ASSERT_EQ(stat(("/dev/shm/shm." + key_).c_str(), &segment), 0);
  EXPECT_EQ(segment.st_size, (114012 / getpagesize() + 1) * getpagesize()) << "one page more than the whole pages";
  EXPECT_EQ(Made(key_).first, 0666666u) << "the desk's feeders' way";
  const std::string other = UniqueKey("account");
  owned.SetCreation(0640, 4);  // the group of a feeder and a web server
  ASSERT_EQ(owned.Open(other, 1812, false, false), 0);
  EXPECT_EQ(Made(other), std::make_pair(0640640u, 44u));
  // Keys that cannot name a board are refused before anything is asked of the system.
  for (const std::string& key : {std::string("account.bad/key"), std::string("account.a\nb"), std::string("account.\x7f"), std::string(), "account." + std::string(244, '7')}) {
    CShareMemory bad;
    errno = 0;
    EXPECT_EQ(bad.Open(key, 1812, false, false), -1) << key;
    EXPECT_TRUE(errno == EINVAL && bad.Failed() == CShareMemory::Part::kKey && BoardGone(key)) << key;
  }
  CShareMemory longest;
  EXPECT_EQ(longest.Open("account." + std::string(243, '7'), 1812, true, false), -1);
  EXPECT_EQ(longest.Failed(), CShareMemory::Part::kSegment) << "251 bytes still name a board";
  EXPECT_EQ(CShareMemory::Unlink(key_), 0);
  EXPECT_TRUE(BoardGone(key_) && CShareMemory::Unlink(key_) == -1);
}

// Runs `attack` in a child process as `user`; its exit status, or -1 when no child could be made.
int AsUser(const struct passwd& user, const std::function<int()>& attack) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(setgroups(0, nullptr) == 0 && setgid(user.pw_gid) == 0 && setuid(user.pw_uid) == 0 ? attack() : 99);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ShareMemory, AnotherUserCanJamOrForgeOnlyWhatTheOwnerLeavesOpen) {
  if (geteuid() != 0) GTEST_SKIP() << "a second user takes root to make";
  ASSERT_EQ(RunShell("id zelvora-other >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin zelvora-other").status, 0);
  const struct passwd* other = getpwnam("zelvora-other");
  ASSERT_NE(other, nullptr);
  const std::string open = UniqueKey("account"), kept = UniqueKey("account"), forged = UniqueKey("account");
  CShareMemory openBoard, keptBoard;
  keptBoard.SetCreation(0660, 0);
  ASSERT_EQ(openBoard.Open(open, 1812, false, false) + keptBoard.Open(kept, 1812, false, false), 0);
  const int attack = AsUser(*other, [&] {
    // 1: the open board's lock raised, 2: taken; 4, 8: the kept board's lock or segment opened; 16: a board made before its feeder.
    sem_t* lock = sem_open(open.c_str(), 0);
    const int raised = lock != SEM_FAILED && sem_post(lock) == 0 && sem_trywait(lock) == 0 && sem_trywait(lock) == 0 ? 3 : 0;
    const int keptLock = sem_open(kept.c_str(), 0) != SEM_FAILED ? 4 : 0, keptSegment = shm_open(("shm." + kept).c_str(), O_RDWR, 0) >= 0 ? 8 : 0;
    CShareMemory made;
    return raised | keptLock | keptSegment | (made.Open(forged, 1812, false, false) == 0 && made.Write(0, "{}", 2, false) == 0 ? 16 : 0);
  });
  EXPECT_EQ(attack, 3 | 16) << "the open board jammed, the kept one untouched, a board forged";
  // Read without an owner named, then with this user as the owner: "result refusal".
  const std::pair<std::string, std::string> reads[] = {
      {open, "-1 |-1 segment writable by others"},  // jammed: the lock does not come free
      {forged, "0 |-1 segment owned by uid " + std::to_string(other->pw_uid) + ", not 0"},  // the default trusts /dev/shm
      {kept, "0 |0 "},
  };
  for (const auto& [key, want] : reads) {
    std::string got;
    for (bool owner : {false, true}) {
      CShareMemory reader;
      char c;
      if (owner) reader.RequireOwner(0);
      int result = reader.Open(key, 1812, true, false);
      reader.SetTimeout(100);  // after Open, which sets its own
      if (result == 0) result = reader.TimedRead(0, &c, 1, true);
      got += (owner ? "|" : "") + std::to_string(result) + " " + reader.Refusal();
    }
    EXPECT_EQ(got, want) << key;
  }
}

TEST_F(ShareMemory, AccessStaysWithinTheMapping) {
  CShareMemory writer, reader, unopened;
  ASSERT_EQ(writer.Open(key_, 100, false, false) + reader.Open(key_, 100, true, false), 0);
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
      {"write read-only", r(reader.Write(0, "x", 1, false)), {-1, EBADF}},
      {"read past the end", r(reader.Read(length - 4, text, 5, false)), {-1, EINVAL}},
      {"read unopened", r(unopened.Read(0, text, 1, false)), {-1, EBADF}},
      {"move down, locked", r(writer.Move(8, 2, 2, true)), {0, 0}},
      {"move down, unlocked", r(writer.Move(length, length - 4, 4, false)), {0, 0}},
      {"move nothing", r(writer.Move(4, 4, 1, false)), {-1, EINVAL}},
      {"move end before start", r(writer.Move(4, 6, 1, false)), {-1, EINVAL}},
      {"move beyond the start", r(writer.Move(8, 2, 3, false)), {-1, EINVAL}},
      {"move past the end", r(writer.Move(length + 1, 2, 1, false)), {-1, EINVAL}},
      {"resize a size that cannot be set", r(writer.Resize(INT64_MAX, false)), {-1, EINVAL}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(reader.Resize(length * 3, false), -1) << "read-only";
  ASSERT_EQ(reader.Read(0, text, 8, true), 0);
  EXPECT_STREQ(text, "cdefghgh");
  ASSERT_EQ(writer.Resize(length * 3, true), 0);
  EXPECT_EQ(writer.Length(), static_cast<uint64_t>(length) * 3 + getpagesize());
  EXPECT_EQ(writer.Write(length + 10, "x", 1, false), 0);
}

TEST_F(ShareMemory, TimedLocksGiveUpAfterTheirTimeoutAndFailuresLeaveTheLockFree) {
  CShareMemory memory;
  ASSERT_EQ(memory.Open(key_, 100, false, false) + memory.Lock(), 0);
  for (int64_t timeout : {250, 1000, 1100}) {  // 1000 ms is one second, not 1,000,000,000 ns
    memory.SetTimeout(timeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(memory.TimedLock());
    const long waited = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
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
  EXPECT_TRUE(memory.TimedLock() && memory.Unlock() == 0);
  CSemaphore unopened;
  EXPECT_TRUE(unopened.Lock() == -1 && !unopened.TimedLock() && unopened.Unlock() == -1);
}

TEST_F(ShareMemory, ReleasesMappingsDescriptorsAndHandlesOnEveryPath) {
  auto held = [] {
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd) count += fcntl(fd, F_GETFD) != -1;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) count += line.find("/dev/shm/") != std::string::npos;
    return count;
  };
  { CShareMemory creator; ASSERT_EQ(creator.Open(key_, 1812, false, false), 0); }
  const std::string missing = UniqueKey("account");
  const int before = held();
  for (int i = 0; i < 200; ++i) {
    CShareMemory found, absent;
    char c;
    ASSERT_EQ(found.Open(key_, 1812, true, false) + found.Read(0, &c, 1, true), 0);
    ASSERT_EQ(absent.Open(missing, 1812, true, false), -1);
  }
  EXPECT_EQ(held(), before);
}

}  // namespace
