#include "shm/Board.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "util/Json.h"
#include "util/MallocBuffer.h"
#include "util/StringUtil.h"

namespace {

const BoardLayout* const kLayouts[] = {&kAccountBoard, &kTradeBoard, &kOfferBoard, &kPriceBarBoard};

// Records found to be one JSON object: a worker copies the same records
// request after request, and judging one costs ten times its copy. The
// verdict depends on the bytes alone, so the same bytes found here are one
// JSON object; any other bytes are judged afresh. Bounded: kJudged records
// of at most kJudgedBytes each (offer and account records are far shorter),
// one place for each hash of the bytes.
constexpr size_t kJudged = 64, kJudgedBytes = 512;
// No initializers: static storage starts zeroed, and a constructor would
// run at every process start and write each of these pages (some 8 page
// faults for a CGI process that reads one board).
struct CJudged {
  size_t length;
  char bytes[kJudgedBytes];
} judged[kJudged];

size_t JudgedPlace(const char* record, size_t length) {
  uint64_t hash = 0xcbf29ce484222325u ^ length;
  size_t at = 0;
  for (uint64_t word; at + 8 <= length; at += 8) {
    std::memcpy(&word, record + at, 8);
    hash = (hash ^ word) * 0x100000001b3u;
  }
  for (; at < length; ++at) hash = (hash ^ static_cast<unsigned char>(record[at])) * 0x100000001b3u;
  return static_cast<size_t>(hash ^ hash >> 29) % kJudged;
}

bool KnownJsonObject(const char* record, size_t length) {
  if (length == 0 || length > kJudgedBytes) return false;
  const CJudged& place = judged[JudgedPlace(record, length)];
  return place.length == length && std::memcmp(place.bytes, record, length) == 0;
}

// IsJsonObject, remembering a record found to be one.
bool JudgeJsonObject(const char* record, size_t length) {
  if (!IsJsonObject(record, record + length)) return false;
  if (length <= kJudgedBytes) {
    CJudged& place = judged[JudgedPlace(record, length)];
    std::memcpy(place.bytes, record, length);
    place.length = length;
  }
  return true;
}

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
// Reads an index for the record numbers of `keys` without building it: a
// request names a few symbols, the index holds them all. A picojson parse
// context; nested values are checked and skipped as picojson's null context
// does. A member named twice counts with its last value.
class CIndexReader {
 public:
  // `all` not null: every member's number is kept there, for any key.
  explicit CIndexReader(const std::vector<std::string>& keys,
                        std::unordered_map<std::string, int64_t>* all = nullptr)
      : keys_(keys), numbers_(keys.size(), -1), all_(all) {}

  bool set_null() { return true; }
  bool set_bool(bool) { return true; }
  bool set_number(double value) { return Finite(value); }
  template <typename Iter>
  bool parse_string(picojson::input<Iter>& in) {
    picojson::null_parse_context::dummy_str text;
    return picojson::_parse_string(text, in);
  }
  bool parse_array_start() { return skip_.parse_array_start(); }
  template <typename Iter>
  bool parse_array_item(picojson::input<Iter>& in, size_t) {
    return picojson::_parse(skip_, in);
  }
  bool parse_array_stop(size_t size) { return skip_.parse_array_stop(size); }
  bool parse_object_start() { return isObject_ = true; }
  template <typename Iter>
  bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
    CNumber member;
    if (!picojson::_parse(member, in)) return false;
    if (all_ != nullptr) (*all_)[key] = member.number;
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == key) numbers_[i] = member.number;
    }
    return true;
  }
  bool parse_object_stop() { return true; }

  bool IsObject() const { return isObject_; }

  // A number beyond a double's range is an error, as picojson's own values
  // make it (they throw; ParseJsonWith reports it).
  static bool Finite(double value) {
    if (!std::isfinite(value)) throw std::overflow_error("");
    return true;
  }
  int64_t Number(size_t i) const { return numbers_[i]; }

 private:
  // One member's value: its record number when it is a number that can
  // name one (truncated toward zero, within 32 bits), else -1.
  struct CNumber : picojson::null_parse_context {
    bool set_number(double value) {
      number = !(value > -1.0) || value >= 2147483648.0 ? -1 : static_cast<int32_t>(value);
      return Finite(value);
    }
    int64_t number = -1;
  };

  const std::vector<std::string>& keys_;
  std::vector<int64_t> numbers_;
  std::unordered_map<std::string, int64_t>* all_;
  picojson::null_parse_context skip_;
  bool isObject_ = false;
};

