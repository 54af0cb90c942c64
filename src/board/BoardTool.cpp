#include "board/BoardTool.h"

#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/BoardCare.h"
#include "board/HeldSignals.h"
#include "shm/Board.h"
#include "shm/BoardOwner.h"
#include "shm/ShareMemory.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

const char kUsageHead[] =
    "usage: zelvora-board write KEY [--record-size R] [--size S] [--index A]\n"
    "       zelvora-board dump KEY [--size S] [--index A]\n"
    "       zelvora-board remove KEY\n"
    "       zelvora-board status [KEY...]\n"
    "       zelvora-board unlock KEY [--held MS]\n"
    "\n"
    "A board is the shared-memory object \"shm.KEY\" guarded by the semaphore \"KEY\".\n"
    "Its size S and index area A follow from the key's first word:\n";
const char kUsageTail[] =
    "(--size and --index set them for any other key.)\n"
    "\n"
    "write  reads one JSON object text per line from standard input (blank lines\n"
    "       are skipped) and writes the whole segment at once under its semaphore:\n"
    "       a 12-byte header (record count and record size, 6 digits each), the\n"
    "       index area, then the records blank-padded to the record size. The\n"
    "       record size is the longest record unless --record-size gives it. When\n"
    "       the board has an index area it maps each record's \"Symbol\" text to the\n"
    "       record's number. Records that do not fit are refused; nothing is written.\n"
    "dump   prints the header, the index and each record's text.\n"
    "remove removes the object and its semaphore.\n"
    "status shows each board's segment (size, mode, owner, last change), header and\n"
    "       semaphore (value, mode, owner); every board in /dev/shm without KEYs.\n"
    "unlock releases a lock that a writer which died left held: only when its value\n"
    "       is 0, no live process marks a hold on it (this program's readers and\n"
    "       writers do), and the lock never came to the tool while it waited in line\n"
    "       for MS milliseconds (default 5000); then watches as long again, and\n"
    "       takes the release back when a holder that was alive lets go too.\n"
    "\n"
    "write and dump wait at most SHM_LOCK_MS milliseconds (default 1000) for the\n"
    "lock, and hold off Ctrl-C and SIGTERM until they let it go. write creates a\n"
    "board with mode 0660 and, when SHM_GROUP names one, that group: the group the\n"
    "feeder and the web server's user share. With SHM_OWNER (the feeder's user) it\n"
    "runs only as that user, creates segments 0640, and never writes into another\n"
    "user's segment or semaphore: it removes one (as root or with CAP_FOWNER) and\n"
    "makes its own, or refuses.\n";

// The usage text, the boards' sizes taken from their layouts.
std::string Usage() {
  char layouts[200];
  std::snprintf(layouts, sizeof layouts,
                "  %s.ID        %d bytes          %s.ID   %d bytes\n"
                "  %s             %d bytes, index %d       %s.SYMBOLPERIOD  %d bytes\n",
                kAccountBoard.tag, kAccountBoard.size, kTradeBoard.tag, kTradeBoard.size,
                kOfferBoard.tag, kOfferBoard.size, kOfferBoard.indexSize, kPriceBarBoard.tag,
                kPriceBarBoard.size);
  return std::string(kUsageHead) + layouts + kUsageTail;
}

struct Options {
  std::string command;
  std::string key;
  int64_t recordSize = -1;
  int64_t size = -1;
  int64_t indexSize = -1;
  int64_t held = 5000;
};

struct Io {
  FILE* in;
  FILE* out;
  FILE* err;
};

bool ParseNumber(const char* text, int64_t* value) {
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < 0 || number > kBoardFieldMax * 4LL) {
    return false;
  }
  *value = number;
  return true;
}

// 0, or 2 with the reason written.
int ParseOptions(int argc, char** argv, Options& options, FILE* err) {
  if (argc < 3) {
    std::fputs(Usage().c_str(), err);
    return 2;
  }
  options.command = argv[1];
  options.key = argv[2];
  for (int i = 3; i < argc; i += 2) {
    const std::string name = argv[i];
    int64_t* target = name == "--record-size" ? &options.recordSize
                      : name == "--size"      ? &options.size
                      : name == "--index"     ? &options.indexSize
                      : name == "--held"      ? &options.held
                                              : nullptr;
    if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[i + 1], target)) {
      std::fprintf(err, "zelvora-board: bad option %s\n%s", argv[i], Usage().c_str());
      return 2;
    }
  }
  return 0;
}

