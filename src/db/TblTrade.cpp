#include "db/TblTrade.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/Json.h"
#include "util/StringUtil.h"
#include "util/TimeText.h"

CTblTrade::CTblTrade(const MywRow& row)
    : tradeId_(ReadText(row, "TradeID")),
      accountId_(ReadText(row, "AccountID")),
      offerId_(ReadText(row, "OfferID")),
      symbol_(ReadText(row, "Symbol")),
      amount_(ReadNumber(row, "Amount")),
      bs_(ReadText(row, "BS")),
      open_(ReadNumber(row, "Open")),
      close_(ReadNumber(row, "Close")),
      stop_(ReadNumber(row, "Stop")),
      limit_(ReadNumber(row, "Limit")),
      high_(ReadNumber(row, "High")),
      low_(ReadNumber(row, "Low")),
      pl_(ReadNumber(row, "PL")),
      grossPl_(ReadNumber(row, "GrossPL")),
      commission_(ReadNumber(row, "Commission")),
      interest_(ReadNumber(row, "Interest")),
      openTime_(ReadTime(row, "OpenTime")),
      closeTime_(ReadTime(row, "CloseTime")),
      openOrderId_(ReadText(row, "OpenOrderID")),
      closeOrderId_(ReadText(row, "CloseOrderID")),
      stopOrderId_(ReadText(row, "StopOrderID")),
      limitOrderId_(ReadText(row, "LimitOrderID")),
      maxSumPl_(ReadNumber(row, "MaxSumPL")),
      maxSumPlCount_(ReadInteger(row, "MaxSumPLCount")),
      maxSumPlTime_(ReadTime(row, "MaxSumPLTime")),
      curSumPl_(ReadNumber(row, "CurSumPL")),
      curSumPlCount_(ReadInteger(row, "CurSumPLCount")),
      reserve_(ReadText(row, "Reserve")),
      tradeMethodPeriod_(ReadText(row, "TradeMethodPeriod")),
      tradeMethodName_(ReadText(row, "TradeMethodName")),
      trailStopPeriod_(ReadText(row, "TrailStopPeriod")),
      trailStopName_(ReadText(row, "TrailStopName")),
      trailMoveTsName_(ReadText(row, "TrailMoveTsName")) {}

int64_t CTblTrade::RecordTime() const { return closeTime_ != 0 ? closeTime_ : openTime_; }

std::string CTblTrade::Title() const { return closeTime_ != 0 ? "Closed Trade" : "Trade"; }

std::string CTblTrade::Summary() const {
  return "Symbol:" + symbol_ + " BS:" + bs_ + " OpenTime: " + TimeText(openTime_) +
         " CloseTime: " + TimeText(closeTime_) + " Open: " + DoubleToText(open_) +
         " Close: " + DoubleToText(close_) + " PL: " + DoubleToText(pl_);
}

std::string CTblTrade::ToJson() const {
  return CJsonText()
      .Text("TradeID", tradeId_)
      .Text("Symbol", symbol_)
      .Number("Amount", amount_)
      .Text("BS", bs_)
      .Number("Open", open_)
      .Number("Close", close_)
      .Number("Stop", stop_)
      .Number("Limit", limit_)
      .Number("High", high_)
      .Number("Low", low_)
      .Number("PL", pl_)
      .Number("GrossPL", grossPl_)
      .Time("OpenTime", openTime_)
      .Time("CloseTime", closeTime_)
      .Number("MaxSumPL", maxSumPl_)
      .Integer("MaxSumPLCount", maxSumPlCount_)
      .Time("MaxSumPLTime", maxSumPlTime_)
      .Number("CurSumPL", curSumPl_)
      .Integer("CurSumPLCount", curSumPlCount_)
      .Text("TradeMethodPeriod", tradeMethodPeriod_)
      .Text("TradeMethodName", tradeMethodName_)
      .Text("TrailStopPeriod", trailStopPeriod_)
      .Text("TrailStopName", trailStopName_)
      .Text("TrailMoveTsName", trailMoveTsName_)
      .Close();
}

std::string CTblTrade::ToText() const {
  return CTextDump("\n>>>> [Trade] <<<<")
      .Text("TradeID", tradeId_)
      .Text("AccountID", accountId_)
      .Text("OfferID", offerId_)
      .Text("Symbol", symbol_)
      .Text("BS", bs_ + "(" + SideName(bs_) + ")")
      .Number("Amount", amount_)
      .Number("Open", open_)
      .Number("Close", close_)
      .Number("Stop", stop_)
      .Number("Limit", limit_)
      .Number("High", high_)
      .Number("Low", low_)
      .Number("PL", pl_)
      .Number("GrossPL", grossPl_)
      .Number("Commission", commission_)
      .Number("Interest", interest_)
      .Time("OpenTime", openTime_)
      .Time("CloseTime", closeTime_)
      .Text("OpenOrderID", openOrderId_)
      .Text("CloseOrderID", closeOrderId_)
      .Text("StopOrderID", stopOrderId_)
      .Text("LimitOrderID", limitOrderId_)
      .Close();
}