// Appends the record at `offset` through the R + 1 byte `buffer`, or notes
// record `number` as left out.
void AppendRecordAt(const char* segment, int64_t offset, int32_t recordSize, int64_t number,
                    char* buffer, std::string& out, CLeftOutRecords& leftOut) {
  std::memcpy(buffer, segment + offset, static_cast<size_t>(recordSize));
  buffer[recordSize] = '\0';
  if (!AppendBoardRecord(buffer, recordSize, out)) leftOut.Add(number);
}

void Explain(const CLeftOutRecords& leftOut, std::string& detail) {
  if (!leftOut.Empty()) detail = leftOut.Text();
}

}  // namespace

std::string BoardKey(const BoardLayout& layout, const std::string& name) {
  return name.empty() ? std::string(layout.tag) : layout.tag + ("." + name);
}

const BoardLayout* FindBoardLayout(const std::string& key) {
  const std::string word = key.substr(0, key.find('.'));
  for (const BoardLayout* layout : kLayouts) {
    if (word == layout->tag) return layout;
  }
  return nullptr;
}

BoardHeader ReadBoardHeader(const char* segment) {
  return {ReadField(segment), ReadField(segment + kBoardFieldSize)};
}

std::string FormatBoardHeader(int32_t count, int32_t recordSize) {
  char text[2 * kBoardFieldSize + 1];
  std::snprintf(text, sizeof text, "%6d%6d", static_cast<int>(count), static_cast<int>(recordSize));
  return std::string(text, kBoardHeaderSize);
}

int64_t BoardRecordOffset(int32_t size, int32_t indexSize, int32_t recordSize, int64_t number) {
  if (recordSize < 1 || number < 0 || !AreaFits(size, indexSize)) return -1;
  const int64_t offset = kBoardHeaderSize + static_cast<int64_t>(indexSize) + number * recordSize;
  return offset + recordSize <= size ? offset : -1;
}

size_t BoardRecordLength(const char* record, int32_t recordSize) {
  size_t end = static_cast<size_t>(recordSize);
  while (end > 0 && record[end - 1] == ' ') --end;
  const void* nul = std::memchr(record, '\0', end);
  return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - record) : end;
}

bool AppendBoardRecord(const char* record, int32_t recordSize, std::string& out) {
  const size_t length = BoardRecordLength(record, recordSize);
  if (KnownJsonObject(record, length) || JudgeJsonObject(record, length)) {
    if (!out.empty()) out += ',';
    out.append(record, length);
    return true;
  }
  // A feeder that writes its texts in another encoding must not hide the
  // whole record (an open trade) for one byte: inside strings, bytes that
  // are not UTF-8 become the replacement character, as in database texts.
  std::string mended;
  const char* const last = record + length;
  for (const char* at = record; at < last;) at += AppendUtf8OrReplacement(at, last, mended);
  if (mended.size() == length || !IsJsonObject(mended.data(), mended.data() + mended.size())) {
    return false;
  }
  if (!out.empty()) out += ',';
  out += mended;
  return true;
}

void CLeftOutRecords::Add(int64_t number) {
  if (++count_ > kNamedMax) return;
  named_ += (named_.empty() ? "" : ", ") + std::to_string(number);
}

std::string CLeftOutRecords::Text() const {
  std::string text = "left out, not a JSON object: record " + named_;
  if (count_ > kNamedMax) text += ", and " + std::to_string(count_ - kNamedMax) + " more";
  return text;
}

int64_t BoardHeadBytes(int32_t size, int32_t indexSize) {
  return AreaFits(size, indexSize) ? kBoardHeaderSize + static_cast<int64_t>(indexSize)
                                   : kBoardHeaderSize;
}

int64_t BoardBytesNeeded(const char* header, int32_t size, int32_t indexSize) {
  const BoardHeader fields = ReadBoardHeader(header);
  const int64_t last = fields.count > 0
                           ? BoardRecordOffset(size, indexSize, fields.recordSize, fields.count - 1)
                           : -1;
  return last >= 0 ? last + fields.recordSize : kBoardHeaderSize;
}