// Fills the board's size and index area from the options or the key.
int ResolveLayout(Options& options, FILE* err) {
  const BoardLayout* layout = FindBoardLayout(options.key);
  if (options.size < 0) {
    if (layout == nullptr) {
      std::fprintf(err, "zelvora-board: no known board for key %s; give --size\n",
                   options.key.c_str());
      return 1;
    }
    options.size = layout->size;
  }
  if (options.indexSize < 0) options.indexSize = layout != nullptr ? layout->indexSize : 0;
  if (options.size < kBoardHeaderSize + options.indexSize) {
    std::fprintf(err, "zelvora-board: a %lld-byte board cannot hold a %lld-byte index\n",
                 static_cast<long long>(options.size), static_cast<long long>(options.indexSize));
    return 1;
  }
  return 0;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool ReadLine(FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(in)) != EOF) {
    if (c == '\n') return true;
    line += static_cast<char>(c);
  }
  return !line.empty();
}

// Reads the records; 0, or 1 with the reason written.
int ReadRecords(const Io& io, std::vector<std::string>& records,
                std::vector<picojson::value>& values) {
  std::string line;
  for (int number = 1; ReadLine(io.in, line); ++number) {
    const std::string record = Trim(line);
    if (record.empty()) continue;
    picojson::value value;
    std::string error;
    const char* end = ParseJson(record.data(), record.data() + record.size(), value, error);
    if (end != nullptr && end != record.data() + record.size()) error = "text after the object";
    if (error.empty() && !value.is<picojson::object>()) error = "not a JSON object";
    if (!error.empty()) {
      std::fprintf(io.err, "zelvora-board: line %d: %s\n", number, error.c_str());
      return 1;
    }
    records.push_back(record);
    values.push_back(value);
  }
  return 0;
}

// The index text mapping each record's "Symbol" to its number; 0 or 1.
int BuildIndex(const std::vector<picojson::value>& values, std::string& index, FILE* err) {
  picojson::object members;
  for (size_t i = 0; i < values.size(); ++i) {
    const picojson::value& symbol = values[i].get("Symbol");
    if (!symbol.is<std::string>()) {
      std::fprintf(err, "zelvora-board: record %zu has no \"Symbol\" text for the index\n", i);
      return 1;
    }
    const std::string& name = symbol.get<std::string>();
    if (members.count(name) != 0) {
      std::fprintf(err, "zelvora-board: symbol %s stands in two records\n", name.c_str());
      return 1;
    }
    members[name] = picojson::value(static_cast<double>(i));
  }
  index = picojson::value(members).serialize();
  return 0;
}

// Lays out the whole segment; 0, or 1 with the reason written.
int BuildImage(const Options& options, const std::vector<std::string>& records,
               const std::string& index, std::string& image, FILE* err) {
  int64_t recordSize = options.recordSize;
  if (recordSize < 0) {
    recordSize = 1;
    for (const auto& record : records) recordSize = std::max<int64_t>(recordSize, record.size());
  }
  for (size_t i = 0; i < records.size(); ++i) {
    if (static_cast<int64_t>(records[i].size()) > recordSize) {
      std::fprintf(err, "zelvora-board: record %zu is %zu bytes, over the record size %lld\n", i,
                   records[i].size(), static_cast<long long>(recordSize));
      return 1;
    }
  }
  const int64_t count = static_cast<int64_t>(records.size());
  const int64_t needed = kBoardHeaderSize + options.indexSize + count * recordSize;
  if (recordSize < 1 || recordSize > kBoardFieldMax || count > kBoardFieldMax ||
      needed > options.size) {
    std::fprintf(
        err, "zelvora-board: %lld records of %lld bytes need %lld bytes; board %s holds %lld\n",
        static_cast<long long>(count), static_cast<long long>(recordSize),
        static_cast<long long>(needed), options.key.c_str(), static_cast<long long>(options.size));
    return 1;
  }
  if (static_cast<int64_t>(index.size()) > options.indexSize) {
    std::fprintf(err, "zelvora-board: the index needs %zu bytes; the index area holds %lld\n",
                 index.size(), static_cast<long long>(options.indexSize));
    return 1;
  }
  image.assign(static_cast<size_t>(options.size), '\0');
  image.replace(0, kBoardHeaderSize,
                FormatBoardHeader(static_cast<int32_t>(count), static_cast<int32_t>(recordSize)));
  if (options.indexSize > 0) {
    image.replace(kBoardHeaderSize, static_cast<size_t>(options.indexSize),
                  index + std::string(static_cast<size_t>(options.indexSize) - index.size(), ' '));
  }
  for (int64_t i = 0; i < count; ++i) {
    const std::string& record = records[static_cast<size_t>(i)];
    const size_t offset =
        static_cast<size_t>(kBoardHeaderSize + options.indexSize + i * recordSize);
    image.replace(offset, static_cast<size_t>(recordSize),
                  record + std::string(static_cast<size_t>(recordSize) - record.size(), ' '));
  }
  return 0;
}

