#include "shm/ShareMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shm/ShmKeeper.h"

namespace {

const int64_t kOpenTimeoutMillis = 60000;

std::string ObjectName(const std::string& key) { return "shm." + key; }

}  // namespace

CShareMemory::~CShareMemory() {
  Unmap();
  if (descriptor_ >= 0) close(descriptor_);
}

uint64_t CShareMemory::PageSize(uint64_t size) {
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  if (page == 0) return size;
  return (size / page + 1) * page;
}

int CShareMemory::Open(const std::string& key, int64_t size, bool readOnly, bool lock) {
  if (semaphore_.Open(key, kOpenTimeoutMillis) != 0) return -1;
  length_ = size < 0 ? 0 : PageSize(static_cast<uint64_t>(size));
  readOnly_ = readOnly;
  name_ = ObjectName(key);
  CSemaphoreGuard guard(semaphore_, lock);

  if (readOnly) {
    descriptor_ = shm_open(name_.c_str(), O_RDONLY, 0666);
    if (descriptor_ < 0) return -1;
    created_ = 0;
  } else {
    descriptor_ = shm_open(name_.c_str(), O_RDWR, 0666);
    if (descriptor_ >= 0) {
      created_ = 0;
    } else {
      descriptor_ = shm_open(name_.c_str(), O_RDWR | O_CREAT, 0666);
      if (descriptor_ < 0) return -1;
      if (ftruncate(descriptor_, static_cast<off_t>(length_)) != 0) {
        const int error = errno;
        close(descriptor_);
        descriptor_ = -1;
        errno = error;
        return -1;
      }
      created_ = 1;
    }
  }
  if (Map() != 0) {
    close(descriptor_);
    descriptor_ = -1;
  }
  return 0;
}

int CShareMemory::Map() {
  if (CShmKeeper::Enabled() && readOnly_) {
    address_ = CShmKeeper::TakeMapping(name_, descriptor_, length_);
    if (address_ != nullptr) return 0;
  }
  const int protection = readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE;
  // The whole board is read at once: its pages are mapped in one go rather
  // than by a fault each, which costs most where faults are dear (VMs).
  void* address = mmap(nullptr, length_, protection, MAP_SHARED | MAP_POPULATE, descriptor_, 0);
  if (address == MAP_FAILED) return -1;
  address_ = address;
  if (CShmKeeper::Enabled() && readOnly_) CShmKeeper::KeepMapping(name_, descriptor_, length_, address_);
  return 0;
}

void CShareMemory::Unmap() {
  if (address_ != nullptr && !CShmKeeper::ReleaseMapping(address_)) munmap(address_, length_);
  address_ = nullptr;
}

uint64_t CShareMemory::Available() const {
  if (address_ == nullptr) return 0;
  struct stat status;
  if (fstat(descriptor_, &status) != 0 || status.st_size < 0) return 0;
  const uint64_t objectSize = static_cast<uint64_t>(status.st_size);
  return objectSize < length_ ? objectSize : length_;
}

bool CShareMemory::Fits(int64_t offset, int64_t length) const {
  if (offset >= 0 && length >= 0 &&
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) <= Available()) {
    return true;
  }
  errno = EINVAL;
  return false;
}

bool CShareMemory::CheckMapped(bool writing) const {
  if (address_ != nullptr && !(writing && readOnly_)) return true;
  errno = EBADF;
  return false;
}

int CShareMemory::CopyOut(int64_t offset, void* destination, int64_t length) const {
  if (!Fits(offset, length)) return -1;
  std::memcpy(destination, static_cast<const char*>(address_) + offset, static_cast<size_t>(length));
  return 0;
}

int CShareMemory::Read(int64_t offset, void* destination, int64_t length, bool lock) {
  if (!CheckMapped(false)) return -1;
  CSemaphoreGuard guard(semaphore_, lock);
  if (lock && !guard.Taken()) return -1;
  return CopyOut(offset, destination, length);
}

int CShareMemory::TimedRead(int64_t offset, void* destination, int64_t length, bool lock) {
  if (!CheckMapped(false)) return -1;
  CSemaphoreGuard guard(semaphore_, false);
  if (lock) {
    if (!semaphore_.TimedLock()) return -1;
    guard.Adopt();
  }
  return CopyOut(offset, destination, length);
}

int CShareMemory::Write(int64_t offset, const void* source, int64_t length, bool lock) {
  if (!CheckMapped(true)) return -1;
  CSemaphoreGuard guard(semaphore_, lock);
  if (lock && !guard.Taken()) return -1;
  if (!Fits(offset, length)) return -1;
  std::memcpy(static_cast<char*>(address_) + offset, source, static_cast<size_t>(length));
  return 0;
}

int CShareMemory::Move(int64_t end, int64_t start, int64_t distance, bool lock) {
  if (!CheckMapped(true)) return -1;
  if (end - start <= 0 || distance < 0 || distance > start) {
    errno = EINVAL;
    return -1;
  }
  CSemaphoreGuard guard(semaphore_, lock);
  if (lock && !guard.Taken()) return -1;
  if (!Fits(start, end - start)) return -1;
  char* base = static_cast<char*>(address_);
  std::memmove(base + start - distance, base + start, static_cast<size_t>(end - start));
  return 0;
}

int CShareMemory::Resize(int64_t size, bool lock) {
  if (descriptor_ < 0 || readOnly_ || size < 0) return -1;
  CSemaphoreGuard guard(semaphore_, lock);
  if (lock && !guard.Taken()) return -1;
  const uint64_t length = PageSize(static_cast<uint64_t>(size));
  if (ftruncate(descriptor_, static_cast<off_t>(length)) != 0) return -1;
  Unmap();
  length_ = length;
  return Map();
}

int CShareMemory::Unlink(const std::string& key) {
  const bool object = shm_unlink(ObjectName(key).c_str()) == 0;
  const bool semaphore = sem_unlink(key.c_str()) == 0;
  return object || semaphore ? 0 : -1;
}