std::string CTblTrade::ToMarkup() const {
  return CMarkupText("trade")
      .Text("TradeID", tradeId_)
      .Number("Open", open_)
      .Number("Stop", stop_)
      .Number("Limit", limit_)
      .Number("High", high_)
      .Number("Low", low_)
      .Number("PL", pl_)
      .Number("GrossPL", grossPl_)
      .Close();
}

void CTblTrade::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `TradeID`=").Quoted(tradeId_).Add(" AND `AccountID`=").Quoted(accountId_);
}

std::string CTblTrade::SelectSql() const { return KeyedSql("SELECT * FROM `Trade`", *this); }

std::string CTblTrade::DeleteSql() const { return KeyedSql("DELETE FROM `Trade`", *this); }

std::string CTblTrade::InsertSql() const {
  CSqlText sql("INSERT INTO `Trade` VALUES (");
  sql.List().Item().Quoted(tradeId_).Item().Quoted(accountId_).Item().Quoted(offerId_);
  sql.Item().Quoted(symbol_).Item().Number(amount_).Item().Quoted(bs_);
  for (double value :
       {open_, close_, stop_, limit_, high_, low_, pl_, grossPl_, commission_, interest_}) {
    sql.Item().Number(value);
  }
  sql.Item().QuotedTime(openTime_).Item().QuotedTime(closeTime_);
  for (const std::string* id : {&openOrderId_, &closeOrderId_, &stopOrderId_, &limitOrderId_}) {
    sql.Item().Quoted(*id);
  }
  sql.Item().Number(maxSumPl_).Item().Integer(maxSumPlCount_).Item().QuotedTime(maxSumPlTime_);
  sql.Item().Number(curSumPl_).Item().Integer(curSumPlCount_).Item().Quoted(reserve_);
  sql.Item().QuotedNow().Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblTrade::UpdateSql() const {
  CSqlText sql("UPDATE `Trade` SET ");
  sql.List().Column("OfferID").Quoted(offerId_).Column("Symbol").Quoted(symbol_);
  sql.Column("Amount").Number(amount_).Column("BS").Quoted(bs_);
  sql.Column("Open").Number(open_).Column("Close").Number(close_);
  sql.Column("Stop").Number(stop_).Column("Limit").Number(limit_);
  sql.Column("High").Number(high_).Column("Low").Number(low_);
  sql.Column("PL").Number(pl_).Column("GrossPL").Number(grossPl_);
  sql.Column("Commission").Number(commission_).Column("Interest").Number(interest_);
  sql.Column("OpenTime").QuotedTime(openTime_).Column("CloseTime").QuotedTime(closeTime_);
  sql.Column("OpenOrderID").Quoted(openOrderId_).Column("CloseOrderID").Quoted(closeOrderId_);
  sql.Column("StopOrderID").Quoted(stopOrderId_).Column("LimitOrderID").Quoted(limitOrderId_);
  sql.Column("MaxSumPL").Number(maxSumPl_).Column("MaxSumPLCount").Integer(maxSumPlCount_);
  sql.Column("MaxSumPLTime").QuotedTime(maxSumPlTime_).Column("CurSumPL").Number(curSumPl_);
  sql.Column("CurSumPLCount").Integer(curSumPlCount_).Column("Reserve").Quoted(reserve_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}

std::string CTblTrade::PartialUpdateSql(const std::set<std::string>& columns) const {
  CSqlText sql("UPDATE `Trade` SET ");
  sql.List();
  auto wanted = [&](const char* name) {
    if (columns.count(name) == 0) return false;
    sql.Column(name);
    return true;
  };
  if (wanted("Amount")) sql.Number(amount_);
  if (wanted("Close")) sql.Number(close_);
  if (wanted("Stop")) sql.Number(stop_);
  if (wanted("Limit")) sql.Number(limit_);
  if (wanted("High")) sql.Number(high_);
  if (wanted("Low")) sql.Number(low_);
  if (wanted("PL")) sql.Number(pl_);
  if (wanted("GrossPL")) sql.Number(grossPl_);
  if (wanted("CloseTime")) sql.QuotedTime(closeTime_);
  if (wanted("CloseOrderID")) sql.Quoted(closeOrderId_);
  if (wanted("StopOrderID")) sql.Quoted(stopOrderId_);
  if (wanted("LimitOrderID")) sql.Quoted(limitOrderId_);
  if (wanted("MaxSumPL")) sql.Number(maxSumPl_);
  if (wanted("MaxSumPLCount")) sql.Integer(maxSumPlCount_);
  if (wanted("MaxSumPLTime")) sql.QuotedTime(maxSumPlTime_);
  if (wanted("CurSumPL")) sql.Number(curSumPl_);
  if (wanted("CurSumPLCount")) sql.Integer(curSumPlCount_);
  if (wanted("Reserve")) sql.Quoted(reserve_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
