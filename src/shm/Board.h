// The board segment format, and the readers' work on a private copy of a
// segment (no locking or I/O here; the callers copy and report).
//
// A board of S bytes with an index area of A bytes:
//
//   offset        length  field
//   0             6       record count N: ASCII decimal, read with strtol from
//                         these 6 bytes alone (blanks, sign, digits; no digits
//                         reads as 0)
//   6             6       record size R: same form
//   12            A       index area (only when A > 0): a JSON object mapping a
//                         record's key to its record number (0 for the first),
//                         followed by any bytes up to the end of the area
//   12 + A + i*R  R       record i: its text, blank-padded to R bytes; a NUL
//                         ends the text early
//
// Only records lying wholly inside the first S bytes are ever read. What a
// header that breaks this gives:
//   - any record whose text is not one JSON object (an empty one too) is
//     left out, and the others are answered; bytes that are not UTF-8 in
//     its strings are written as \ufffd instead.
//   - all records: a count of 0 (or no digits) is an empty board; a negative
//     count, a size below 1 with records, or a count whose records reach
//     past S is a broken board: kBroken, nothing taken.
//   - records by key: no keys takes nothing (the header is not looked at); a
//     size below 1 is kBroken; an index area that is not JSON is kBadIndex,
//     JSON that is not an object kBroken; a key that is absent, whose member is not a
//     number, whose number is negative, or whose record reaches past S gets
//     no record, and the other keys are still answered. A key named twice in
//     the index takes its last number.
#ifndef ZELVORA_SHM_BOARD_H_
#define ZELVORA_SHM_BOARD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

constexpr int32_t kBoardHeaderSize = 12;
constexpr int32_t kBoardFieldSize = 6;
constexpr int32_t kBoardFieldMax = 999999;

// Size and index area of the desk's boards, chosen by the key's first word.
struct BoardLayout {
  const char* tag;  // first word of the key
  int32_t size;
  int32_t indexSize;
};

// The desk's boards: the one place their sizes are written. The handlers,
// the health check, the board tool (its usage text too) and the tests take
// them from here.
constexpr BoardLayout kAccountBoard{"account", 1812, 0};      // account.ID
constexpr BoardLayout kTradeBoard{"trade", 114012, 0};        // trade.ID
constexpr BoardLayout kOfferBoard{"offer", 64032, 4000};      // offer
constexpr BoardLayout kPriceBarBoard{"pricebar", 172812, 0};  // pricebar.SYMBOLPERIOD

// The key rule: a board's key is its layout's tag, then "." and `name` when
// `name` is not empty ("account.1001", "offer"). FindBoardLayout reads it
// back.
std::string BoardKey(const BoardLayout& layout, const std::string& name = "");

// The layout whose tag is the text of `key` before its first "." (the whole
// key when it has none); null when no board bears that word.
const BoardLayout* FindBoardLayout(const std::string& key);

struct BoardHeader {
  int32_t count;
  int32_t recordSize;
};

// REQUIRES: `segment` holds at least kBoardHeaderSize bytes.
BoardHeader ReadBoardHeader(const char* segment);

// The 12 header bytes: both fields right-aligned in 6 blanks-padded places.
// REQUIRES: 0 <= count, recordSize <= kBoardFieldMax.
std::string FormatBoardHeader(int32_t count, int32_t recordSize);

// Where record `number` starts, or -1 when it does not lie wholly inside the
// first `size` bytes (or recordSize is below 1).
int64_t BoardRecordOffset(int32_t size, int32_t indexSize, int32_t recordSize, int64_t number);

// The number of the record that starts at `offset`, one BoardRecordOffset gave.
inline int64_t BoardRecordNumber(int32_t indexSize, int32_t recordSize, int64_t offset) {
  return (offset - kBoardHeaderSize - indexSize) / recordSize;
}

// The length of the text of one record of `recordSize` bytes at `record`:
// it ends at the last non-blank byte or at the first NUL, whichever comes
// first.
size_t BoardRecordLength(const char* record, int32_t recordSize);

// Appends the text of one record, its bytes unchanged, when it is one JSON
// object (IsJsonObject), after a "," when `out` is not empty; one that is
// only because of bytes that are not UTF-8 is appended with each such byte
// written as \ufffd. False, with nothing appended, for any other text, an
// empty one among them: answers join records into JSON arrays, and one
// record cut or padded with garbage must not make the whole answer
// unreadable.
bool AppendBoardRecord(const char* record, int32_t recordSize, std::string& out);

// The records a reader left out, for one line of diagnostic: their numbers
// (0 for the first), at most kNamedMax of them named.
class CLeftOutRecords {
 public:
  static constexpr int kNamedMax = 10;
  void Add(int64_t number);
  bool Empty() const { return count_ == 0; }
  // "left out, not a JSON object: record 1, 4, 9" (", and N more" beyond kNamedMax).
  std::string Text() const;

 private:
  int64_t count_ = 0;
  std::string named_;
};

enum class BoardStatus {
  kOk,
  kBroken,        // the header or the index breaks the limits above; `detail` says how
  kRecordMemory,  // the record buffer could not be allocated (errno set)
  kIndexMemory,   // the index buffer could not be allocated (errno set)
  kBadIndex,      // the index area is not JSON; `detail` has the parser's text
};

// The bytes of the header and, when it fits the `size` bytes, the index
// area: what FindBoardRecords looks at.
int64_t BoardHeadBytes(int32_t size, int32_t indexSize);

// How many of a board's first bytes TakeBoardRecords looks at, given its
// header: the header, the index area and every record when the records fit
// the `size` bytes; the header alone otherwise.
int64_t BoardBytesNeeded(const char* header, int32_t size, int32_t indexSize);

// Appends every record of a board of `size` bytes, in board order.
// `segment` holds at least its first BoardBytesNeeded bytes. Records that
// are not JSON objects are left out: kOk with `detail` naming them.
BoardStatus TakeBoardRecords(const char* segment, int32_t size, int32_t indexSize, std::string& out,
                             std::string& detail);

// The record numbers of the last index area read, kept by its bytes: a
// feeder rewrites the offer index only when its symbols change, so most of
// a worker's requests find the bytes it has read already, and compare them
// instead of parsing them. Holds one index at a time: its bytes (at most the
// index area) and a number for each of its members.
class CBoardIndexCache {
 public:
  struct CEntry {
    std::string bytes;
    BoardStatus status = BoardStatus::kOk;
    std::string detail;                                // why the index could not be read
    std::unordered_map<std::string, int64_t> numbers;  // -1: a member that names no record
  };
  // The entry for the `indexSize` bytes at `area`, read now unless they are
  // the bytes read last. Throws std::bad_alloc when memory runs out.
  const CEntry& Read(const char* area, int32_t indexSize);

 private:
  CEntry entry_;
  bool filled_ = false;  // entry_ was read from some bytes
};

// Where the record of each key found in the index area starts (-1 for a key
// that gets none), in the order of `keys`. `head` holds the header and, when
// it fits the `size` bytes, the index area. With `cache`, the index is read
// through it (the same result, the index parsed only when its bytes
// changed); without, only for `keys`.
BoardStatus FindBoardRecords(const char* head, int32_t size, int32_t indexSize,
                             const std::vector<std::string>& keys, std::vector<int64_t>& offsets,
                             std::string& detail, CBoardIndexCache* cache = nullptr);

#endif  // ZELVORA_SHM_BOARD_H_
