#include "db/TblTsContext.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

std::string ValueColumn(int number) { return "C" + IntToText(number); }

}  // namespace

CTblTsContext::CTblTsContext(const MywRow& row)
    : orderId_(ReadText(row, "OrderID")),
      tradeId_(ReadText(row, "TradeID")),
      accountId_(ReadText(row, "AccountId")),
      class_(ReadText(row, "Class")),
      titleSeq_(ReadInteger(row, "TitleSeq")) {
  for (int i = 1; i <= kValues; ++i) values_.push_back(ReadNumber(row, ValueColumn(i).c_str()));
  note_ = ReadText(row, "Note");
  statusKbn_ = ReadInteger(row, "StatusKbn");
  tradeMethodPeriod_ = ReadText(row, "TradeMethodPeriod");
  tradeMethodName_ = ReadText(row, "TradeMethodName");
  trailStopPeriod_ = ReadText(row, "TrailStopPeriod");
  trailStopName_ = ReadText(row, "TrailStopName");
  trailMoveTsName_ = ReadText(row, "TrailMoveTsName");
}

std::string CTblTsContext::ToJson() const {
  return CJsonText()
      .Text("TradeID", tradeId_)
      .Text("TradeMethodPeriod", tradeMethodPeriod_)
      .Text("TradeMethodName", tradeMethodName_)
      .Text("TrailStopPeriod", trailStopPeriod_)
      .Text("TrailStopName", trailStopName_)
      .Text("TrailMoveTsName", trailMoveTsName_)
      .Close();
}

std::string CTblTsContext::ToText() const {
  // The values' own names live in the title set; the dump names them by column.
  CTextDump dump("\n[TsContext " + orderId_ + " " + class_ + "]");
  for (int i = 0; i < kValues; ++i) dump.Number(ValueColumn(i + 1).c_str(), values_[i]);
  if (!tradeMethodPeriod_.empty()) dump.Text("TradeMethodPeriod", tradeMethodPeriod_);
  if (!tradeMethodName_.empty()) dump.Text("TradeMethodName", tradeMethodName_);
  if (!trailMoveTsName_.empty()) dump.Text("TrailMoveTsName", trailMoveTsName_);
  return dump.Close();
}

void CTblTsContext::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `OrderID`=").Quoted(orderId_).Add(" AND `AccountId`=").Quoted(accountId_);
  sql.Add(" AND `Class`=").Quoted(class_);
}

std::string CTblTsContext::SelectSql() const {
  return KeyedSql("SELECT * FROM `TsContext`", *this);
}

std::string CTblTsContext::DeleteSql() const { return KeyedSql("DELETE FROM `TsContext`", *this); }

std::string CTblTsContext::InsertSql() const {
  CSqlText sql("INSERT INTO `TsContext` VALUES (");
  sql.List().Item().Quoted(orderId_).Item().Quoted(tradeId_).Item().Quoted(accountId_);
  sql.Item().Quoted(class_).Item().Integer(titleSeq_);
  for (int i = 0; i < kValues; ++i) {
    sql.Item();
    if (i < static_cast<int>(values_.size())) {
      sql.Number(values_[i]);
    } else {
      sql.Add("NULL");
    }
  }
  sql.Item().Quoted(note_).Item().Integer(statusKbn_);
  for (const std::string* text : {&tradeMethodPeriod_, &tradeMethodName_, &trailStopPeriod_,
                                  &trailStopName_, &trailMoveTsName_}) {
    sql.Item().Quoted(*text);
  }
  sql.Item().QuotedNow().Item().Quoted(updateUser_).Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblTsContext::UpdateSql() const {
  CSqlText sql("UPDATE `TsContext` SET ");
  sql.List().Column("TitleSeq").Integer(titleSeq_);
  for (int i = 0; i < kValues && i < static_cast<int>(values_.size()); ++i) {
    sql.Column(ValueColumn(i + 1).c_str()).Number(values_[i]);
  }
  sql.Column("StatusKbn").Integer(statusKbn_);
  sql.Column("TradeMethodPeriod").Quoted(tradeMethodPeriod_);
  sql.Column("TradeMethodName").Quoted(tradeMethodName_);
  sql.Column("TrailStopPeriod").Quoted(trailStopPeriod_);
  sql.Column("TrailStopName").Quoted(trailStopName_);
  sql.Column("TrailMoveTsName").Quoted(trailMoveTsName_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
