// CShareMemory: one named POSIX shared-memory segment and the named
// semaphore that guards it.
//
// For key K the object is "shm." + K and the semaphore K, both handed to
// the system unchanged (no leading "/"). The object owns its descriptor,
// mapping and semaphore handle from Open until destruction, which unmaps,
// closes and closes the semaphore; nothing of this user's is ever removed
// from the system here (see Unlink). Not copyable; one request or one tool
// run long.
//
// Every access checks its range against the mapped length and against the
// object's current size (taken under the lock when the lock is asked for;
// for a worker's kept mapping, the size its opening saw), so a segment that
// another process made shorter than asked is reported as -1 instead of
// faulting. A reader's copy out of a mapping is guarded as
// well: an object shortened during the copy, by a writer that ignores the
// lock, makes that read -1 (EINVAL) instead of ending the process with
// SIGBUS (the process's SIGBUS handler is set on the first such copy).
//
// A reader creates nothing: it finds the segment before it opens the
// semaphore, and never creates either. Keys that cannot name a board are
// refused before any system call. With RequireOwner a reader also refuses
// a segment or semaphore that another user owns or that others may write,
// and a writer writes only into objects of its own, removing another
// user's where the system lets it.
#ifndef ZELVORA_SHM_SHAREMEMORY_H_
#define ZELVORA_SHM_SHAREMEMORY_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "shm/Semaphore.h"

class CShareMemory {
 public:
  CShareMemory() = default;
  ~CShareMemory();
  CShareMemory(const CShareMemory&) = delete;
  CShareMemory& operator=(const CShareMemory&) = delete;

  enum class Part { kNone, kKey, kSemaphore, kSegment };

  // Read-only: opens the existing object, then its existing semaphore (60 s
  // timeout). Read-write: opens or creates the semaphore, then opens the
  // object or else creates it and sizes it to the mapped length; with
  // `lock` under the semaphore. Maps PageSize(size) bytes. -1 when the key
  // cannot name a board (EINVAL), or the semaphore or the object could not
  // be opened (or created and sized) or was refused (EACCES, see Refusal);
  // errno tells why and Failed which. A mapping that fails still answers 0,
  // and every later access answers -1.
  // REQUIRES: called once, on a fresh object.
  int Open(const std::string& key, int64_t size, bool readOnly, bool lock);
  // Before a read-write Open: the segment it creates gets `segmentMode`,
  // the semaphore `semaphoreMode` (whatever the umask) and, unless `group`
  // is -1, both that group.
  void SetCreation(mode_t segmentMode, mode_t semaphoreMode, gid_t group) {
    createMode_ = segmentMode, semaphoreMode_ = semaphoreMode, createGroup_ = group;
  }
  // Before a read-only Open: reads copy from the object with pread instead
  // of through a mapping. For a process that reads a board once: no map to
  // make and undo. IsMapped then tells whether the object is open.
  void CopyWithoutMapping() { copyByRead_ = true; }
  // Before a read-only Open: only objects of user `owner` are accepted, a
  // segment that its group or others may write and a semaphore that others
  // may write refused. Before a read-write Open (`owner` must then be this
  // process's effective user): the writer writes only into objects of its
  // own. It removes an object of another user and makes its own in its
  // place, which the sticky /dev/shm allows only to root or a process
  // with CAP_FOWNER (Reclaimed says what it removed); otherwise that
  // object is refused. Its own segment and semaphore get no more than the
  // creation modes.
  void RequireOwner(uid_t owner) { owner_ = owner, ownerRequired_ = true; }
  Part Failed() const { return failed_; }
  // Why Open refused an object it found ("" when it did not).
  const std::string& Refusal() const { return refusal_; }
  // What a writer's Open removed of other users ("" when nothing).
  const std::string& Reclaimed() const { return reclaimed_; }
  // How long a board's readers and writers wait for its lock: SHM_LOCK_MS
  // milliseconds, from 1 up to a minute; 1000 otherwise.
  static int64_t LockWaitMillis();
  // True when `key` can name a board: not empty, no "/", no control byte,
  // short enough for the system's names.
  static bool IsKey(const std::string& key);
  // The file that holds the semaphore of `key`.
  static std::string SemaphorePath(const std::string& key);

  // Copies `length` bytes at `offset` into `destination`, under Lock/Unlock
  // when `lock` is set. -1 when not mapped (errno EBADF), the range does not
  // fit (EINVAL) or the semaphore could not be taken.
  int Read(int64_t offset, void* destination, int64_t length, bool lock);

