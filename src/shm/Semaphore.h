// CSemaphore: a named POSIX semaphore used as a lock between processes.
//
// Owns the handle from Open until destruction, which closes it (the
// semaphore itself stays in the system; nothing here removes it), or
// hands back one borrowed from CShmKeeper (Borrow). Not copyable. Names
// are handed to sem_open unchanged (no leading "/" added).
//
// Every process of this system that waits for the semaphore or holds it
// says so on the semaphore's file in /dev/shm: a shared open-file-
// description lock on its first byte, from before its wait until after its
// post, which the kernel drops when the process dies. A take-back
// (ReleaseOrphan) shuts the way in (an exclusive lock on the second byte,
// at which newcomers wait within their own deadlines); once the first byte
// is free, none of them holds the semaphore. Costs one descriptor for each
// semaphore in use; a semaphore without that file is used unmarked.
#ifndef ZELVORA_SHM_SEMAPHORE_H_
#define ZELVORA_SHM_SEMAPHORE_H_

#include <semaphore.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>

class CSemaphore {
 public:
  CSemaphore() = default;
  ~CSemaphore();
  CSemaphore(const CSemaphore&) = delete;
  CSemaphore& operator=(const CSemaphore&) = delete;

  // Opens the semaphore `name`, or, when `createMode` is not 0, creates it
  // (value 1, exactly that mode whatever the umask) if it does not exist;
  // stores `timeoutMillis` for TimedLock. 0 on success, -1 when sem_open
  // failed (errno tells why).
  // `file`, when given, is the semaphore's file as lstat found it before
  // (see CShmKeeper::KeepSemaphore).
  int Open(const std::string& name, int64_t timeoutMillis, mode_t createMode = 0666,
           const struct stat* file = nullptr);

  // Creates the semaphore `name` (value 1, exactly `mode`) only when none
  // exists: -1 with errno EEXIST when one does, so that a caller never
  // takes another user's semaphore for one it made.
  int Create(const std::string& name, int64_t timeoutMillis, mode_t mode);

  // Uses `handle`, the semaphore CShmKeeper kept as `name` and handed out,
  // until destruction gives it back. 0.
  int Borrow(const std::string& name, sem_t* handle, int64_t timeoutMillis);

  // Seconds = ms / 1000 (truncating), nanoseconds = (ms % 1000) * 1000000.
  void SetTimeout(int64_t timeoutMillis);

  // Waits without bound. 0 when taken, -1 when not open or the wait failed.
  int Lock();

  // Waits at most the stored timeout from now, on the monotonic clock: a
  // change of the system's time neither stretches nor cuts the wait (on
  // a C library without sem_clockwait, the deadline is CLOCK_REALTIME's).
  // True when taken.
  bool TimedLock();

  // Releases. 0, or -1 when not open or the post failed.
  int Unlock();

  // Takes the semaphore only when it is free now. True when taken.
  bool TryLock();

  // The semaphore's value now (0 while it is held), or -1 when not open.
  int Value() const;

  // For a holder: takes every count above its own hold, which another
  // process's extra posts left (they would let two holders in). How many
  // it took.
  int Drain();

  enum class Orphan { kReleased, kFree, kBusy, kHeld, kFailed };
  // Posts once for a holder that is gone, and never makes two holders of
  // this system's processes: shuts the way in, waits at most
  // `windowMillis` for those inside to leave, and then (the value still 0)
  // waits in line for the rest of the window before it posts. kReleased
  // when it posted; kFree when the value was or became above 0 (busy, not
  // stuck); kHeld when a live process stayed inside all the window; kBusy
  // when another take-back was under way; kFailed (errno) otherwise.
  Orphan ReleaseOrphan(int64_t windowMillis);

  // The file in /dev/shm that holds the semaphore `name`.
  static std::string FilePath(const std::string& name) { return "/dev/shm/sem." + name; }

  // Milliseconds on the monotonic clock, which TimedLock's waits keep to.
  static int64_t NowMillis();

  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& Name() const { return name_; }

 private:
  // Holds `handle`, opened from `file` when known, in place of any earlier
  // one; 0, or -1 for SEM_FAILED.
  int Keep(sem_t* handle, const struct stat* file);
  // Leaves, and closes or gives back the handle held.
  void Let();
  // Says this process is inside (see above), waiting while the way in is
  // shut, until `deadlineMillis` (NowMillis; -1 without bound): 0, or -1
  // with ETIMEDOUT. A file that cannot be opened leaves it unmarked.
  int Enter(int64_t deadlineMillis);
  void Leave();

  std::string name_;
  sem_t* handle_ = nullptr;
  bool borrowed_ = false;
  int markFile_ = -1;
  bool ownMarkFile_ = true;  // false when lent by CShmKeeper
  bool inside_ = false;
  int64_t timeoutSeconds_ = 0;
  int64_t timeoutNanos_ = 0;
};

// Holds a taken semaphore and releases it on every path out of the scope.
class CSemaphoreGuard {
 public:
  // Takes `semaphore` with Lock when `take` is set; Taken() tells whether
  // it is held.
  CSemaphoreGuard(CSemaphore& semaphore, bool take)
      : semaphore_(semaphore), taken_(take && semaphore.Lock() == 0) {}
  // Keeps errno, so a failure reported inside the scope survives the release.
  ~CSemaphoreGuard() {
    if (!taken_) return;
    const int error = errno;
    semaphore_.Unlock();
    errno = error;
  }
  CSemaphoreGuard(const CSemaphoreGuard&) = delete;
  CSemaphoreGuard& operator=(const CSemaphoreGuard&) = delete;

  // Marks an already taken semaphore as held by this guard.
  void Adopt() { taken_ = true; }
  bool Taken() const { return taken_; }

 private:
  CSemaphore& semaphore_;
  bool taken_;
};

#endif  // ZELVORA_SHM_SEMAPHORE_H_
