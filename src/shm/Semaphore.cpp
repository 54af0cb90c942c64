#include "shm/Semaphore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "shm/ShmKeeper.h"

namespace {

// Creates with `flags` and exactly `mode`: the creator's umask must not
// narrow the mode that the desk's users need to share the lock.
sem_t* CreateWithMode(const std::string& name, int flags, mode_t mode) {
  const mode_t saved = umask(0);
  sem_t* handle = sem_open(name.c_str(), O_CREAT | flags, mode, 1);
  const int error = errno;
  umask(saved);
  errno = error;
  return handle;
}

// Byte 0 of a semaphore's file: shared by every process inside (waiting
// for the semaphore or holding it), exclusive for a take-back. Byte 1: the
// door, closed (exclusive) by a take-back so that those inside can leave
// and none comes in.
const off_t kInside = 0, kDoor = 1;

// Sets (or clears) a lock of `type` on `length` bytes at `start`. 0, or -1
// with errno (EAGAIN or EACCES while a conflicting lock stands). Never
// waits: anyone who may open the file could hold a lock on it for good.
int SetRange(int file, short type, off_t start, off_t length) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = length;
  int result;
  while ((result = fcntl(file, F_OFD_SETLK, &range)) != 0 && errno == EINTR) {
  }
  return result;
}

bool Conflict(int error) { return error == EAGAIN || error == EACCES; }

void Pause(long nanos) {
  const struct timespec pause = {0, nanos};
  nanosleep(&pause, nullptr);
}

// The wait of TimedLock: until `deadline` on `clock`. 0 when taken.
int WaitUntil(sem_t* handle, clockid_t clock, const struct timespec& deadline) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 30)
  while (sem_clockwait(handle, clock, &deadline) != 0) {
#else
  (void)clock;
  while (sem_timedwait(handle, &deadline) != 0) {
#endif
    if (errno != EINTR) return -1;
  }
  return 0;
}

#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 30)
const clockid_t kWaitClock = CLOCK_MONOTONIC;
#else
const clockid_t kWaitClock = CLOCK_REALTIME;
#endif

struct timespec DeadlineIn(int64_t seconds, int64_t nanos) {
  struct timespec deadline;
  clock_gettime(kWaitClock, &deadline);
  deadline.tv_sec += static_cast<time_t>(seconds);
  deadline.tv_nsec += static_cast<long>(nanos);
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  } else if (deadline.tv_nsec < 0) {
    deadline.tv_sec -= 1;
    deadline.tv_nsec += 1000000000L;
  }
  return deadline;
}

}  // namespace

CSemaphore::~CSemaphore() { Let(); }

void CSemaphore::Let() {
  Leave();
  if (handle_ != nullptr && borrowed_) {
    CShmKeeper::ReleaseSemaphore(name_, handle_);
  } else if (handle_ != nullptr) {
    sem_close(handle_);
  }
  if (markFile_ >= 0 && ownMarkFile_) close(markFile_);
  handle_ = nullptr;
  borrowed_ = false;
  markFile_ = -1;
  ownMarkFile_ = true;
}

int CSemaphore::Borrow(const std::string& name, sem_t* handle, int64_t timeoutMillis) {
  Let();
  name_ = name;
  SetTimeout(timeoutMillis);
  handle_ = handle;
  borrowed_ = true;
  return 0;
}

int CSemaphore::Open(const std::string& name, int64_t timeoutMillis, mode_t createMode,
                     const struct stat* file) {
  Let();
  name_ = name;
  SetTimeout(timeoutMillis);
  // Most boards' semaphores exist already: open those as they are.
  sem_t* handle = sem_open(name.c_str(), 0);
  if (handle == SEM_FAILED && errno == ENOENT && createMode != 0) {
    handle = CreateWithMode(name, 0, createMode);
  }
  return Keep(handle, file);
}

int CSemaphore::Create(const std::string& name, int64_t timeoutMillis, mode_t mode) {
  Let();
  name_ = name;
  SetTimeout(timeoutMillis);
  return Keep(CreateWithMode(name, O_EXCL, mode), nullptr);
}

int CSemaphore::Keep(sem_t* handle, const struct stat* file) {
  if (handle == SEM_FAILED) return -1;
  handle_ = handle;
  if (CShmKeeper::Enabled()) CShmKeeper::KeepSemaphore(name_, handle, file);
  return 0;
}

void CSemaphore::SetTimeout(int64_t timeoutMillis) {
  timeoutSeconds_ = timeoutMillis / 1000;
  timeoutNanos_ = (timeoutMillis % 1000) * 1000000;
}

