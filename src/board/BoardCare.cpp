#include "board/BoardCare.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "board/HeldSignals.h"
#include "shm/Board.h"
#include "shm/ShareMemory.h"
#include "util/StringUtil.h"
#include "util/TimeText.h"

namespace {

std::string Owner(const struct stat& status) {
  const struct passwd* user = getpwuid(status.st_uid);
  const struct group* group = getgrgid(status.st_gid);
  return (user != nullptr ? std::string(user->pw_name) : std::to_string(status.st_uid)) + ":" +
         (group != nullptr ? std::string(group->gr_name) : std::to_string(status.st_gid));
}

std::string Mode(const struct stat& status) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return text;
}

// Every key with a segment in /dev/shm, sorted.
std::vector<std::string> AllKeys() {
  std::vector<std::string> keys;
  DIR* dir = opendir("/dev/shm");
  while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    if (std::strncmp(entry->d_name, "shm.", 4) == 0) keys.push_back(entry->d_name + 4);
  }
  if (dir != nullptr) closedir(dir);
  std::sort(keys.begin(), keys.end());
  return keys;
}

// 0 when the segment was there.
int ShowOne(const std::string& key, FILE* out) {
  std::fprintf(out, "board %s\n", Printable(key).c_str());
  struct stat status;
  const int fd = CShareMemory::IsKey(key) ? shm_open(("shm." + key).c_str(), O_RDONLY, 0) : -1;
  const bool segment = fd >= 0 && fstat(fd, &status) == 0;
  if (segment) {
    std::fprintf(out, "  segment: %lld bytes, mode %s, owner %s, changed %s\n",
                 static_cast<long long>(status.st_size), Mode(status).c_str(),
                 Owner(status).c_str(), TimeText(status.st_mtime, 1).c_str());
    char header[kBoardHeaderSize + 1] = {};
    if (pread(fd, header, kBoardHeaderSize, 0) == kBoardHeaderSize) {
      const BoardHeader fields = ReadBoardHeader(header);
      std::fprintf(out, "  header: count %d, record size %d\n", fields.count, fields.recordSize);
    }
  } else {
    std::fprintf(out, "  segment: none (%s)\n", std::strerror(errno));
  }
  if (fd >= 0) close(fd);
  sem_t* semaphore = CShareMemory::IsKey(key) ? sem_open(key.c_str(), 0) : SEM_FAILED;
  int value = 0;
  if (semaphore != SEM_FAILED && stat(CShareMemory::SemaphorePath(key).c_str(), &status) == 0 &&
      sem_getvalue(semaphore, &value) == 0) {
    std::fprintf(out, "  semaphore: value %d%s, mode %s, owner %s\n", value,
                 value == 0 ? " (taken)" : "", Mode(status).c_str(), Owner(status).c_str());
  } else {
    std::fprintf(out, "  semaphore: none (%s)\n", std::strerror(errno));
  }
  if (semaphore != SEM_FAILED) sem_close(semaphore);
  return segment ? 0 : 1;
}

// The first value of `semaphore` above `limit` when looked at every
// millisecond for `millis`, or `limit` when it showed none (-1 when it
// cannot be read).
int ValueAbove(const CSemaphore& semaphore, int limit, int64_t millis) {
  const int64_t end = CSemaphore::NowMillis() + millis;
  for (;;) {
    const int value = semaphore.Value();
    if (value < 0 || value > limit) return value;
    if (CSemaphore::NowMillis() >= end) return limit;
    const struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

int ShowBoardStatus(const std::vector<std::string>& keys, FILE* out, FILE* err) {
  const std::vector<std::string> shown = keys.empty() ? AllKeys() : keys;
  if (shown.empty()) std::fputs("zelvora-board: no boards in /dev/shm\n", err);
  int missing = 0;
  for (const std::string& key : shown) missing += ShowOne(key, out);
  return missing == 0 && !shown.empty() ? 0 : 1;
}

int UnlockBoard(const std::string& key, int64_t heldMillis, FILE* out, FILE* err) {
  CSemaphore semaphore;
  if (!CShareMemory::IsKey(key) || semaphore.Open(key, heldMillis, 0) != 0) {
    std::fprintf(err, "zelvora-board: no semaphore for board %s: %s\n", Printable(key).c_str(),
                 std::strerror(CShareMemory::IsKey(key) ? errno : EINVAL));
    return 1;
  }
  const std::string name = Printable(key);
  const long long held = static_cast<long long>(heldMillis);
  // From here to the end a count this tool takes is always given back.
  const CHeldSignals signals;
  const int value = semaphore.Value();
  const CSemaphore::Orphan seen = semaphore.ReleaseOrphan(heldMillis);
  if (seen != CSemaphore::Orphan::kReleased) {
    std::string what;
    switch (seen) {
      case CSemaphore::Orphan::kFree:
        what = value != 0
                   ? "is not stuck: its lock is free (value " + std::to_string(value) + ")"
                   : "is not stuck: its lock came free within " + std::to_string(held) + " ms";
        break;
      case CSemaphore::Orphan::kHeld:
        what = "is held, or waited for, by a live process throughout " + std::to_string(held) +
               " ms (a waiter leaves after SHM_LOCK_MS: give --held more than that)";
        break;
      case CSemaphore::Orphan::kBusy:
        what = "is being unlocked by another process";
        break;
      default:
        what = std::string("cannot be unlocked: ") + std::strerror(errno);
    }
    std::fprintf(err, "zelvora-board: board %s %s; nothing changed\n", name.c_str(), what.c_str());
    return 1;
  }
  // A holder that does not mark its hold and was slow, not dead, lets go in
  // its turn: the one release too many is taken back before it lets two
  // holders in at once for good.
  const int after = ValueAbove(semaphore, 1, heldMillis);
  if (after > 1 && semaphore.TryLock()) {
    std::fprintf(err,
                 "zelvora-board: board %s: its holder let go within %lld ms of the release (value "
                 "%d): the release is taken back\n",
                 name.c_str(), held, after);
    return 1;
  }
  std::fprintf(out,
               "board %s unlocked: its lock stayed taken (value 0) for all of %lld ms, and no live "
               "process of this system held it; released once\n",
               name.c_str(), held);
  return 0;
}
