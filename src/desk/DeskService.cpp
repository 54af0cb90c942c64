#include "desk/DeskService.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ops/Facts.h"
#include "shm/Board.h"
#include "shm/BoardOwner.h"
#include "shm/ShareMemory.h"
#include "shm/ShmKeeper.h"
#include "util/MallocBuffer.h"
#include "util/Setting.h"
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

// Why the board read in hand failed, for the counters: set where the reason
// is known, kBoardFailed for every other one.
BoardRead readFailure = kBoardFailed;

// Takes the lock of an open board, waiting at most
// CShareMemory::LockWaitMillis and never longer than `waitLeft`, which
// loses the time waited. True when taken; otherwise the reason goes to
// standard error.
bool LockBoard(const std::string& key, CShareMemory& memory, int64_t& waitLeft) {
  const int64_t most = CShareMemory::LockWaitMillis(), wait = std::min(most, waitLeft);
  memory.SetTimeout(wait);
  const int64_t start = CSemaphore::NowMillis();
  const bool taken = memory.TimedLock();
  const int error = errno;
  // A wait that timed out spent all it was given, whatever the clock's rounding says.
  const int64_t waited = CSemaphore::NowMillis() - start;
  waitLeft -= std::min(waitLeft, taken ? waited : std::max(wait, waited));
  if (taken) return true;
  if (error == ETIMEDOUT) readFailure = kBoardLockTimeout;
  const std::string shown = Printable(key);
  if (error != ETIMEDOUT) {
    errno = error;
    std::fprintf(stderr, kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
  } else if (wait == most) {
    std::fprintf(stderr, "ShareMemory[%s] lock held for more than %lld ms: board not read\n",
                 shown.c_str(), static_cast<long long>(wait));
  } else {
    std::fprintf(stderr,
                 "ShareMemory[%s] lock held, and the request had %lld ms left of "
                 "SHM_LOCK_TOTAL_MS: board not read\n",
                 shown.c_str(), static_cast<long long>(wait));
  }
  return false;
}

// Opens board `key` for reading, only when `owner` (unless null) owns it,
// and takes its lock (LockBoard). 0 with the lock held and the board known
// to be at least `size` bytes, or -1 with the reason on standard error
// (the key's control bytes escaped).
int OpenLockedBoard(const std::string& key, int32_t size, const uid_t* owner, CShareMemory& memory,
                    int64_t& waitLeft) {
  const auto shown = [&key] { return Printable(key); };  // only for a diagnostic
  if (owner != nullptr) memory.RequireOwner(*owner);
  // A worker keeps its maps for the next request; a CGI process reads once.
  if (!CShmKeeper::Enabled()) memory.CopyWithoutMapping();
  if (memory.Open(key, size, true, false) != 0) {
    if (!memory.Refusal().empty()) {
      readFailure = kBoardRefusedOwner;
      std::fprintf(stderr, "ShareMemory[%s] refused: %s (SHM_OWNER)\n", shown().c_str(),
                   memory.Refusal().c_str());
    } else {
      if (errno == ENOENT) readFailure = kBoardMissing;
      const std::string error = LastErrorText();  // before anything else can touch errno
      std::fprintf(stderr,
                   memory.Failed() == CShareMemory::Part::kSegment
                       ? "ShareMemory[%s] open failed.\n%s\n"
                       : "Semaphore[%s] open failed.\n%s\n",
                   shown().c_str(), error.c_str());
    }
    return -1;
  }
  if (!LockBoard(key, memory, waitLeft)) return -1;
  // A board shorter than its size is unreadable, however few of its bytes a request needs.
  if (memory.Available() < static_cast<uint64_t>(size)) {
    memory.Unlock();
    errno = EINVAL;
    std::fprintf(stderr, kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
    return -1;
  }
  return 0;
}

// Releases a board's lock on every path out of a reader.
struct CBoardUnlock {
  CShareMemory& memory;
  ~CBoardUnlock() { memory.Unlock(); }
};

// Copies `length` bytes at `offset` of a locked board to `into`; 0, or -1
// with the reason on standard error.
int ReadPart(CShareMemory& memory, int64_t offset, int64_t length, char* into) {
  if (memory.Read(offset, into, length, false) == 0) return 0;
  std::fprintf(stderr, kReadError, kModule, kLineSegmentRead, LastErrorText().c_str());
  return -1;
}

// As ReadPart, into a new `copy` (its pages made at once when it is large).
// Only the bytes a request needs are copied: a board is mostly empty room.
int CopyPart(CShareMemory& memory, int64_t offset, int64_t length, MallocBuffer& copy) {
  copy = AllocateBuffer(static_cast<size_t>(length));
  if (!copy) {
    std::fprintf(stderr, kMallocError, kModule, kLineSegmentMalloc, LastErrorText().c_str());
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
int ReportBoard(const std::string& key, BoardStatus status, const std::string& detail) {
  switch (status) {
    case BoardStatus::kOk:
      if (!detail.empty()) {
        std::fprintf(stderr, "ShareMemory[%s] %s\n", Printable(key).c_str(), detail.c_str());
      }
      return 0;
    case BoardStatus::kRecordMemory:
      std::fprintf(stderr, kMallocError, kModule, kLineRecordMalloc, LastErrorText().c_str());
      break;
    case BoardStatus::kIndexMemory:
      std::fprintf(stderr, kMallocError, kModule, kLineIndexMalloc, LastErrorText().c_str());
      break;
    case BoardStatus::kBadIndex:
      // An index that does not parse has always been reported with the
      // allocation message and the parser's text: fixed bytes too.
      std::fprintf(stderr, kMallocError, kModule, kLineIndexParse, detail.c_str());
      break;
    case BoardStatus::kBroken:
      std::fprintf(stderr, "ShareMemory[%s] broken board: %s\n", Printable(key).c_str(),
                   detail.c_str());
      break;
  }
  return -1;
}

// ReadBoard's work: the whole board under its lock.
int CopyBoardRecords(const std::string& key, int32_t size, std::string& out, int32_t indexSize,
                     const uid_t* owner, int64_t& waitLeft) {
  CShareMemory memory;
  if (OpenLockedBoard(key, size, owner, memory, waitLeft) != 0) return -1;
  char header[kBoardHeaderSize];
  MallocBuffer copy;
  {
    const CBoardUnlock unlock{memory};
    if (ReadPart(memory, 0, kBoardHeaderSize, header) != 0) return -1;
    if (CopyPart(memory, 0, BoardBytesNeeded(header, size, indexSize), copy) != 0) return -1;
  }
  std::string detail;
  return ReportBoard(key, TakeBoardRecords(copy.get(), size, indexSize, out, detail), detail);
}

// ReadBoardByKeys's work: the index, then the records it names, all under the lock.
int CopyKeyedRecords(const std::string& key, int32_t size, std::string& out, int32_t indexSize,
                     const std::vector<const CMarkupNode*>& keys, const uid_t* owner,
                     int64_t& waitLeft) {
  std::vector<std::string> texts;
  texts.reserve(keys.size());
  for (const CMarkupNode* node : keys) texts.push_back(node->text);
  CShareMemory memory;
  if (OpenLockedBoard(key, size, owner, memory, waitLeft) != 0) return -1;
  const CBoardUnlock unlock{memory};
  // The index names the records; they are read while the lock still holds
  // them to the same writing as the index.
  MallocBuffer area, record;
  std::vector<int64_t> offsets;
  std::string detail;
  if (CopyPart(memory, 0, BoardHeadBytes(size, indexSize), area) != 0) return -1;
  // A worker parses an index once for as long as its bytes stay the same.
  static CBoardIndexCache indexCache;
  const BoardStatus status = FindBoardRecords(area.get(), size, indexSize, texts, offsets, detail,
                                              CShmKeeper::Enabled() ? &indexCache : nullptr);
  if (status != BoardStatus::kOk) return ReportBoard(key, status, detail);
  if (offsets.empty()) return 0;
  const int32_t recordSize = ReadBoardHeader(area.get()).recordSize;
  record = AllocateBuffer(static_cast<size_t>(recordSize));
  if (!record) return ReportBoard(key, BoardStatus::kRecordMemory, detail);
  CLeftOutRecords leftOut;
  for (const int64_t offset : offsets) {
    if (offset < 0) continue;
    if (ReadPart(memory, offset, recordSize, record.get()) != 0) return -1;
    if (!AppendBoardRecord(record.get(), recordSize, out)) {
      leftOut.Add(BoardRecordNumber(indexSize, recordSize, offset));
    }
  }
  return ReportBoard(key, BoardStatus::kOk, leftOut.Empty() ? std::string() : leftOut.Text());
}

}  // namespace

CDeskService::CDeskService(CDbSlot* slot)
    : slot_(slot != nullptr ? slot : &ownSlot_),
      maxRecords_(SettingValue(kMaxAnswerRecords)),
      maxIds_(SettingValue(kMaxRequestIds)),
      lockWaitLeft_(SettingValue(kShmLockTotalMs)) {
  const char* selDb = std::getenv("SHM_SEL_DB");
  shmSelDb_ = selDb != nullptr && std::strcmp(selDb, "1") == 0;
}

bool CDeskService::WithinBound(uint64_t count, const char* what, const CSettingRange& setting,
                               int64_t bound) {
  if (count <= static_cast<uint64_t>(bound)) return true;
  std::fprintf(stderr, "Request refused: %llu %s, over %s (%lld)\n",
               static_cast<unsigned long long>(count), what, setting.name,
               static_cast<long long>(bound));
  refused_ = true;
  return false;
}

CDeskService::~CDeskService() = default;

const char* CDeskService::StatusText(int32_t code) { return code == -1 ? "1" : "0"; }

std::string CDeskService::Envelope(const char* status, const std::string& data,
                                   const std::string& data2) {
  std::string envelope = std::string("{\"status\":") + status + ", \"data\":" + data;
  if (!data2.empty()) envelope += ", \"data2\":" + data2;
  return envelope + "}";
}

bool CDeskService::ConnectDb(bool write) {
  if (client_ != nullptr) return client_->IsConnected();
  const char* writeHost = write ? std::getenv("MYSQL_WRITE_HOST") : nullptr;
  const char* names[] = {
      "MYSQL_DB", writeHost != nullptr && *writeHost != '\0' ? "MYSQL_WRITE_HOST" : "MYSQL_HOST",
      "MYSQL_USER", "MYSQL_PWD"};
  const char* values[4];
  std::string credentials;
  for (int i = 0; i < 4; ++i) {
    values[i] = std::getenv(names[i]);
    credentials.append(values[i] != nullptr ? "=" : "-")
        .append(values[i] != nullptr ? values[i] : "")
        .push_back('\0');
  }
  // The timeouts are the connection's, set when it is made: a connection
  // made under other ones is not this request's.
  for (const CSettingRange* range : {&kMysqlConnectTimeout, &kMysqlTimeout}) {
    credentials.append(std::to_string(SettingValue(*range))).push_back('\0');
  }
  CDbLink& link = write ? slot_->write : slot_->read;
  // A kept connection made with the same settings serves unless a call found
  // it gone; asking the server first would cost every request a round trip.
  if (link.client && link.credentials == credentials && link.client->IsConnected()) {
    client_ = link.client.get();
    return true;
  }
  // The old client goes only after the new one has loaded the library, so a
  // worker keeps it loaded; the new one is in the slot at once, so that
  // whatever Connect does, the slot closes it.
  const std::unique_ptr<CMywClient> previous = std::move(link.client);
  link.client = std::make_unique<CMywClient>();
  link.credentials = credentials;
  client_ = link.client.get();
  return client_->Connect(values[0], values[1], values[2], values[3]) == 0;
}

bool CDeskService::PingDb() {
  std::vector<uint32_t> counts;
  return ConnectDb() && client_->SelectCounts("SELECT 1 AS counts", counts) == 1;
}

void CDeskService::DropDb(bool write) {
  CDbLink& link = write ? slot_->write : slot_->read;
  if (client_ == link.client.get()) client_ = nullptr;
  link.client.reset();
  link.credentials.clear();
}

bool CDeskService::MayReadBoard(const std::string& key) {
  if (failedBoards_.count(key) != 0) return false;
  if (owned_ == kOwnerUnknown) owned_ = BoardOwner(owner_);
  if (owned_ >= 0) return true;
  std::fprintf(stderr, "ShareMemory[%s] refused: SHM_OWNER names no user\n",
               Printable(key).c_str());
  NoteBoardRead(kBoardRefusedOwner);
  failedBoards_.insert(key);
  return false;
}

int CDeskService::ReadBoard(const std::string& key, int32_t size, std::string& out,
                            int32_t indexSize) {
  if (!MayReadBoard(key)) return -1;
  readFailure = kBoardFailed;
  const int result =
      CopyBoardRecords(key, size, out, indexSize, owned_ > 0 ? &owner_ : nullptr, lockWaitLeft_);
  NoteBoardRead(result == 0 ? kBoardRead : readFailure);
  if (result != 0) failedBoards_.insert(key);
  return result;
}

int CDeskService::ReadBoardByKeys(const std::string& key, int32_t size, std::string& out,
                                  int32_t indexSize, const std::vector<const CMarkupNode*>& keys) {
  if (!MayReadBoard(key)) return -1;
  readFailure = kBoardFailed;
  const int result = CopyKeyedRecords(key, size, out, indexSize, keys,
                                      owned_ > 0 ? &owner_ : nullptr, lockWaitLeft_);
  NoteBoardRead(result == 0 ? kBoardRead : readFailure);
  if (result != 0) failedBoards_.insert(key);
  return result;
}
