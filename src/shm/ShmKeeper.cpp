#include "shm/ShmKeeper.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>
#include <vector>

namespace {

// Whether `seen` (a kept object's file as last looked at; all zero when
// never) is the file `file`. No file has inode 0.
bool Same(const struct stat& seen, const struct stat& file) {
  return seen.st_ino != 0 && seen.st_dev == file.st_dev && seen.st_ino == file.st_ino;
}

struct Mapping {
  struct stat seen;  // the file as last looked at
  uint64_t looked;   // the watch's count of changes then
  uint64_t length;
  void* address;
  int users;
  uint64_t used;  // when last handed out, on the keeper's own clock
};

struct Semaphore {
  struct stat seen;
  uint64_t looked;
  sem_t* handle;
  int users;
  uint64_t used;
  int markFile;  // -1 until asked for
};

// Closes `semaphore` and its mark file.
void Finish(const Semaphore& semaphore) {
  sem_close(semaphore.handle);
  if (semaphore.markFile >= 0) close(semaphore.markFile);
}

bool enabled = false;
int watch = -1;  // the inotify descriptor of /dev/shm, or -1
uint64_t changes =
    1;  // counts the watch's changes; an entry looked at under an older count is looked at anew
uint64_t ticks = 0;  // counts hand-outs: what was handed out longest ago goes first
std::map<std::string, Semaphore> semaphores;
std::map<std::string, Mapping> mappings;
// Segments found absent, with the watch's count of changes then.
std::map<std::string, uint64_t> absent;
std::vector<Mapping> replaced;  // still in use when a newer file took their name, or when let go
std::vector<std::pair<std::string, Semaphore>> retired;  // likewise

// Notes `file` as the file of `entry`, looked at under the watch's count now.
template <typename Entry>
void Looked(Entry& entry, const struct stat& file) {
  entry.seen = file;
  entry.looked = changes;
}

// Hands `entry` out once more: one user more, and now its last hand-out.
template <typename Entry>
void HandOut(Entry& entry) {
  ++entry.users;
  entry.used = ++ticks;
}

// Unmaps `mapping` now, or when its last reader is done.
void Drop(const Mapping& mapping) {
  if (mapping.users > 0) {
    replaced.push_back(mapping);
  } else {
    munmap(mapping.address, mapping.length);
  }
}

// Closes the semaphore kept as `name` now, or when its last reader is done.
void Close(const std::string& name, const Semaphore& semaphore) {
  if (semaphore.users > 0) {
    retired.emplace_back(name, semaphore);
  } else {
    Finish(semaphore);
  }
}

// Lets go of the least recently used entry of `kept` until it holds no
// more than the bound.
template <typename Entry, typename Release>
void Bound(std::map<std::string, Entry>& kept, Release release) {
  while (kept.size() > CShmKeeper::kKeptBoards) {
    auto oldest = kept.begin();
    for (auto it = kept.begin(); it != kept.end(); ++it) {
      if (it->second.used < oldest->second.used) oldest = it;
    }
    release(oldest->first, oldest->second);
    kept.erase(oldest);
  }
}

}  // namespace

void CShmKeeper::Enable() { enabled = true; }

bool CShmKeeper::Enabled() { return enabled; }

sem_t* CShmKeeper::TakeSemaphore(const std::string& name, const struct stat& file) {
  const auto found = semaphores.find(name);
  if (found == semaphores.end() || !Same(found->second.seen, file)) return nullptr;
  Looked(found->second, file);
  HandOut(found->second);
  return found->second.handle;
}

void CShmKeeper::KeepSemaphore(const std::string& name, sem_t* handle, const struct stat* file) {
  const auto found = semaphores.find(name);
  if (found != semaphores.end() && found->second.handle == handle) {
    found->second.used = ++ticks;
    if (file != nullptr) Looked(found->second, *file);
    return;
  }
  // The library hands out one mapping per semaphore file and counts its
  // opens; one more open keeps it mapped after the caller's close.
  sem_t* extra = sem_open(name.c_str(), 0);
  if (extra == SEM_FAILED) return;
  if (found != semaphores.end()) {
    Close(name, found->second);
    semaphores.erase(found);
  }
  const struct stat unknown = {};
  semaphores[name] = {
      file != nullptr ? *file : unknown, file != nullptr ? changes : 0, extra, 0, ++ticks, -1};
  Bound(semaphores, Close);
}

