#include "desk/AccessFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/StringUtil.h"

namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether two stats are of the same file as it was: a file replaced by
// rename has another inode, one rewritten in place a new change time.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

// Reads the regular file at `path` whole into `text`, with `opened` its
// stat when opened. 0, or -1 with `error` saying why.
int ReadWhole(const std::string& path, std::string& text, struct stat& opened, std::string& error) {
  opened = {};
  error.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot be read: " + LastErrorText();
    return -1;
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    error = "cannot be read: " + LastErrorText();
  } else if (!S_ISREG(status.st_mode)) {
    error = "is not a regular file";
  } else if (static_cast<uint64_t>(status.st_size) > CAccessRules::kMaxBytes) {
    error = "is larger than " + std::to_string(CAccessRules::kMaxBytes) + " bytes";
  }
  if (!error.empty()) {
    close(fd);
    return -1;
  }
  // One byte more than its size: a file that grows or shrinks meanwhile is
  // refused for this request and read again for the next, never taken cut.
  text.resize(static_cast<size_t>(status.st_size) + 1);
  size_t got = 0;
  ssize_t count;
  do {
    count = read(fd, &text[got], text.size() - got);
    if (count > 0) got += static_cast<size_t>(count);
  } while ((count > 0 && got < text.size()) || (count < 0 && errno == EINTR));
  const int failed = count < 0 ? errno : 0;
  close(fd);
  if (failed != 0) {
    errno = failed;
    error = "cannot be read: " + LastErrorText();
    return -1;
  }
  if (got != static_cast<size_t>(status.st_size)) {
    error = "changed while it was read";
    return -1;
  }
  text.resize(got);
  opened = status;
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
  std::string text;
  if (ReadWhole(path, text, seen_, error_) == 0 && rules_.Parse(text, error_, only) == 0) return 0;
  std::string ignored;
  rules_.Parse("", ignored);  // no grants of a file that was refused
  return -1;
}