// Takes the board's lock, waiting as long as readers do, in short waits so
// that a signal held off meanwhile ends the wait; 0, or 1 with the reason
// written (none for a signal, which ends the tool once let through).
int TakeLock(CShareMemory& memory, const std::string& key, const CHeldSignals& signals, FILE* err) {
  const int64_t wait = CShareMemory::LockWaitMillis(), end = CSemaphore::NowMillis() + wait;
  for (int64_t left = wait; left > 0 && !signals.Pending(); left = end - CSemaphore::NowMillis()) {
    memory.SetTimeout(std::min<int64_t>(left, 50));
    if (memory.TimedLock()) return 0;
  }
  if (signals.Pending()) return 1;
  std::fprintf(
      err,
      "zelvora-board: board %s is locked: held for more than %lld ms (see zelvora-board unlock)\n",
      key.c_str(), static_cast<long long>(wait));
  return 1;
}

// The writer's creation modes and owner check from SHM_GROUP and SHM_OWNER;
// 0, or 1 with the reason written. With SHM_OWNER the board is its
// feeder's alone: a segment no one else may write, nothing of another
// user's written into.
int SetOwnership(CShareMemory& memory, FILE* err) {
  const char* groupName = std::getenv("SHM_GROUP");
  const struct group* group = groupName != nullptr ? getgrnam(groupName) : nullptr;
  if (groupName != nullptr && group == nullptr) {
    std::fprintf(err, "zelvora-board: SHM_GROUP %s names no group\n", Printable(groupName).c_str());
    return 1;
  }
  uid_t owner = 0;
  const int owned = BoardOwner(owner);
  if (owned < 0) {
    std::fprintf(err, "zelvora-board: SHM_OWNER %s names no user\n",
                 Printable(std::getenv("SHM_OWNER")).c_str());
    return 1;
  }
  if (owned > 0 && owner != geteuid()) {
    std::fprintf(err,
                 "zelvora-board: SHM_OWNER is uid %u, not this user (uid %u): readers would refuse "
                 "what this writes\n",
                 static_cast<unsigned>(owner), static_cast<unsigned>(geteuid()));
    return 1;
  }
  memory.SetCreation(owned > 0 ? 0640 : 0660, 0660,
                     group != nullptr ? group->gr_gid : static_cast<gid_t>(-1));
  if (owned > 0) memory.RequireOwner(owner);
  return 0;
}