int CShmKeeper::MarkFile(const std::string& name, sem_t* handle, const std::string& path) {
  const auto found = semaphores.find(name);
  if (found == semaphores.end() || found->second.handle != handle) return -1;
  Semaphore& kept = found->second;
  if (kept.markFile < 0) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat status;
    // Marks on a newer file of the name would be another semaphore's.
    if (file >= 0 &&
        (fstat(file, &status) != 0 || (kept.seen.st_ino != 0 && !Same(kept.seen, status)))) {
      close(file);
      return -2;
    }
    kept.markFile = file;
  }
  return kept.markFile;
}

bool CShmKeeper::ReleaseSemaphore(const std::string& name, sem_t* handle) {
  const auto found = semaphores.find(name);
  if (found != semaphores.end() && found->second.handle == handle) {
    --found->second.users;
    return true;
  }
  for (auto it = retired.begin(); it != retired.end(); ++it) {
    if (it->first != name || it->second.handle != handle) continue;
    if (--it->second.users == 0) {
      Finish(it->second);
      retired.erase(it);
    }
    return true;
  }
  return false;
}

void* CShmKeeper::TakeMapping(const std::string& name, const struct stat& file, uint64_t length) {
  const auto found = mappings.find(name);
  if (found == mappings.end() || !Same(found->second.seen, file) ||
      found->second.length != length) {
    return nullptr;
  }
  Looked(found->second, file);
  HandOut(found->second);
  return found->second.address;
}

void* CShmKeeper::TakeUnchangedMapping(const std::string& name, uint64_t length,
                                       struct stat& file) {
  const auto found = mappings.find(name);
  if (watch < 0 || found == mappings.end() || found->second.looked != changes ||
      found->second.length != length) {
    return nullptr;
  }
  file = found->second.seen;
  HandOut(found->second);
  return found->second.address;
}

sem_t* CShmKeeper::TakeUnchangedSemaphore(const std::string& name, struct stat& file) {
  const auto found = semaphores.find(name);
  if (watch < 0 || found == semaphores.end() || found->second.looked != changes) return nullptr;
  file = found->second.seen;
  HandOut(found->second);
  return found->second.handle;
}

bool CShmKeeper::KnownAbsent(const std::string& name) {
  if (watch < 0) return false;
  const auto found = absent.find(name);
  return found != absent.end() && found->second == changes;
}

void CShmKeeper::NoteAbsent(const std::string& name) {
  if (watch < 0) return;
  if (absent.size() >= kKeptBoards && absent.find(name) == absent.end()) absent.clear();
  absent[name] = changes;
}

int CShmKeeper::WatchChanges() {
  if (watch >= 0) return watch;
  watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  // Writes into a board go through its mapping and raise nothing here;
  // only a board's files made, removed, renamed, resized or given another
  // mode or owner do.
  const uint32_t events = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                          IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF;
  if (watch >= 0 && inotify_add_watch(watch, "/dev/shm", events) < 0) {
    close(watch);
    watch = -1;
  }
  return watch;
}

void CShmKeeper::TakeChanges() {
  if (watch < 0) return;
  alignas(struct inotify_event) char events[4096];
  ssize_t got;
  while ((got = read(watch, events, sizeof events)) > 0) ++changes;
  // A watch that failed is no watch: every read looks again from now on.
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
    close(watch);
    watch = -1;
  }
}

void CShmKeeper::KeepMapping(const std::string& name, const struct stat& file, uint64_t length,
                             void* address) {
  const auto found = mappings.find(name);
  if (found != mappings.end()) Drop(found->second);
  mappings[name] = {file, changes, length, address, 1, ++ticks};
  Bound(mappings, [](const std::string&, const Mapping& mapping) { Drop(mapping); });
}

bool CShmKeeper::ReleaseMapping(void* address) {
  for (auto& entry : mappings) {
    if (entry.second.address != address) continue;
    --entry.second.users;
    return true;
  }
  for (auto it = replaced.begin(); it != replaced.end(); ++it) {
    if (it->address != address) continue;
    if (--it->users == 0) {
      munmap(it->address, it->length);
      replaced.erase(it);
    }
    return true;
  }
  return false;
}

void CShmKeeper::ForgetMapping(const std::string& name) {
  const auto found = mappings.find(name);
  if (found == mappings.end()) return;
  Drop(found->second);
  mappings.erase(found);
}

void CShmKeeper::ForgetSemaphore(const std::string& name) {
  const auto found = semaphores.find(name);
  if (found == semaphores.end()) return;
  Close(name, found->second);
  semaphores.erase(found);
}
