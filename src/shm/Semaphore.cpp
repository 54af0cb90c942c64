#include "shm/Semaphore.h"

#include "shm/ShmKeeper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

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

}  // namespace

CSemaphore::~CSemaphore() { Let(); }

void CSemaphore::Let() {
  if (handle_ != nullptr && borrowed_) {
    CShmKeeper::ReleaseSemaphore(name_, handle_);
  } else if (handle_ != nullptr) {
    sem_close(handle_);
  }
  handle_ = nullptr;
  borrowed_ = false;
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

int CSemaphore::Lock() {
  if (handle_ == nullptr) return -1;
  while (sem_wait(handle_) != 0) {
    if (errno != EINTR) return -1;
  }
  return 0;
}

bool CSemaphore::TimedLock() {
  if (handle_ == nullptr) return false;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 30)
  const clockid_t clock = CLOCK_MONOTONIC;
#else
  const clockid_t clock = CLOCK_REALTIME;
#endif
  struct timespec deadline;
  clock_gettime(clock, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutSeconds_);
  deadline.tv_nsec += static_cast<long>(timeoutNanos_);
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  } else if (deadline.tv_nsec < 0) {
    deadline.tv_sec -= 1;
    deadline.tv_nsec += 1000000000L;
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 30)
  while (sem_clockwait(handle_, clock, &deadline) != 0) {
#else
  while (sem_timedwait(handle_, &deadline) != 0) {
#endif
    if (errno != EINTR) return false;
  }
  return true;
}

int CSemaphore::Unlock() {
  if (handle_ == nullptr) return -1;
  return sem_post(handle_) == 0 ? 0 : -1;
}

bool CSemaphore::TryLock() { return handle_ != nullptr && sem_trywait(handle_) == 0; }

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