int Write(Options& options, const Io& io) {
  if (ResolveLayout(options, io.err) != 0) return 1;
  std::vector<std::string> records;
  std::vector<picojson::value> values;
  if (ReadRecords(io, records, values) != 0) return 1;
  std::string index;
  if (options.indexSize > 0 && BuildIndex(values, index, io.err) != 0) return 1;
  std::string image;
  if (BuildImage(options, records, index, image, io.err) != 0) return 1;

  CShareMemory memory;
  if (SetOwnership(memory, io.err) != 0) return 1;
  const int opened = memory.Open(options.key, options.size, false, false);
  if (!memory.Reclaimed().empty()) {
    std::fprintf(io.err, "zelvora-board: board %s: removed %s\n", options.key.c_str(),
                 memory.Reclaimed().c_str());
  }
  if (!memory.Refusal().empty()) {
    std::fprintf(io.err,
                 "zelvora-board: board %s not written: %s (remove it as root: zelvora-board remove "
                 "%s; or give the feeder CAP_FOWNER)\n",
                 options.key.c_str(), memory.Refusal().c_str(), options.key.c_str());
    return 1;
  }
  if (opened != 0 || !memory.IsMapped()) {
    std::fprintf(io.err, "zelvora-board: cannot open board %s: %s\n", options.key.c_str(),
                 std::strerror(errno));
    return 1;
  }
  const CHeldSignals signals;
  if (TakeLock(memory, options.key, signals, io.err) != 0) return 1;
  if (const int extra = memory.DrainLock()) {
    std::fprintf(io.err,
                 "zelvora-board: board %s: its lock stood at %d, raised by another process: "
                 "brought back to 1\n",
                 options.key.c_str(), extra + 1);
  }
  const int64_t size = options.size;
  const bool written =
      (static_cast<int64_t>(memory.Available()) >= size || memory.Resize(size, false) == 0) &&
      memory.Write(0, image.data(), size, false) == 0;
  const int error = errno;
  memory.Unlock();
  if (!written) {
    std::fprintf(io.err, "zelvora-board: cannot write board %s: %s\n", options.key.c_str(),
                 std::strerror(error));
    return 1;
  }
  std::fprintf(io.out, "board %s: %zu records of %s bytes\n", options.key.c_str(), records.size(),
               Trim(image.substr(kBoardFieldSize, kBoardFieldSize)).c_str());
  return 0;
}

int Dump(Options& options, const Io& io) {
  if (ResolveLayout(options, io.err) != 0) return 1;
  CShareMemory memory;
  const int32_t size = static_cast<int32_t>(options.size);
  const int32_t indexSize = static_cast<int32_t>(options.indexSize);
  std::string copy(static_cast<size_t>(size), '\0');
  if (memory.Open(options.key, size, true, false) != 0) {
    std::fprintf(io.err, "zelvora-board: cannot read board %s: %s\n", options.key.c_str(),
                 std::strerror(errno));
    return 1;
  }
  const CHeldSignals signals;
  if (TakeLock(memory, options.key, signals, io.err) != 0) return 1;
  const int read = memory.Read(0, &copy[0], size, false);
  const int error = errno;
  memory.Unlock();
  if (read != 0) {
    std::fprintf(io.err, "zelvora-board: cannot read board %s: %s\n", options.key.c_str(),
                 std::strerror(error));
    return 1;
  }
  const BoardHeader header = ReadBoardHeader(copy.data());
  std::fprintf(io.out, "board %s: %d bytes, index area %d\n", options.key.c_str(), size, indexSize);
  std::fprintf(io.out, "count %d, record size %d\n", header.count, header.recordSize);
  if (indexSize > 0) {
    const std::string index(copy.data() + kBoardHeaderSize, static_cast<size_t>(indexSize));
    std::fprintf(io.out, "index %s\n", Trim(index.substr(0, index.find('\0'))).c_str());
  }
  for (int32_t i = 0; i < header.count; ++i) {
    const int64_t offset = BoardRecordOffset(size, indexSize, header.recordSize, i);
    if (offset < 0) {
      std::fprintf(io.err, "zelvora-board: record %d lies outside the board\n", i);
      return 1;
    }
    const char* record = copy.data() + offset;
    const std::string text(record, BoardRecordLength(record, header.recordSize));
    std::fprintf(io.out, "%d %s\n", i, text.c_str());
  }
  return header.count < 0 ? 1 : 0;
}

int Remove(const Options& options, const Io& io) {
  if (CShareMemory::Unlink(options.key) != 0) {
    std::fprintf(io.err, "zelvora-board: no board %s: %s\n", options.key.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int RunBoardTool(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(Usage().c_str(), out);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "status") == 0)
    return ShowBoardStatus(std::vector<std::string>(argv + 2, argv + argc), out, err);
  Options options;
  if (ParseOptions(argc, argv, options, err) != 0) return 2;
  const Io io{in, out, err};
  if (options.command == "write") return Write(options, io);
  if (options.command == "dump") return Dump(options, io);
  if (options.command == "remove" && argc == 3) return Remove(options, io);
  if (options.command == "unlock") return UnlockBoard(options.key, options.held, out, err);
  std::fprintf(err, "zelvora-board: unknown command %s\n%s", options.command.c_str(),
               Usage().c_str());
  return 2;
}
