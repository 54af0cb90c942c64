#include "db/TblOffer.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/Json.h"
#include "util/StringUtil.h"

CTblOffer::CTblOffer(const MywRow& row)
    : offerId_(ReadText(row, "OfferID")),
      symbol_(ReadText(row, "Symbol")),
      symbolType_(ReadText(row, "SymbolType")),
      bid_(ReadNumber(row, "Bid")),
      ask_(ReadNumber(row, "Ask")),
      high_(ReadNumber(row, "High")),
      low_(ReadNumber(row, "Low")),
      pipCost_(ReadNumber(row, "PipCost")),
      time_(ReadTime(row, "Time")),
      pointSize_(ReadNumber(row, "PointSize")),
      reserve_(ReadText(row, "Reserve")) {}

std::string CTblOffer::ToJson() const {
  return CJsonText()
      .Text("OfferID", offerId_)
      .Text("Symbol", symbol_)
      .Number("Bid", bid_)
      .Number("Ask", ask_)
      .Number("High", high_)
      .Number("Low", low_)
      .Number("PipCost", pipCost_)
      .Number("PointSize", pointSize_)
      .Time("Time", time_)
      .Close();
}

std::string CTblOffer::ToText() const {
  return CTextDump("\n>>>> [Offer] <<<<")
      .Text("Symbol", symbol_)
      .Text("Bid/Ask", DoubleToText(bid_) + " / " + DoubleToText(ask_))
      .Text("High/Low", DoubleToText(high_) + " / " + DoubleToText(low_))
      .Number("PointSize", pointSize_)
      .Time("Time", time_)
      .Close();
}

std::string CTblOffer::ToMarkup() const {
  return CMarkupText("offer")
      .Text("Symbol", symbol_)
      .Number("Bid", bid_)
      .Number("Ask", ask_)
      .Number("High", high_)
      .Number("Low", low_)
      .Close();
}

std::string CTblOffer::SelectSql() const {
  return CSqlText("SELECT * FROM `Offer`").Add(" WHERE `OfferID`=").Quoted(offerId_).Text();
}

std::string CTblOffer::DeleteSql() const {
  return CSqlText("DELETE FROM `Offer`").Add(" WHERE `OfferID`=").Quoted(offerId_).Text();
}

std::string CTblOffer::InsertSql() const {
  CSqlText sql("INSERT INTO `Offer` VALUES (");
  sql.List().Item().Quoted(offerId_).Item().Quoted(symbol_).Item().Quoted(symbolType_);
  sql.Item().Number(bid_).Item().Number(ask_).Item().Number(high_).Item().Number(low_);
  sql.Item().Number(pipCost_).Item().QuotedTime(time_).Item().Number(pointSize_);
  sql.Item().Quoted(reserve_).Item().QuotedNow().Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblOffer::UpdateSql() const {
  CSqlText sql("UPDATE `Offer` SET ");
  sql.List().Column("Symbol").Quoted(symbol_).Column("SymbolType").Quoted(symbolType_);
  sql.Column("Bid").Number(bid_).Column("Ask").Number(ask_);
  sql.Column("High").Number(high_).Column("Low").Number(low_);
  sql.Column("PipCost").Number(pipCost_).Column("Time").QuotedTime(time_);
  sql.Column("PointSize").Number(pointSize_).Column("Reserve").Quoted(reserve_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  return sql.Add(" WHERE `OfferID`=").Quoted(offerId_).Text();
}
