// CTblBase, the base of the table records, and MywRow, the view of one
// selected row that a record is built from.
//
// A record is built once from a row and not changed afterwards. Records
// that Select makes belong to the caller's list (std::unique_ptr).
#ifndef ZELVORA_DB_TBLBASE_H_
#define ZELVORA_DB_TBLBASE_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "Myw.h"

// One row of a record set. Must not outlive the set.
class MywRow {
 public:
  MywRow(const MywRecordSet& set, int64_t row)
      : set_(set), cells_(set.cells + row * set.columnCount) {}

  // The cell of the first column named exactly `column`; "" when no column
  // bears the name.
  const char* Cell(const char* column) const;

  // Cells by position. REQUIRES: 0 <= index < ColumnCount().
  int32_t ColumnCount() const { return set_.columnCount; }
  const char* CellAt(int32_t index) const { return cells_[index]; }

 private:
  const MywRecordSet& set_;
  const char* const* cells_;
};

// Cell readers by column kind; a missing column reads as "" or 0.
std::string ReadText(const MywRow& row, const char* column);
double ReadNumber(const MywRow& row, const char* column);    // strtod; no number gives 0
int32_t ReadInteger(const MywRow& row, const char* column);  // strtol, base 10
// The cell as an unsigned 32-bit count, strictly: the whole text must be
// decimal digits. Throws std::invalid_argument("stoul") for an empty or
// non-numeric cell, std::out_of_range("stoul") beyond 32 bits.
uint32_t ReadCount(const MywRow& row, const char* column);
// ParseTimeText of the cell, as local time (or UTC when `local` is 0);
// -1 for a refused text, an empty one among them. A local time the zone
// skips is refused with a line on standard error naming column and text.
int64_t ReadTime(const MywRow& row, const char* column, int local = 1);

// The side a "BS" cell names: "Buy" for "B", "Sell" for "S", else "".
std::string SideName(const std::string& bs);

class CTblBase {
 public:
  CTblBase() = default;
  virtual ~CTblBase() = default;
  CTblBase(const CTblBase&) = delete;
  CTblBase& operator=(const CTblBase&) = delete;

  // Seconds since the epoch that date the record; 0 when it has none.
  virtual int64_t RecordTime() const { return 0; }

  // Labelled text dump, markup fragment and JSON object text; empty when the
  // table has no such form.
  virtual std::string ToText() const { return std::string(); }
  virtual std::string ToMarkup() const { return std::string(); }
  virtual std::string ToJson() const { return std::string(); }

  int32_t Status() const { return status_; }
  void SetStatus(int32_t status) { status_ = status; }

  // Writes ToText and a line end to `stream`, then flushes it.
  void Print(FILE* stream) const;

 private:
  int32_t status_ = -1;
};

#endif  // ZELVORA_DB_TBLBASE_H_
