#include "shm/Semaphore.h"

#include "shm/ShmKeeper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

CSemaphore::~CSemaphore() {
  if (handle_ != nullptr) sem_close(handle_);
}

int CSemaphore::Open(const std::string& name, int64_t timeoutMillis, mode_t createMode) {
  name_ = name;
  SetTimeout(timeoutMillis);
  // Most boards' semaphores exist already: open those as they are.
  sem_t* handle = sem_open(name.c_str(), 0);
  if (handle == SEM_FAILED && errno == ENOENT && createMode != 0) {
    // The creator's umask must not narrow the mode that the desk's users
    // need to share the lock.
    const mode_t saved = umask(0);
    handle = sem_open(name.c_str(), O_CREAT, createMode, 1);
    const int error = errno;
    umask(saved);
    errno = error;
  }
  if (handle == SEM_FAILED) return -1;
  if (handle_ != nullptr) sem_close(handle_);
  handle_ = handle;
  if (CShmKeeper::Enabled()) CShmKeeper::KeepSemaphore(name, handle);
  return 0;
}

void CSemaphore::SetTimeout(int64_t timeoutMillis) {
  timeoutSeconds_ = timeoutMillis / 1000;
  timeoutNanos_ = (timeoutMillis % 1000) * 1000000;
}

int CSemaphore::Lock() {
  if (handle_ == nullptr) return -1;
  while (sem_wait(handle_) != 0) {
    if (errno != EINTR) return -1;
  }
  return 0;
}

bool CSemaphore::TimedLock() {
  if (handle_ == nullptr) return false;
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutSeconds_);
  deadline.tv_nsec += static_cast<long>(timeoutNanos_);
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  } else if (deadline.tv_nsec < 0) {
    deadline.tv_sec -= 1;
    deadline.tv_nsec += 1000000000L;
  }
  while (sem_timedwait(handle_, &deadline) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

int CSemaphore::Unlock() {
  if (handle_ == nullptr) return -1;
  return sem_post(handle_) == 0 ? 0 : -1;
}
