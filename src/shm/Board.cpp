#include "shm/Board.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/Json.h"
#include "util/MallocBuffer.h"

namespace {

const BoardLayout kLayouts[] = {
    {"account", 1812, 0},
    {"trade", 114012, 0},
    {"offer", 64032, 4000},
    {"pricebar", 172812, 0},
};

int32_t ReadField(const char* field) {
  char text[kBoardFieldSize + 1];
  std::memcpy(text, field, kBoardFieldSize);
  text[kBoardFieldSize] = '\0';
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

bool AreaFits(int32_t size, int32_t indexSize) {
  return indexSize >= 0 && size >= kBoardHeaderSize &&
         static_cast<int64_t>(kBoardHeaderSize) + indexSize <= size;
}

// The record number of `key` in the index, or -1 when it gets no record.
int64_t IndexNumber(const picojson::object& index, const std::string& key) {
  const auto member = index.find(key);
  if (member == index.end() || !member->second.is<double>()) return -1;
  const double number = member->second.get<double>();
  // Truncated toward zero; anything beyond 32 bits cannot lie inside a board.
  if (!(number > -1.0) || number >= 2147483648.0) return -1;
  return static_cast<int32_t>(number);
}

// Appends record `number` through the R + 1 byte `buffer`.
void AppendRecordAt(const char* segment, int64_t offset, int32_t recordSize, char* buffer,
                    std::string& out) {
  std::memcpy(buffer, segment + offset, static_cast<size_t>(recordSize));
  buffer[recordSize] = '\0';
  AppendBoardRecord(buffer, recordSize, out);
}

}  // namespace

const BoardLayout* FindBoardLayout(const std::string& key) {
  const std::string word = key.substr(0, key.find('.'));
  for (const BoardLayout& layout : kLayouts) {
    if (word == layout.tag) return &layout;
  }
  return nullptr;
}

BoardHeader ReadBoardHeader(const char* segment) {
  return {ReadField(segment), ReadField(segment + kBoardFieldSize)};
}

std::string FormatBoardHeader(int32_t count, int32_t recordSize) {
  char text[2 * kBoardFieldSize + 1];
  std::snprintf(text, sizeof text, "%6d%6d", static_cast<int>(count),
                static_cast<int>(recordSize));
  return std::string(text, kBoardHeaderSize);
}

int64_t BoardRecordOffset(int32_t size, int32_t indexSize, int32_t recordSize, int64_t number) {
  if (recordSize < 1 || number < 0 || !AreaFits(size, indexSize)) return -1;
  const int64_t offset = kBoardHeaderSize + static_cast<int64_t>(indexSize) + number * recordSize;
  return offset + recordSize <= size ? offset : -1;
}

void AppendBoardRecord(const char* record, int32_t recordSize, std::string& out) {
  size_t end = static_cast<size_t>(recordSize);
  while (end > 0 && record[end - 1] == ' ') --end;
  const void* nul = std::memchr(record, '\0', end);
  if (nul != nullptr) end = static_cast<size_t>(static_cast<const char*>(nul) - record);
  if (!out.empty()) out += ',';
  out.append(record, end);
}

BoardStatus TakeBoardRecords(const char* segment, int32_t size, int32_t indexSize,
                             std::string& out, std::string& detail) {
  if (!AreaFits(size, indexSize)) {
    detail = "index area does not fit the segment";
    return BoardStatus::kBroken;
  }
  const BoardHeader header = ReadBoardHeader(segment);
  if (header.count == 0) return BoardStatus::kOk;
  if (header.count < 0 ||
      BoardRecordOffset(size, indexSize, header.recordSize, header.count - 1) < 0) {
    detail = "count " + std::to_string(header.count) + " of " +
             std::to_string(header.recordSize) + " bytes does not fit " + std::to_string(size);
    return BoardStatus::kBroken;
  }
  MallocBuffer buffer = AllocateBuffer(static_cast<size_t>(header.recordSize) + 1);
  if (!buffer) return BoardStatus::kRecordMemory;
  // Texts and commas never outgrow the records: grow the answer once.
  out.reserve(out.size() + static_cast<size_t>(header.count) * (header.recordSize + 1));
  for (int32_t i = 0; i < header.count; ++i) {
    const int64_t offset = BoardRecordOffset(size, indexSize, header.recordSize, i);
    AppendRecordAt(segment, offset, header.recordSize, buffer.get(), out);
  }
  return BoardStatus::kOk;
}

BoardStatus TakeBoardRecordsByKeys(const char* segment, int32_t size, int32_t indexSize,
                                   const std::vector<std::string>& keys, std::string& out,
                                   std::string& detail) {
  if (keys.empty()) return BoardStatus::kOk;
  if (!AreaFits(size, indexSize)) {
    detail = "index area does not fit the segment";
    return BoardStatus::kBroken;
  }
  const int32_t recordSize = ReadBoardHeader(segment).recordSize;
  if (recordSize < 1) {
    detail = "record size " + std::to_string(recordSize);
    return BoardStatus::kBroken;
  }
  MallocBuffer record = AllocateBuffer(static_cast<size_t>(recordSize) + 1);
  if (!record) return BoardStatus::kRecordMemory;
  MallocBuffer area = AllocateBuffer(static_cast<size_t>(indexSize) + 1);
  if (!area) return BoardStatus::kIndexMemory;
  std::memcpy(area.get(), segment + kBoardHeaderSize, static_cast<size_t>(indexSize));

  picojson::value index;
  if (ParseJson(area.get(), area.get() + indexSize, index, detail) == nullptr) {
    return BoardStatus::kBadIndex;
  }
  if (!index.is<picojson::object>()) {
    detail = "index is not a JSON object";
    return BoardStatus::kBroken;
  }
  const picojson::object& members = index.get<picojson::object>();
  for (const std::string& key : keys) {
    const int64_t offset = BoardRecordOffset(size, indexSize, recordSize, IndexNumber(members, key));
    if (offset >= 0) AppendRecordAt(segment, offset, recordSize, record.get(), out);
  }
  return BoardStatus::kOk;
}