  // As Read, copying `source` into the segment. -1 as well when read-only.
  int Write(int64_t offset, const void* source, int64_t length, bool lock);

  // Sizes the object to PageSize(size) and maps it anew read-write. -1 when
  // the object is not open, the resize fails, or the mapping fails (then
  // the segment is no longer mapped).
  int Resize(int64_t size, bool lock);

  // Waits for the lock without a deadline. The program's readers take it
  // with TimedLock and its writers through CSemaphoreGuard; the tests hold a
  // board with Lock to stand for a writer that does not let go.
  int Lock() { return semaphore_.Lock(); }
  bool TimedLock() { return semaphore_.TimedLock(); }
  int Unlock() { return semaphore_.Unlock(); }
  void SetTimeout(int64_t timeoutMillis) { semaphore_.SetTimeout(timeoutMillis); }
  // While the lock is held: see CSemaphore::Drain.
  int DrainLock() { return semaphore_.Drain(); }

  // One page more than the whole pages in `size`: (size / page + 1) * page;
  // `size` itself when the page size is 0.
  static uint64_t PageSize(uint64_t size);

  // The bytes that may be touched now: the mapped length, cut to the
  // object's current size. 0 when not mapped.
  uint64_t Available() const;

  bool IsMapped() const { return address_ != nullptr || (copyByRead_ && descriptor_ >= 0); }
  bool IsSemaphoreOpen() const { return semaphore_.IsOpen(); }
  uint64_t Length() const { return length_; }
  int32_t Created() const { return created_; }  // -1 not opened, 0 opened, 1 created
  bool ReadOnly() const { return readOnly_; }
  const std::string& Name() const { return name_; }

  // Removes the object and the semaphore of `key` from the system. 0 when
  // at least one existed, -1 when neither did (errno from the last try).
  static int Unlink(const std::string& key);

 private:
  // Each sets errno when it answers false: EINVAL for a range that does not
  // fit, EBADF for a segment not mapped (or read-only when `writing`).
  bool Fits(int64_t offset, int64_t length) const;
  bool CheckMapped(bool writing) const;
  // Copies a range that Fits out of the mapping; -1 when it does not fit.
  int CopyOut(int64_t offset, void* destination, int64_t length) const;
  int Map();
  void Unmap();
  int OpenForReading(const std::string& key);
  int OpenForWriting(const std::string& key);
  // Opens the segment read-write, or creates it sized (exclusively when
  // `exclusive`); 0, or -1 with errno. Sets created_.
  int OpenOrCreateSegment(bool exclusive);
  // A writer's object `what` (system name `name`, file `path`) under
  // RequireOwner: `open` opens this user's, its mode first narrowed to
  // `mode`; another user's is removed with `remove` and `create` makes
  // one (-1 with EEXIST when one appeared meanwhile: tried again, a few
  // times). 0 with this user's object open, or -1 with errno (and Refusal
  // when another user's could not be removed).
  int OpenOwn(const char* what, const std::string& name, const std::string& path, mode_t mode,
              int (*remove)(const char*), const std::function<int()>& open,
              const std::function<int()>& create);
  // False, with Refusal and errno EACCES set, when `status` of `what` is
  // not acceptable under RequireOwner: another user's, or writable by
  // whom `forbidden` names.
  bool Accept(const struct stat& status, const char* what, mode_t forbidden);
  // Undoes a reader's opening that failed at `part`, keeping errno; -1.
  int FailOpening(const std::string& key, Part part);

  std::string name_;
  int descriptor_ = -1;
  // A kept mapping's file as lstat saw it at opening (no descriptor then).
  mutable struct stat segment_ = {};
  void* address_ = nullptr;
  uint64_t length_ = 0;
  int32_t created_ = -1;
  bool readOnly_ = true;
  mode_t createMode_ = 0666;
  mode_t semaphoreMode_ = 0666;
  gid_t createGroup_ = static_cast<gid_t>(-1);
  uid_t owner_ = 0;
  bool ownerRequired_ = false;
  bool copyByRead_ = false;
  Part failed_ = Part::kNone;
  std::string refusal_;
  std::string reclaimed_;
  CSemaphore semaphore_;
};

#endif  // ZELVORA_SHM_SHAREMEMORY_H_
