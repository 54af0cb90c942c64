// CTblPoint: one set of pivot points of a symbol at a time, from the
// `RsPoint` table: the pivot, resistances R1 to R5 and supports S1 to S5.
// Only the desk's other programs use it; zelvora.cgi does not link it.
#ifndef ZELVORA_RECORDS_TBLPOINT_H_
#define ZELVORA_RECORDS_TBLPOINT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/TblBase.h"

class CTblPoint : public CTblBase {
 public:
  static constexpr int kLevels = 11;  // R5 .. R1, Pivot, S1 .. S5
  enum PointType { kResistance = -1, kPivot = 0, kSupport = 1 };

  // Reads Symbol, SrcKbn, Time (local), PivotPos, StatusKbn and the levels
  // from R5 down to S5; a level above 0 becomes a point (value and type), a
  // level of 0 or less (a missing column among them) is left out.
  explicit CTblPoint(const MywRow& row);

  int64_t RecordTime() const override { return time_; }
  std::string ToText() const override;

  // Statements; "" when a value is refused (db/SqlText.h). A level without
  // a point is written as NULL.
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  const std::vector<double>& Values() const { return values_; }
  const std::vector<int32_t>& Types() const { return types_; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  void AddLevel(class CSqlText& sql, int level) const;

  std::string symbol_;
  int32_t srcKbn_;
  int64_t time_;
  int32_t pivotPos_;
  int32_t statusKbn_;
  double levels_[kLevels];
  std::vector<double> values_;
  std::vector<int32_t> types_;
  std::vector<std::string> comments_;  // no row fills it
  std::string updateUser_;
};

#endif  // ZELVORA_RECORDS_TBLPOINT_H_
