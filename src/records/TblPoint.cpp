#include "records/TblPoint.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/StringUtil.h"

namespace {

const char* const kLevelColumns[CTblPoint::kLevels] = {"R5", "R4", "R3", "R2", "R1", "Pivot",
                                                       "S1", "S2", "S3", "S4", "S5"};

int32_t LevelType(int level) {
  if (level < 5) return CTblPoint::kResistance;
  return level == 5 ? CTblPoint::kPivot : CTblPoint::kSupport;
}

}  // namespace

CTblPoint::CTblPoint(const MywRow& row)
    : symbol_(ReadText(row, "Symbol")),
      srcKbn_(ReadInteger(row, "SrcKbn")),
      time_(ReadTime(row, "Time")),
      pivotPos_(ReadInteger(row, "PivotPos")),
      statusKbn_(ReadInteger(row, "StatusKbn")) {
  for (int level = 0; level < kLevels; ++level) {
    levels_[level] = ReadNumber(row, kLevelColumns[level]);
    if (levels_[level] <= 0) continue;
    values_.push_back(levels_[level]);
    types_.push_back(LevelType(level));
  }
}

std::string CTblPoint::ToText() const {
  CTextDump dump("\n>>>> [Point] <<<<");
  dump.Text("Symbol", symbol_).Time("Time", time_);
  dump.Integer("PointValueSize", static_cast<int32_t>(values_.size()));
  dump.Integer("PointTypeSize", static_cast<int32_t>(types_.size()));
  dump.Integer("PointCommentSize", static_cast<int32_t>(comments_.size()));
  for (size_t i = 0; i < values_.size(); ++i) {
    std::string line = "\n[" + IntToText(static_cast<int32_t>(i)) + "] " +
                       DoubleToText(values_[i]) + " " + IntToText(types_[i]);
    if (i < comments_.size()) line += " " + comments_[i];
    dump.Raw(line);
  }
  return dump.Close();
}

void CTblPoint::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `Symbol`=").Quoted(symbol_).Add(" AND `SrcKbn`=").Integer(srcKbn_);
  sql.Add(" AND `Time`=").QuotedTime(time_);
}

void CTblPoint::AddLevel(CSqlText& sql, int level) const {
  if (levels_[level] > 0) {
    sql.Number(levels_[level]);
  } else {
    sql.Add("NULL");
  }
}

std::string CTblPoint::SelectSql() const { return KeyedSql("SELECT * FROM `RsPoint`", *this); }

std::string CTblPoint::DeleteSql() const { return KeyedSql("DELETE FROM `RsPoint`", *this); }

std::string CTblPoint::InsertSql() const {
  CSqlText sql("INSERT INTO `RsPoint` VALUES (");
  sql.List().Item().Quoted(symbol_).Item().Integer(srcKbn_).Item().QuotedTime(time_);
  sql.Item().Integer(pivotPos_).Item().Integer(statusKbn_);
  for (int level = 0; level < kLevels; ++level) AddLevel(sql.Item(), level);
  sql.Item().QuotedNow().Item().Quoted(updateUser_).Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblPoint::UpdateSql() const {
  CSqlText sql("UPDATE `RsPoint` SET ");
  sql.List().Column("PivotPos").Integer(pivotPos_).Column("StatusKbn").Integer(statusKbn_);
  for (int level = 0; level < kLevels; ++level) AddLevel(sql.Column(kLevelColumns[level]), level);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
