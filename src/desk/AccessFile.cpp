#include "desk/AccessFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>

#include "util/StringUtil.h"

namespace {

// A change within this many seconds of a read may share its time stamp
// with the read version, whose size and (reused) inode it may share too: a
// file that new is read again at the next request, not trusted to a stat.
const time_t kFreshSeconds = 2;

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether two stats are of the same file as it was: a file replaced by
// rename has another inode, one rewritten in place a new change time.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

struct CFileCloser {
  int fd;
  ~CFileCloser() { close(fd); }
};

// Why the open file of `status` may not grant anything, or "": only a
// regular file that root or this process's user owns and no one else may
// write, since whoever can write it decides who reads every account.
std::string Refusal(const struct stat& status) {
  if (!S_ISREG(status.st_mode)) return "is not a regular file";
  if (status.st_uid != 0 && status.st_uid != geteuid()) {
    return "is owned by uid " + std::to_string(status.st_uid) +
           ", neither root nor this process's user";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "may be written by others than its owner";
  if (static_cast<uint64_t>(status.st_size) > CAccessRules::kMaxBytes) {
    return "is larger than " + std::to_string(CAccessRules::kMaxBytes) + " bytes";
  }
  return std::string();
}

// Reads the file at `path` whole into `text`, with `opened` its stat when
// opened. 0, or -1 with `error` saying why.
int ReadWhole(const std::string& path, std::string& text, struct stat& opened, std::string& error) {
  // Non-blocking: a FIFO put in its place must not hold the worker.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot be read: " + LastErrorText();
    return -1;
  }
  const CFileCloser closer{fd};
  if (fstat(fd, &opened) != 0) {
    error = "cannot be read: " + LastErrorText();
    return -1;
  }
  error = Refusal(opened);
  if (!error.empty()) return -1;
  // One byte more than its size: a file that grows or shrinks meanwhile is
  // refused for this request and read again for the next, never taken cut.
  text.resize(static_cast<size_t>(opened.st_size) + 1);
  size_t got = 0;
  ssize_t count;
  do {
    count = read(fd, &text[got], text.size() - got);
    if (count > 0) got += static_cast<size_t>(count);
  } while ((count > 0 && got < text.size()) || (count < 0 && errno == EINTR));
  if (count < 0) {
    error = "cannot be read: " + LastErrorText();
    return -1;
  }
  if (got != static_cast<size_t>(opened.st_size)) {
    error = "changed while it was read";
    return -1;
  }
  text.resize(got);
  return 0;
}

}  // namespace

const CAccessRules* CAccessFile::Rules(const std::string& path, const std::string* only,
                                       std::string& error) {
  struct stat now;
  if (only != nullptr) {
    Load(path, only);
  } else if (stat(path.c_str(), &now) != 0) {
    error_ = "cannot be read: " + LastErrorText();
    seen_ = {};
  } else if (path != path_ || seen_.st_ino == 0 || !SameFile(now, seen_)) {
    Load(path, nullptr);
  }
  path_ = only != nullptr ? std::string() : path;  // a caller's grants alone serve no other
  if (error_.empty()) return &rules_;
  error = "zelvora: access file " + Printable(path) + " " + error_;
  return nullptr;
}

int CAccessFile::Load(const std::string& path, const std::string* only) {
  seen_ = {};
  std::string ignored;
  rules_.Parse("", ignored);  // nothing granted while the file is read
  struct stat opened;
  std::string text;
  try {
    if (ReadWhole(path, text, opened, error_) != 0) return -1;
    const int parsed = rules_.Parse(text, error_, only);
    // Trusted to a stat from now on: a malformed file stays refused until
    // it changes. A file just written is read again (kFreshSeconds).
    if (std::time(nullptr) - opened.st_mtim.tv_sec >= kFreshSeconds) seen_ = opened;
    return parsed;
  } catch (const std::bad_alloc&) {
    rules_.Parse("", ignored);
    error_ = "cannot be held in memory";
    return -1;
  }
}
