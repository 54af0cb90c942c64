#include "desk/BoardReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>

#include "shm/ShareMemory.h"
#include "shm/ShmKeeper.h"
#include "util/StringUtil.h"

namespace {

// Diagnostics name this module and the place of the failing step: fixed
// bytes, names and line numbers included (the desk's established
// diagnostics), not this file's places.
const char kModule[] = "src/desk/Zelvora";
const char kMallocError[] = "filename[%s], line[%d] malloc error. %s\n";
const char kReadError[] = "filename[%s], line[%d] read error. %s\n";
const int kLineSegmentMalloc = 59;
const int kLineSegmentRead = 63;
const int kLineRecordMalloc = 92;
const int kLineIndexMalloc = 104;
const int kLineIndexParse = 115;

// Releases a board's lock on every path out of a reader.
struct CBoardUnlock {
  CShareMemory& memory;
  ~CBoardUnlock() { memory.Unlock(); }
};

}  // namespace

void CBoardReader::Say(const char* format, ...) {
  if (log_ == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(log_, format, arguments);
  va_end(arguments);
}

// Takes the lock of an open board, waiting at most
// CShareMemory::LockWaitMillis and never longer than waitLeft_, which
// loses the time waited. True when taken; otherwise the reason goes to
// the log.
bool CBoardReader::Lock(const std::string& key, CShareMemory& memory, BoardRead& why) {
  const int64_t most = CShareMemory::LockWaitMillis(), wait = std::min(most, waitLeft_);
  memory.SetTimeout(wait);
  const int64_t start = CSemaphore::NowMillis();
  const bool taken = memory.TimedLock();
  const int error = errno;
  // A wait that timed out spent all it was given, whatever the clock's rounding says.
  const int64_t waited = CSemaphore::NowMillis() - start;
  waitLeft_ -= std::min(waitLeft_, taken ? waited : std::max(wait, waited));
  if (taken) return true;
  if (error == ETIMEDOUT) why = kBoardLockTimeout;
  const std::string shown = Printable(key);
  if (error != ETIMEDOUT) {
    errno = error;
    Say(kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
  } else if (wait == most) {
    Say("ShareMemory[%s] lock held for more than %lld ms: board not read\n", shown.c_str(),
        static_cast<long long>(wait));
  } else {
    Say("ShareMemory[%s] lock held, and the request had %lld ms left of "
        "SHM_LOCK_TOTAL_MS: board not read\n",
        shown.c_str(), static_cast<long long>(wait));
  }
  return false;
}

// Opens board `key` for reading, only when owner_ (unless null) owns it,
// and takes its lock (Lock). 0 with the lock held and the board known to
// be at least `size` bytes, or -1 with the reason in the log.
int CBoardReader::OpenLocked(const std::string& key, int32_t size, CShareMemory& memory,
                             BoardRead& why) {
  const auto shown = [&key] { return Printable(key); };  // only for a diagnostic
  if (owner_ != nullptr) memory.RequireOwner(*owner_);
  // A worker keeps its maps for the next request; a CGI process reads once.
  if (!CShmKeeper::Enabled()) memory.CopyWithoutMapping();
  if (memory.Open(key, size, true, false) != 0) {
    if (!memory.Refusal().empty()) {
      why = kBoardRefusedOwner;
      Say("ShareMemory[%s] refused: %s (SHM_OWNER)\n", shown().c_str(), memory.Refusal().c_str());
    } else {
      if (errno == ENOENT) why = kBoardMissing;
      const std::string error = LastErrorText();  // before anything else can touch errno
      Say(memory.Failed() == CShareMemory::Part::kSegment ? "ShareMemory[%s] open failed.\n%s\n"
                                                          : "Semaphore[%s] open failed.\n%s\n",
          shown().c_str(), error.c_str());
    }
    return -1;
  }
  if (!Lock(key, memory, why)) return -1;
  // A board shorter than its size is unreadable, however few of its bytes a request needs.
  if (memory.Available() < static_cast<uint64_t>(size)) {
    memory.Unlock();
    errno = EINVAL;
    Say(kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
    return -1;
  }
  return 0;
}

// Copies `length` bytes at `offset` of a locked board to `into`; 0, or -1
// with the reason in the log.
int CBoardReader::ReadPart(CShareMemory& memory, int64_t offset, int64_t length, char* into) {
  if (memory.Read(offset, into, length, false) == 0) return 0;
  Say(kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
  return -1;
}

// As ReadPart, into a new `copy` (its pages made at once when it is large).
// Only the bytes a request needs are copied: a board is mostly empty room.
int CBoardReader::CopyPart(CShareMemory& memory, int64_t offset, int64_t length,
                           MallocBuffer& copy) {
  copy = AllocateBuffer(static_cast<size_t>(length));
  if (!copy) {
    Say(kMallocError, kModule, kLineSegmentMalloc, LastErrorText().c_str());
    return -1;
  }
  // Fresh pages are made in one call rather than by a fault each, which is
  // most of what a process start pays for them. Only a hint, and a worker's
  // copies reuse pages it has already.
  const uintptr_t page = static_cast<uintptr_t>(getpagesize()),
                  start = reinterpret_cast<uintptr_t>(copy.get());
  const uintptr_t first = (start + page - 1) / page * page,
                  end = (start + static_cast<uintptr_t>(length)) / page * page;
  if (end > first && !CShmKeeper::Enabled())
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
  return ReadPart(memory, offset, length, copy.get());
}

// 0 for kOk (writing which records were left out, when `detail` says);
// otherwise writes the reason for board `key` and answers -1.
int CBoardReader::Report(const std::string& key, BoardStatus status, const std::string& detail) {
  switch (status) {
    case BoardStatus::kOk:
      if (!detail.empty()) Say("ShareMemory[%s] %s\n", Printable(key).c_str(), detail.c_str());
      return 0;
    case BoardStatus::kRecordMemory:
      Say(kMallocError, kModule, kLineRecordMalloc, LastErrorText().c_str());
      break;
    case BoardStatus::kIndexMemory:
      Say(kMallocError, kModule, kLineIndexMalloc, LastErrorText().c_str());
      break;
    case BoardStatus::kBadIndex:
      // An index that does not parse has always been reported with the
      // allocation message and the parser's text: fixed bytes too.
      Say(kMallocError, kModule, kLineIndexParse, detail.c_str());
      break;
    case BoardStatus::kBroken:
      Say("ShareMemory[%s] broken board: %s\n", Printable(key).c_str(), detail.c_str());
      break;
  }
  return -1;
}

int CBoardReader::ReadAll(const std::string& key, int32_t size, int32_t indexSize, std::string& out,
                          BoardRead& why) {
  why = kBoardFailed;
  CShareMemory memory;
  if (OpenLocked(key, size, memory, why) != 0) return -1;
  char header[kBoardHeaderSize];
  MallocBuffer copy;
  {
    const CBoardUnlock unlock{memory};
    if (ReadPart(memory, 0, kBoardHeaderSize, header) != 0) return -1;
    if (CopyPart(memory, 0, BoardBytesNeeded(header, size, indexSize), copy) != 0) return -1;
  }
  std::string detail;
  return Report(key, TakeBoardRecords(copy.get(), size, indexSize, out, detail), detail);
}

int CBoardReader::ReadByKeys(const std::string& key, int32_t size, int32_t indexSize,
                             const std::vector<std::string>& keys, std::string& out,
                             BoardRead& why) {
  why = kBoardFailed;
  CShareMemory memory;
  if (OpenLocked(key, size, memory, why) != 0) return -1;
  const CBoardUnlock unlock{memory};
  // The index names the records; they are read while the lock still holds
  // them to the same writing as the index.
  MallocBuffer area, record;
  std::vector<int64_t> offsets;
  std::string detail;
  if (CopyPart(memory, 0, BoardHeadBytes(size, indexSize), area) != 0) return -1;
  // A worker parses an index once for as long as its bytes stay the same.
  static CBoardIndexCache indexCache;
  const BoardStatus status = FindBoardRecords(area.get(), size, indexSize, keys, offsets, detail,
                                              CShmKeeper::Enabled() ? &indexCache : nullptr);
  if (status != BoardStatus::kOk) return Report(key, status, detail);
  if (offsets.empty()) return 0;
  const int32_t recordSize = ReadBoardHeader(area.get()).recordSize;
  record = AllocateBuffer(static_cast<size_t>(recordSize));
  if (!record) return Report(key, BoardStatus::kRecordMemory, detail);
  CLeftOutRecords leftOut;
  for (const int64_t offset : offsets) {
    if (offset < 0) continue;
    if (ReadPart(memory, offset, recordSize, record.get()) != 0) return -1;
    if (!AppendBoardRecord(record.get(), recordSize, out)) {
      leftOut.Add(BoardRecordNumber(indexSize, recordSize, offset));
    }
  }
  return Report(key, BoardStatus::kOk, leftOut.Empty() ? std::string() : leftOut.Text());
}
