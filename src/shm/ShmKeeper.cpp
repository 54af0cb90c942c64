#include "shm/ShmKeeper.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <map>
#include <vector>

namespace {

struct Mapping {
  dev_t device;
  ino_t inode;
  uint64_t length;
  void* address;
  int users;
};

bool enabled = false;
std::map<std::string, sem_t*> semaphores;
std::map<std::string, Mapping> mappings;
std::vector<Mapping> replaced;  // still in use when a newer file took their name

bool SameFile(const Mapping& mapping, int descriptor, uint64_t length) {
  struct stat status;
  return fstat(descriptor, &status) == 0 && status.st_dev == mapping.device && status.st_ino == mapping.inode && length == mapping.length;
}

}  // namespace

void CShmKeeper::Enable() { enabled = true; }

bool CShmKeeper::Enabled() { return enabled; }

void CShmKeeper::KeepSemaphore(const std::string& name, sem_t* handle) {
  sem_t*& kept = semaphores[name];
  if (kept == handle) return;
  // The library hands out one mapping per semaphore file and counts its
  // opens; one more open keeps it mapped after the caller's close.
  sem_t* extra = sem_open(name.c_str(), 0);
  if (extra == SEM_FAILED) return;
  if (kept != nullptr) sem_close(kept);
  kept = extra;
}

void* CShmKeeper::TakeMapping(const std::string& name, int descriptor, uint64_t length) {
  const auto found = mappings.find(name);
  if (found == mappings.end() || !SameFile(found->second, descriptor, length)) return nullptr;
  ++found->second.users;
  return found->second.address;
}

void CShmKeeper::KeepMapping(const std::string& name, int descriptor, uint64_t length, void* address) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return;
  const auto found = mappings.find(name);
  if (found != mappings.end()) {
    if (found->second.users > 0) {
      replaced.push_back(found->second);
    } else {
      munmap(found->second.address, found->second.length);
    }
  }
  mappings[name] = {status.st_dev, status.st_ino, length, address, 1};
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