int CSemaphore::Enter(int64_t deadlineMillis) {
  if (CShmKeeper::Enabled() && (markFile_ < 0 || !ownMarkFile_)) {
    // A worker's kept semaphore lends its descriptor, asked for afresh each
    // time (the keeper may have let an older one go): one worker reads one
    // board at a time, so its holds never overlap on it.
    const int kept = CShmKeeper::MarkFile(name_, handle_, FilePath(name_));
    // A semaphore whose file was replaced is no longer the board's: no
    // one else waits on it, and its holds go unmarked.
    if (kept == -2) return 0;
    ownMarkFile_ = kept < 0;
    markFile_ = kept;
  }
  if (markFile_ < 0) {
    markFile_ = open(FilePath(name_).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  // No file to mark (not where this system keeps semaphores): unmarked.
  if (markFile_ < 0) return 0;
  // Inside and the door at once, then the door let go: one lock fewer to
  // take than passing the door first.
  while (SetRange(markFile_, F_RDLCK, kInside, 2) != 0) {
    if (!Conflict(errno)) return 0;
    if (deadlineMillis >= 0 && NowMillis() >= deadlineMillis) {
      errno = ETIMEDOUT;
      return -1;
    }
    Pause(500000);
  }
  SetRange(markFile_, F_UNLCK, kDoor, 1);
  inside_ = true;
  return 0;
}

void CSemaphore::Leave() {
  if (!inside_) return;
  const int error = errno;
  SetRange(markFile_, F_UNLCK, kInside, 1);
  inside_ = false;
  errno = error;
}

int CSemaphore::Lock() {
  if (handle_ == nullptr || Enter(-1) != 0) return -1;
  while (sem_wait(handle_) != 0) {
    if (errno != EINTR) {
      Leave();
      return -1;
    }
  }
  return 0;
}

bool CSemaphore::TimedLock() {
  if (handle_ == nullptr) return false;
  const struct timespec deadline = DeadlineIn(timeoutSeconds_, timeoutNanos_);
  if (Enter(NowMillis() + timeoutSeconds_ * 1000 + timeoutNanos_ / 1000000) != 0) return false;
  if (WaitUntil(handle_, kWaitClock, deadline) == 0) return true;
  Leave();
  return false;
}

int CSemaphore::Unlock() {
  if (handle_ == nullptr) return -1;
  const int posted = sem_post(handle_) == 0 ? 0 : -1;
  Leave();
  return posted;
}

bool CSemaphore::TryLock() {
  if (handle_ == nullptr || Enter(NowMillis()) != 0) return false;
  if (sem_trywait(handle_) == 0) return true;
  Leave();
  return false;
}

int CSemaphore::Drain() {
  int taken = 0;
  while (handle_ != nullptr && sem_trywait(handle_) == 0) ++taken;
  return taken;
}

CSemaphore::Orphan CSemaphore::ReleaseOrphan(int64_t windowMillis) {
  if (handle_ == nullptr) return Orphan::kFailed;
  if (Value() != 0) return Orphan::kFree;
  const int64_t end = NowMillis() + windowMillis;
  const struct timespec deadline = DeadlineIn(windowMillis / 1000, windowMillis % 1000 * 1000000);
  const int file = open(FilePath(name_).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (file < 0) return Orphan::kFailed;
  // A newcomer passes the door in a moment; another take-back keeps it.
  int shut;
  for (int tries = 20;
       (shut = SetRange(file, F_WRLCK, kDoor, 1)) != 0 && Conflict(errno) && --tries > 0;) {
    Pause(500000);
  }
  if (shut != 0) {
    const int error = errno;
    close(file);
    errno = error;
    return Conflict(error) ? Orphan::kBusy : Orphan::kFailed;
  }
  // The door is shut: those inside leave in their turn (a waiter when its
  // deadline passes), and none comes in.
  Orphan seen = Orphan::kHeld;
  for (;; Pause(1000000)) {
    if (Value() != 0) {
      seen = Orphan::kFree;
      break;
    }
    if (SetRange(file, F_WRLCK, kInside, 1) == 0) {
      // No process of this system holds it. A holder that does not mark
      // its hold shows itself by letting go within the window: the count
      // then comes here, and goes straight back.
      seen = Orphan::kReleased;
      if (WaitUntil(handle_, kWaitClock, deadline) == 0) {
        sem_post(handle_);
        seen = Orphan::kFree;
      } else if (Value() != 0) {
        seen = Orphan::kFree;
      } else if (errno != ETIMEDOUT || sem_post(handle_) != 0) {
        seen = Orphan::kFailed;
      }
      break;
    }
    if (NowMillis() >= end) break;
  }
  const int error = errno;
  close(file);
  errno = error;
  return seen;
}

int CSemaphore::Value() const {
  int value = -1;
  if (handle_ == nullptr || sem_getvalue(handle_, &value) != 0) return -1;
  return value;
}

int64_t CSemaphore::NowMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
