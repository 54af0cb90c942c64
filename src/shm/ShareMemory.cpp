#include "shm/ShareMemory.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shm/ShmKeeper.h"
#include "util/Setting.h"

namespace {

const int64_t kOpenTimeoutMillis = 60000;

std::string ObjectName(const std::string& key) { return "shm." + key; }

// Set while a mapping is copied from. Volatile: the stores around the copy
// are seen by the handler, not merged away by the compiler.
sigjmp_buf* volatile copying = nullptr;

// A page of a mapping that lies past the end of its object faults with
// SIGBUS. Within a copy, the copy fails; anywhere else the signal does
// what it would have done.
void OnBusError(int number, siginfo_t*, void*) {
  if (copying != nullptr) siglongjmp(*copying, 1);
  signal(number, SIG_DFL);
  raise(number);
}

// Copies `length` bytes out of a mapping whose object another process may
// shorten at any moment, also one that ignores the lock: 0, or -1 with
// errno EINVAL when the object ended within the range.
int CopyFromMapping(void* destination, const void* source, size_t length) {
  static const bool handled = [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    return sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  sigjmp_buf jump;
  // The mask is not saved (that would be a system call for every copy):
  // the way back from the handler unblocks SIGBUS itself.
  if (handled && sigsetjmp(jump, 0) != 0) {
    copying = nullptr;
    sigset_t bus;
    sigemptyset(&bus);
    sigaddset(&bus, SIGBUS);
    sigprocmask(SIG_UNBLOCK, &bus, nullptr);
    errno = EINVAL;
    return -1;
  }
  copying = &jump;
  // The copy's loads stay between the two stores, where the handler sees them.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(destination, source, length);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  copying = nullptr;
  return 0;
}

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

bool CShareMemory::IsKey(const std::string& key) {
  // "shm." and "sem." go before the key in the file's name.
  if (key.empty() || key.size() > NAME_MAX - 4) return false;
  for (const unsigned char c : key) {
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

int64_t CShareMemory::LockWaitMillis() { return SettingValue(kShmLockMs); }

std::string CShareMemory::SemaphorePath(const std::string& key) { return "/dev/shm/sem." + key; }

bool CShareMemory::Accept(const struct stat& status, const char* what, mode_t forbidden) {
  if (!ownerRequired_ ||
      (S_ISREG(status.st_mode) && status.st_uid == owner_ && (status.st_mode & forbidden) == 0))
    return true;
  refusal_ = std::string(what) + (!S_ISREG(status.st_mode) ? " not a file (a link?)"
                                  : status.st_uid != owner_
                                      ? " owned by uid " + std::to_string(status.st_uid) +
                                            ", not " + std::to_string(owner_)
                                  : (status.st_mode & S_IWOTH) != 0 ? " writable by others"
                                                                    : " writable by its group");
  errno = EACCES;
  return false;
}

int CShareMemory::Open(const std::string& key, int64_t size, bool readOnly, bool lock) {
  length_ = size < 0 ? 0 : PageSize(static_cast<uint64_t>(size));
  readOnly_ = readOnly;
  name_ = ObjectName(key);
  if (!IsKey(key)) {
    failed_ = Part::kKey;
    errno = EINVAL;
    return -1;
  }
  if (readOnly ? OpenForReading(key) != 0 : OpenForWriting(key) != 0) return -1;
  if (!readOnly) {
    CSemaphoreGuard guard(semaphore_, lock);
    const std::string path = "/dev/shm/" + name_;
    const auto open = [this] {
      created_ = 0;
      descriptor_ = shm_open(name_.c_str(), O_RDWR, 0);
      return descriptor_ >= 0 ? 0 : -1;
    };
    if ((ownerRequired_ ? OpenOwn("segment", name_, path, createMode_, shm_unlink, open,
                                  [this] { return OpenOrCreateSegment(true); })
                        : OpenOrCreateSegment(false)) != 0) {
      failed_ = Part::kSegment;
      return -1;
    }
  }
  if (Map() != 0) {
    close(descriptor_);
    descriptor_ = -1;
  }
  return 0;
}

int CShareMemory::OpenOrCreateSegment(bool exclusive) {
  created_ = 0;
  descriptor_ = exclusive ? -1 : shm_open(name_.c_str(), O_RDWR, 0);
  if (descriptor_ >= 0) return 0;
  const mode_t saved = umask(0);
  descriptor_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | (exclusive ? O_EXCL : 0), createMode_);
  umask(saved);
  created_ = 1;
  if (descriptor_ >= 0 && ftruncate(descriptor_, static_cast<off_t>(length_)) == 0 &&
      (createGroup_ == static_cast<gid_t>(-1) ||
       fchown(descriptor_, static_cast<uid_t>(-1), createGroup_) == 0)) {
    return 0;
  }
  const int error = errno;
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  created_ = -1;
  errno = error;
  return -1;
}

int CShareMemory::OpenOwn(const char* what, const std::string& name, const std::string& path,
                          mode_t mode, int (*remove)(const char*), const std::function<int()>& open,
                          const std::function<int()>& create) {
  for (int tries = 0; tries < 3; ++tries) {
    // lstat: a link another user put there is that user's, never followed
    // to a file of this user's whose mode would then be changed.
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      if (errno != ENOENT) return -1;
      if (create() == 0) return 0;
      if (errno != EEXIST) return -1;
      continue;  // another's, made since the look
    }
    // This user's file stays this user's: in the sticky /dev/shm no one
    // else can replace it between the look and the opening.
    if (status.st_uid == owner_ && S_ISREG(status.st_mode))
      return (status.st_mode & 0777 & ~mode) == 0 || chmod(path.c_str(), mode) == 0 ? open() : -1;
    if (remove(name.c_str()) == 0) {
      reclaimed_ += std::string(reclaimed_.empty() ? "" : ", ") + "the " + what + " uid " +
                    std::to_string(status.st_uid) + " had made";
    } else if (errno != ENOENT) {
      refusal_ = std::string(what) + " owned by uid " + std::to_string(status.st_uid) +
                 ", which this user (uid " + std::to_string(owner_) +
                 ") may not remove: " + std::strerror(errno);
      errno = EACCES;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

// The segment first: a board that does not exist costs no semaphore. A
// worker that still maps the file the segment's name leads to, and keeps
// the semaphore the semaphore's name leads to, needs one lstat of each
// and no descriptor.
namespace {

// Whether this process could open a file of `status` for `access`
// (R_OK, W_OK or both), as the kernel decides for a user without
// privileges beyond its own: a kept object whose mode was narrowed since
// it was opened is opened anew, and refused as it then would be.
bool Permits(const struct stat& status, int access) {
  static const uid_t user = geteuid();
  static const std::vector<gid_t> groups = [] {
    std::vector<gid_t> all(1, getegid());
    const int count = getgroups(0, nullptr);
    if (count > 0) {
      all.resize(1 + static_cast<size_t>(count));
      all.resize(1 + static_cast<size_t>(std::max(0, getgroups(count, all.data() + 1))));
    }
    return all;
  }();
  if (user == 0) return true;
  int shift = 0;  // others' bits
  if (status.st_uid == user) {
    shift = 6;
  } else if (std::find(groups.begin(), groups.end(), status.st_gid) != groups.end()) {
    shift = 3;
  }
  const mode_t wanted =
      static_cast<mode_t>(((access & R_OK) != 0 ? 4 : 0) | ((access & W_OK) != 0 ? 2 : 0));
  return ((status.st_mode >> shift) & wanted) == wanted;
}

}  // namespace

int CShareMemory::OpenForReading(const std::string& key) {
  struct stat status;
  const bool keeping = CShmKeeper::Enabled() && !copyByRead_;
  if (keeping) {
    address_ = CShmKeeper::TakeUnchangedMapping(name_, length_, status);
    if (address_ != nullptr) {
      segment_ = status;
    } else if (CShmKeeper::KnownAbsent(name_)) {
      errno = ENOENT;
      return FailOpening(key, Part::kSegment);
    } else if (lstat(("/dev/shm/" + name_).c_str(), &status) != 0) {
      if (errno == ENOENT) {  // as shm_open would say
        CShmKeeper::NoteAbsent(name_);
        return FailOpening(key, Part::kSegment);
      }
    } else if (S_ISREG(status.st_mode) && Permits(status, R_OK)) {
      address_ = CShmKeeper::TakeMapping(name_, status, length_);
      segment_ = status;
    }
    // The owner asked for may differ from one request to the next.
    if (address_ != nullptr && !Accept(segment_, "segment", S_IWGRP | S_IWOTH)) {
      return FailOpening(key, Part::kSegment);
    }
  }
  if (address_ == nullptr) {
    descriptor_ = shm_open(name_.c_str(), O_RDONLY, 0);
    if (descriptor_ < 0 || (ownerRequired_ && (fstat(descriptor_, &status) != 0 ||
                                               !Accept(status, "segment", S_IWGRP | S_IWOTH)))) {
      return FailOpening(key, Part::kSegment);
    }
  }
  sem_t* kept = keeping ? CShmKeeper::TakeUnchangedSemaphore(key, status) : nullptr;
  // The sticky /dev/shm keeps another user from replacing a semaphore file
  // between this look at it and its opening.
  const bool looked = kept != nullptr || ((ownerRequired_ || keeping) &&
                                          lstat(SemaphorePath(key).c_str(), &status) == 0);
  if (ownerRequired_ && (!looked || !Accept(status, "semaphore", S_IWOTH))) {
    if (kept != nullptr) CShmKeeper::ReleaseSemaphore(key, kept);
    return FailOpening(key, Part::kSemaphore);
  }
  if (kept == nullptr && looked && keeping && Permits(status, R_OK | W_OK)) {
    kept = CShmKeeper::TakeSemaphore(key, status);
  }
  if ((kept != nullptr
           ? semaphore_.Borrow(key, kept, kOpenTimeoutMillis)
           : semaphore_.Open(key, kOpenTimeoutMillis, 0, looked ? &status : nullptr)) != 0) {
    return FailOpening(key, Part::kSemaphore);
  }
  created_ = 0;
  return 0;
}

int CShareMemory::FailOpening(const std::string& key, Part part) {
  const int error = errno;
  // A board removed for good is not kept for a reader that keeps maps.
  if (error == ENOENT && CShmKeeper::Enabled()) {
    if (part == Part::kSegment) CShmKeeper::ForgetMapping(name_);
    CShmKeeper::ForgetSemaphore(key);
  }
  Unmap();
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  failed_ = part;
  errno = error;
  return -1;
}

int CShareMemory::OpenForWriting(const std::string& key) {
  const std::string path = SemaphorePath(key);
  const auto open = [this, &key] { return semaphore_.Open(key, kOpenTimeoutMillis, 0); };
  const auto create = [this, &key] {
    return semaphore_.Create(key, kOpenTimeoutMillis, semaphoreMode_);
  };
  if ((ownerRequired_ ? OpenOwn("semaphore", key, path, semaphoreMode_, sem_unlink, open, create)
                      : semaphore_.Open(key, kOpenTimeoutMillis, semaphoreMode_)) != 0) {
    failed_ = Part::kSemaphore;
    return -1;
  }
  // A semaphore of this writer's own gets the board's group (sem_open has no fchown).
  struct stat status;
  if (createGroup_ != static_cast<gid_t>(-1) && lstat(path.c_str(), &status) == 0 &&
      S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_gid != createGroup_ &&
      chown(path.c_str(), static_cast<uid_t>(-1), createGroup_) != 0) {
    failed_ = Part::kSemaphore;
    return -1;
  }
  return 0;
}

int CShareMemory::Map() {
  if ((copyByRead_ && readOnly_) || address_ != nullptr) return 0;  // or kept, found at opening
  const int protection = readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE;
  // The whole board is read at once: its pages are mapped in one go rather
  // than by a fault each, which costs most where faults are dear (VMs).
  void* address = mmap(nullptr, length_, protection, MAP_SHARED | MAP_POPULATE, descriptor_, 0);
  if (address == MAP_FAILED) return -1;
  address_ = address;
  struct stat status;
  if (CShmKeeper::Enabled() && readOnly_ && fstat(descriptor_, &status) == 0) {
    CShmKeeper::KeepMapping(name_, status, length_, address_);
  }
  return 0;
}

void CShareMemory::Unmap() {
  if (address_ != nullptr && !CShmKeeper::ReleaseMapping(address_)) munmap(address_, length_);
  address_ = nullptr;
}

uint64_t CShareMemory::Available() const {
  if (!IsMapped()) return 0;
  struct stat status;
  if (descriptor_ < 0) {
    // A kept mapping, opened without a descriptor: the size lstat saw then
    // stands (a segment shortened since fails its copy instead), and a
    // short one is looked at again, in case its writer has grown it.
    if (static_cast<uint64_t>(segment_.st_size) < length_ &&
        lstat(("/dev/shm/" + name_).c_str(), &status) == 0 && status.st_dev == segment_.st_dev &&
        status.st_ino == segment_.st_ino) {
      segment_.st_size = status.st_size;
    }
    status = segment_;
  } else if (fstat(descriptor_, &status) != 0) {
    return 0;
  }
  if (status.st_size < 0) return 0;
  const uint64_t objectSize = static_cast<uint64_t>(status.st_size);
  return objectSize < length_ ? objectSize : length_;
}

bool CShareMemory::Fits(int64_t offset, int64_t length) const {
  // Copied by read, a short read tells that the object shrank: only a
  // mapping needs the object's size looked at first.
  const uint64_t limit = address_ == nullptr && IsMapped() ? length_ : Available();
  if (offset >= 0 && length >= 0 &&
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) <= limit) {
    return true;
  }
  errno = EINVAL;
  return false;
}

bool CShareMemory::CheckMapped(bool writing) const {
  if (IsMapped() && !(writing && readOnly_)) return true;
  errno = EBADF;
  return false;
}

int CShareMemory::CopyOut(int64_t offset, void* destination, int64_t length) const {
  if (!Fits(offset, length)) return -1;
  if (address_ == nullptr) {  // copied by read: a short read means the object shrank meanwhile
    const ssize_t got =
        pread(descriptor_, destination, static_cast<size_t>(length), static_cast<off_t>(offset));
    if (got == static_cast<ssize_t>(length)) return 0;
    errno = got < 0 ? errno : EINVAL;
    return -1;
  }
  return CopyFromMapping(destination, static_cast<const char*>(address_) + offset,
                         static_cast<size_t>(length));
}

int CShareMemory::Read(int64_t offset, void* destination, int64_t length, bool lock) {
  if (!CheckMapped(false)) return -1;
  CSemaphoreGuard guard(semaphore_, lock);
  if (lock && !guard.Taken()) return -1;
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
