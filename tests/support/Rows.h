// Test support: a record set built in memory, as the library would hand it
// over, for record classes tested without a server.
#ifndef ZELVORA_TESTS_SUPPORT_ROWS_H_
#define ZELVORA_TESTS_SUPPORT_ROWS_H_

#include <string>
#include <vector>

#include "Myw.h"
#include "db/TblBase.h"

class CTestRows {
 public:
  // Every row must have one cell per name.
  CTestRows(std::vector<std::string> names, std::vector<std::vector<std::string>> rows)
      : names_(std::move(names)), rows_(std::move(rows)) {
    for (const auto& name : names_) namePointers_.push_back(name.c_str());
    for (const auto& row : rows_) {
      for (const auto& cell : row) cellPointers_.push_back(cell.c_str());
    }
    set_.columnCount = static_cast<int32_t>(names_.size());
    set_.rowCount = static_cast<int64_t>(rows_.size());
    set_.names = namePointers_.data();
    set_.cells = cellPointers_.data();
  }
  CTestRows(const CTestRows&) = delete;
  CTestRows& operator=(const CTestRows&) = delete;

  MywRow Row(int64_t index = 0) const { return MywRow(set_, index); }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<const char*> namePointers_;
  std::vector<const char*> cellPointers_;
  MywRecordSet set_{};
};

// One row of name=value pairs.
inline CTestRows* OneRow(const std::vector<std::pair<std::string, std::string>>& cells) {
  std::vector<std::string> names, row;
  for (const auto& cell : cells) {
    names.push_back(cell.first);
    row.push_back(cell.second);
  }
  return new CTestRows(names, {row});
}

#endif  // ZELVORA_TESTS_SUPPORT_ROWS_H_
