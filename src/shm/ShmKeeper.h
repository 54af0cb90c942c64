// CShmKeeper: what a persistent worker keeps of the boards between requests.
//
// A worker reads the same boards request after request. Opening a board's
// semaphore and mapping its segment anew each time, and unmapping both
// after, costs far more than the copy itself: every unmap flushes the TLB
// of each CPU the process ran on. Once enabled (the worker does, the CGI
// program does not), the process holds one reference to each semaphore and
// one mapping of each segment it opened, and hands them out again while the
// object is the same file: same device and inode, and for a segment the same
// length. A board its feeder recreated is a new file and is mapped anew.
// Content is never kept: every read goes through the mapping to the live
// segment, under its semaphore, as before.
//
// Bounded: at most kKeptBoards segments and as many semaphores are kept,
// and the one handed out longest ago goes first. Each kept object is one of
// the kernel's maps of the process (vm.max_map_count, 65530 by default);
// without a bound a desk with many boards, or anyone able to create boards,
// would take the worker to that limit, after which every read of a board
// that is not yet mapped fails. 256 boards are 512 maps, and cover the
// boards a desk's pages poll; a board beyond them that is read again is
// mapped anew, which costs what keeping saves and nothing more.
//
// A worker that finds a board's two files where they were (one lstat each)
// needs no other system call to read it: no descriptor is opened.
//
// A mapping is let go when the least recently used, when a newer file of
// its name replaces it, or when a read finds its board gone (ForgetMapping,
// ForgetSemaphore); one still held by a reader is unmapped when the reader
// releases it; a semaphore likewise. One thread.
#ifndef ZELVORA_SHM_SHMKEEPER_H_
#define ZELVORA_SHM_SHMKEEPER_H_

#include <semaphore.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CShmKeeper {
 public:
  static constexpr size_t kKeptBoards = 256;

  static void Enable();
  static bool Enabled();

  // Watches the boards' folder (inotify), so that a kept board whose files
  // no one has made, removed, renamed, or changed the mode or owner of
  // since they were last looked at is handed out without looking again
  // (TakeUnchangedMapping, TakeUnchangedSemaphore). The descriptor to poll
  // for changes, or -1 when the system gives no watch: then every read
  // looks (lstat), as before.
  static int WatchChanges();
  // Reads what the watch saw since: any change, or a lost count of them,
  // makes every kept board looked at anew. Never waits.
  static void TakeChanges();

  // As TakeMapping and TakeSemaphore, without a look at the file: the kept
  // object when the watch runs and saw no change since its file was last
  // looked at, with that look's `file`; null otherwise.
  static void* TakeUnchangedMapping(const std::string& name, uint64_t length, struct stat& file);
  static sem_t* TakeUnchangedSemaphore(const std::string& name, struct stat& file);

  // Whether segment `name` was found absent (NoteAbsent) and the watch saw
  // no change since: then it is absent still, and no look is needed. Bounded:
  // kKeptBoards names at most, all forgotten when one more comes.
  static bool KnownAbsent(const std::string& name);
  static void NoteAbsent(const std::string& name);

  // The semaphore kept as `name` when `file` (its file as lstat found it
  // just now) is the file it was opened from, counted as in use; null
  // otherwise. The caller must not close it (ReleaseSemaphore instead).
  static sem_t* TakeSemaphore(const std::string& name, const struct stat& file);

  // Holds one more reference to `handle`, the semaphore just opened as
  // `name`, and lets go of one held for an older semaphore of that name.
  // `file` is the semaphore's file as lstat found it before the opening:
  // a file replaced in between leaves the new handle under the old file's
  // identity, which no later look finds again, so it is opened anew rather
  // than ever handed out for the wrong file. Without `file`, kept but
  // never handed out.
  static void KeepSemaphore(const std::string& name, sem_t* handle, const struct stat* file);

  // True when `handle` came from TakeSemaphore for `name` (the caller must
  // not close it); counts one use less.
  static bool ReleaseSemaphore(const std::string& name, sem_t* handle);

  // A descriptor of the file `path` of the kept semaphore `name`, while
  // `handle` is what is kept for it (-1 otherwise, or when it cannot be
  // opened; -2 when `path` is no longer the file the semaphore was opened
  // from, whose marks would be another semaphore's): the semaphore's users
  // mark their waits and holds on it without opening it each time. Closed
  // when the semaphore is let go.
  static int MarkFile(const std::string& name, sem_t* handle, const std::string& path);

  // The kept mapping of segment `name` when it maps `file` (as lstat or
  // fstat found it just now) with `length` bytes, counted as in use; null
  // otherwise.
  static void* TakeMapping(const std::string& name, const struct stat& file, uint64_t length);

  // Keeps `address`, just mapped from `file` with `length` bytes, as the
  // mapping of `name`, in use.
  static void KeepMapping(const std::string& name, const struct stat& file, uint64_t length,
                          void* address);

  // True when `address` is kept (the caller must not unmap it); counts one
  // use less.
  static bool ReleaseMapping(void* address);

  // Lets go of what is kept for segment `name` / semaphore `name`: the
  // object is gone from the system.
  static void ForgetMapping(const std::string& name);
  static void ForgetSemaphore(const std::string& name);
};

#endif  // ZELVORA_SHM_SHMKEEPER_H_