BoardStatus TakeBoardRecords(const char* segment, int32_t size, int32_t indexSize, std::string& out,
                             std::string& detail) {
  if (!AreaFits(size, indexSize)) {
    detail = "index area does not fit the segment";
    return BoardStatus::kBroken;
  }
  const BoardHeader header = ReadBoardHeader(segment);
  if (header.count == 0) return BoardStatus::kOk;
  if (header.count < 0 ||
      BoardRecordOffset(size, indexSize, header.recordSize, header.count - 1) < 0) {
    detail = "count " + std::to_string(header.count) + " of " + std::to_string(header.recordSize) +
             " bytes does not fit " + std::to_string(size);
    return BoardStatus::kBroken;
  }
  MallocBuffer buffer = AllocateBuffer(static_cast<size_t>(header.recordSize) + 1);
  if (!buffer) return BoardStatus::kRecordMemory;
  // Texts and commas never outgrow the records: grow the answer once.
  out.reserve(out.size() + static_cast<size_t>(header.count) * (header.recordSize + 1));
  CLeftOutRecords leftOut;
  for (int32_t i = 0; i < header.count; ++i) {
    const int64_t offset = BoardRecordOffset(size, indexSize, header.recordSize, i);
    AppendRecordAt(segment, offset, header.recordSize, i, buffer.get(), out, leftOut);
  }
  Explain(leftOut, detail);
  return BoardStatus::kOk;
}

const CBoardIndexCache::CEntry& CBoardIndexCache::Read(const char* area, int32_t indexSize) {
  const size_t length = static_cast<size_t>(indexSize);
  if (filled_ && entry_.bytes.size() == length &&
      std::memcmp(entry_.bytes.data(), area, length) == 0) {
    return entry_;
  }
  entry_ = CEntry();
  filled_ = true;
  const std::vector<std::string> none;
  CIndexReader index(none, &entry_.numbers);
  entry_.bytes.assign(area, length);
  if (ParseJsonWith(index, entry_.bytes.data(), entry_.bytes.data() + length, entry_.detail) ==
      nullptr) {
    entry_.status = BoardStatus::kBadIndex;
  } else if (!index.IsObject()) {
    entry_.detail = "index is not a JSON object";
    entry_.status = BoardStatus::kBroken;
  }
  if (entry_.status != BoardStatus::kOk) entry_.numbers.clear();
  return entry_;
}

BoardStatus FindBoardRecords(const char* head, int32_t size, int32_t indexSize,
                             const std::vector<std::string>& keys, std::vector<int64_t>& offsets,
                             std::string& detail, CBoardIndexCache* cache) {
  offsets.clear();
  if (keys.empty()) return BoardStatus::kOk;
  if (!AreaFits(size, indexSize)) {
    detail = "index area does not fit the segment";
    return BoardStatus::kBroken;
  }
  const int32_t recordSize = ReadBoardHeader(head).recordSize;
  if (recordSize < 1) {
    detail = "record size " + std::to_string(recordSize);
    return BoardStatus::kBroken;
  }
  if (cache != nullptr) {
    const CBoardIndexCache::CEntry& index = cache->Read(head + kBoardHeaderSize, indexSize);
    if (index.status != BoardStatus::kOk) {
      detail = index.detail;
      return index.status;
    }
    for (const std::string& key : keys) {
      const auto found = index.numbers.find(key);
      offsets.push_back(BoardRecordOffset(size, indexSize, recordSize,
                                          found != index.numbers.end() ? found->second : -1));
    }
    return BoardStatus::kOk;
  }
  MallocBuffer area = AllocateBuffer(static_cast<size_t>(indexSize) + 1);
  if (!area) return BoardStatus::kIndexMemory;
  std::memcpy(area.get(), head + kBoardHeaderSize, static_cast<size_t>(indexSize));

  CIndexReader index(keys);
  if (ParseJsonWith(index, area.get(), area.get() + indexSize, detail) == nullptr)
    return BoardStatus::kBadIndex;
  if (!index.IsObject()) {
    detail = "index is not a JSON object";
    return BoardStatus::kBroken;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    offsets.push_back(BoardRecordOffset(size, indexSize, recordSize, index.Number(i)));
  return BoardStatus::kOk;
}
