#include "shm/ShmKeeper.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <vector>

namespace {

struct Mapping {
  dev_t device;
  ino_t inode;
  uint64_t length;
  void* address;
  int users;
  uint64_t used;  // when last handed out, on the keeper's own clock
};

struct Semaphore {
  sem_t* handle;
  uint64_t used;
  int markFile;  // -1 until asked for
};

void Close(const Semaphore& semaphore) {
  sem_close(semaphore.handle);
  if (semaphore.markFile >= 0) close(semaphore.markFile);
}

bool enabled = false;
uint64_t ticks = 0;  // counts hand-outs: what was handed out longest ago goes first
std::map<std::string, Semaphore> semaphores;
std::map<std::string, Mapping> mappings;
std::vector<Mapping> replaced;  // still in use when a newer file took their name, or when let go

bool SameFile(const Mapping& mapping, int descriptor, uint64_t length) {
  struct stat status;
  return fstat(descriptor, &status) == 0 && status.st_dev == mapping.device && status.st_ino == mapping.inode && length == mapping.length;
}

// Unmaps `mapping` now, or when its last reader is done.
void Drop(const Mapping& mapping) {
  if (mapping.users > 0) {
    replaced.push_back(mapping);
  } else {
    munmap(mapping.address, mapping.length);
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
    release(oldest->second);
    kept.erase(oldest);
  }
}

}  // namespace

void CShmKeeper::Enable() { enabled = true; }

bool CShmKeeper::Enabled() { return enabled; }

void CShmKeeper::KeepSemaphore(const std::string& name, sem_t* handle) {
  Semaphore& kept = semaphores.emplace(name, Semaphore{nullptr, 0, -1}).first->second;
  kept.used = ++ticks;
  if (kept.handle == handle) return;
  // The library hands out one mapping per semaphore file and counts its
  // opens; one more open keeps it mapped after the caller's close.
  sem_t* extra = sem_open(name.c_str(), 0);
  if (extra == SEM_FAILED) {
    if (kept.handle == nullptr) semaphores.erase(name);
    return;
  }
  if (kept.handle != nullptr) Close(kept);
  kept = {extra, kept.used, -1};
  Bound(semaphores, Close);
}

int CShmKeeper::MarkFile(const std::string& name, sem_t* handle, const std::string& path) {
  const auto found = semaphores.find(name);
  if (found == semaphores.end() || found->second.handle != handle) return -1;
  if (found->second.markFile < 0) {
    found->second.markFile = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  return found->second.markFile;
}

void* CShmKeeper::TakeMapping(const std::string& name, int descriptor, uint64_t length) {
  const auto found = mappings.find(name);
  if (found == mappings.end() || !SameFile(found->second, descriptor, length)) return nullptr;
  ++found->second.users;
  found->second.used = ++ticks;
  return found->second.address;
}

void CShmKeeper::KeepMapping(const std::string& name, int descriptor, uint64_t length, void* address) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return;
  const auto found = mappings.find(name);
  if (found != mappings.end()) Drop(found->second);
  mappings[name] = {status.st_dev, status.st_ino, length, address, 1, ++ticks};
  Bound(mappings, Drop);
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
  Close(found->second);
  semaphores.erase(found);
}
