#include "db/TblPriceBar.h"

#include "db/SqlText.h"
#include "util/Json.h"

CTblPriceBar::CTblPriceBar(const MywRow& row)
    : symbol_(ReadText(row, "Symbol")),
      period_(ReadText(row, "Period")),
      startDate_(ReadTime(row, "StartDate", 0)),
      askOpen_(ReadNumber(row, "AskOpen")),
      askHigh_(ReadNumber(row, "AskHigh")),
      askLow_(ReadNumber(row, "AskLow")),
      askClose_(ReadNumber(row, "AskClose")),
      bidOpen_(ReadNumber(row, "BidOpen")),
      bidHigh_(ReadNumber(row, "BidHigh")),
      bidLow_(ReadNumber(row, "BidLow")),
      bidClose_(ReadNumber(row, "BidClose")) {}

std::string CTblPriceBar::ToJson() const {
  return CJsonText()
      .Text("Symbol", symbol_)
      .Time("StartDate", startDate_)
      .Text("Period", period_)
      .Number("AskClose", askClose_)
      .Number("AskHigh", askHigh_)
      .Number("AskLow", askLow_)
      .Number("AskOpen", askOpen_)
      .Number("BidClose", bidClose_)
      .Number("BidHigh", bidHigh_)
      .Number("BidLow", bidLow_)
      .Number("BidOpen", bidOpen_)
      .Close();
}

void CTblPriceBar::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `Symbol`=").Quoted(symbol_).Add(" AND `Period`=").Quoted(period_);
  sql.Add(" AND `StartDate`=").QuotedTime(startDate_, 0);
}

std::string CTblPriceBar::SelectSql() const { return KeyedSql("SELECT * FROM `PriceBar`", *this); }

std::string CTblPriceBar::DeleteSql() const { return KeyedSql("DELETE FROM `PriceBar`", *this); }

std::string CTblPriceBar::InsertSql() const {
  CSqlText sql("INSERT INTO `PriceBar` VALUES (");
  sql.List().Item().Quoted(symbol_).Item().Quoted(period_).Item().QuotedTime(startDate_, 0);
  for (double value :
       {askOpen_, askHigh_, askLow_, askClose_, bidOpen_, bidHigh_, bidLow_, bidClose_}) {
    sql.Item().Number(value);
  }
  sql.Item().QuotedNow().Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblPriceBar::UpdateSql() const {
  CSqlText sql("UPDATE `PriceBar` SET ");
  sql.List().Column("AskOpen").Number(askOpen_).Column("AskHigh").Number(askHigh_);
  sql.Column("AskLow").Number(askLow_).Column("AskClose").Number(askClose_);
  sql.Column("BidOpen").Number(bidOpen_).Column("BidHigh").Number(bidHigh_);
  sql.Column("BidLow").Number(bidLow_).Column("BidClose").Number(bidClose_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
