// Feeds arbitrary bytes to the board readers as a segment copy: the first
// byte picks the index-area size, the rest is the segment, held in a buffer
// of exactly its size so that any read beyond it is caught. Whatever the
// readers take must make a valid JSON array, records judged valid in an
// earlier input among them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shm/Board.h"
#include "util/Json.h"

namespace {

void RequireJsonArray(const std::string& records) {
  const std::string array = "[" + records + "]";
  if (!IsJsonText(array.data(), array.data() + array.size())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1 << 20)) return 0;
  const int32_t indexSize = data[0] * 16;
  const std::vector<char> segment(data + 1, data + size);
  const int32_t segmentSize = static_cast<int32_t>(segment.size());
  std::string out, detail;
  TakeBoardRecords(segment.data(), segmentSize, indexSize, out, detail);
  RequireJsonArray(out);
  // The indexed path as the program runs it: the offsets, then the records
  // they name. A worker's index, kept across inputs, finds what a fresh read
  // finds.
  static const std::vector<std::string> keys = {"EURUSD", "USDJPY", "0", "", "EURUSD", "a/b"};
  static CBoardIndexCache cache;
  std::vector<int64_t> fresh, kept;
  std::string freshDetail, keptDetail;
  const BoardStatus freshStatus =
      FindBoardRecords(segment.data(), segmentSize, indexSize, keys, fresh, freshDetail);
  const BoardStatus keptStatus =
      FindBoardRecords(segment.data(), segmentSize, indexSize, keys, kept, keptDetail, &cache);
  if (freshStatus != keptStatus || fresh != kept || freshDetail != keptDetail) std::abort();
  if (keptStatus != BoardStatus::kOk) return 0;
  const int32_t recordSize = ReadBoardHeader(segment.data()).recordSize;
  out.clear();
  for (const int64_t offset : kept)
    if (offset >= 0) AppendBoardRecord(segment.data() + offset, recordSize, out);
  RequireJsonArray(out);
  return 0;
}
