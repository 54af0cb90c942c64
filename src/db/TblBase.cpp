#include "db/TblBase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "util/StringUtil.h"
#include "util/TimeText.h"

const char* MywRow::Cell(const char* column) const {
  for (int32_t c = 0; c < set_.columnCount; ++c) {
    if (std::strcmp(set_.names[c], column) == 0) return cells_[c];
  }
  return "";
}

std::string ReadText(const MywRow& row, const char* column) { return row.Cell(column); }

double ReadNumber(const MywRow& row, const char* column) { return TextToDouble(row.Cell(column)); }

int32_t ReadInteger(const MywRow& row, const char* column) {
  return static_cast<int32_t>(std::strtol(row.Cell(column), nullptr, 10));
}

std::string SideName(const std::string& bs) {
  if (bs == "B") return "Buy";
  if (bs == "S") return "Sell";
  return std::string();
}

uint32_t ReadCount(const MywRow& row, const char* column) {
  const std::string text = row.Cell(column);
  size_t used = 0;
  const unsigned long value = std::stoul(text, &used, 10);
  if (used != text.size()) throw std::invalid_argument("stoul");
  if (value > 0xFFFFFFFFul) throw std::out_of_range("stoul");
  return static_cast<uint32_t>(value);
}

int64_t ReadTime(const MywRow& row, const char* column, int local) {
  bool skipped = false;
  const int64_t value = ParseTimeText(row.Cell(column), local, &skipped);
  if (skipped) {
    const char* zone = std::getenv("TZ");
    std::fprintf(stderr, "%s[%s] refused: no such local time in TZ=%s (clocks skip it)\n", column,
                 Printable(row.Cell(column)).c_str(),
                 Printable(zone != nullptr ? zone : "").c_str());
  }
  return value;
}

void CTblBase::Print(FILE* stream) const {
  const std::string text = ToText();
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}
