#include "records/TblOrder.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/TimeText.h"

namespace {

struct CodeName {
  const char* code;
  const char* name;
};

const CodeName kStages[] = {{"O", "Open the position"}, {"C", "Close the position"}};
const CodeName kOrderTypes[] = {{"S", "Stop"},         {"L", "Limit"}, {"SE", "Entry Stop"},
                                {"LE", "Entry Limit"}, {"C", "Close"}, {"O", "Open"},
                                {"M", "Margin Call"}};
const char* const kRateKinds[] = {"Not specified", "The absolute rate",
                                  "A distance in pips to the open price",
                                  "A distance in pips to the close price"};

template <size_t N>
std::string NameOrCode(const CodeName (&table)[N], const std::string& code) {
  for (const CodeName& entry : table) {
    if (code == entry.code) return entry.name;
  }
  return code;
}

}  // namespace

CTblOrder::CTblOrder(const MywRow& row)
    : orderId_(ReadText(row, "OrderID")),
      requestId_(ReadText(row, "RequestID")),
      accountId_(ReadText(row, "AccountID")),
      offerId_(ReadText(row, "OfferID")),
      symbol_(ReadText(row, "Symbol")),
      tradeId_(ReadText(row, "TradeID")),
      bs_(ReadText(row, "BS")),
      stage_(ReadText(row, "Stage")),
      orderType_(ReadText(row, "OrderType")),
      orderStatus_(ReadText(row, "OrderStatus")),
      amount_(ReadNumber(row, "Amount")),
      rate_(ReadNumber(row, "Rate")),
      stop_(ReadNumber(row, "Stop")),
      limit_(ReadNumber(row, "Limit")),
      time_(ReadTime(row, "Time")),
      reserve_(ReadText(row, "Reserve")) {}

std::string CTblOrder::StageName(const std::string& stage) { return NameOrCode(kStages, stage); }

std::string CTblOrder::OrderTypeName(const std::string& type) {
  return NameOrCode(kOrderTypes, type);
}

std::string CTblOrder::RateKindName(int32_t kind) {
  if (kind < 0 || kind > 3) return std::string();
  return kRateKinds[kind];
}

std::string CTblOrder::ToText() const {
  return CTextDump("\n>>>> [Order] <<<<")
      .Text("OrderID", orderId_)
      .Text("RequestID", requestId_)
      .Text("AccountID", accountId_)
      .Text("OfferID", offerId_)
      .Text("Symbol", symbol_)
      .Text("TradeID", tradeId_)
      .Text("BS", bs_ + "(" + SideName(bs_) + ")")
      .Text("Stage", stage_ + "(" + StageName(stage_) + ")")
      .Text("OrderType", orderType_ + "(" + OrderTypeName(orderType_) + ")")
      .Text("OrderStatus", orderStatus_)
      .Number("Amount", amount_)
      .Number("Rate", rate_)
      .Number("Stop", stop_)
      .Number("Limit", limit_)
      .Time("Time", time_)
      .Close();
}

std::string CTblOrder::NoticeText() const { return "Order " + TimeText(time_) + ToText(); }

void CTblOrder::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `OrderID`=").Quoted(orderId_).Add(" AND `AccountID`=").Quoted(accountId_);
}

std::string CTblOrder::SelectSql() const { return KeyedSql("SELECT * FROM `Order`", *this); }

std::string CTblOrder::DeleteSql() const { return KeyedSql("DELETE FROM `Order`", *this); }

std::string CTblOrder::InsertSql() const {
  CSqlText sql("INSERT INTO `Order` VALUES (");
  sql.List();
  for (const std::string* text : {&orderId_, &requestId_, &accountId_, &offerId_, &symbol_,
                                  &tradeId_, &bs_, &stage_, &orderType_, &orderStatus_}) {
    sql.Item().Quoted(*text);
  }
  sql.Item().Number(amount_).Item().Number(rate_).Item().Number(stop_).Item().Number(limit_);
  sql.Item().QuotedTime(time_).Item().Quoted(reserve_);
  sql.Item().QuotedNow().Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblOrder::UpdateSql() const {
  CSqlText sql("UPDATE `Order` SET ");
  // Every column from RequestID on, the AccountID of the key among them.
  sql.List().Column("RequestID").Quoted(requestId_).Column("AccountID").Quoted(accountId_);
  sql.Column("OfferID").Quoted(offerId_);
  sql.Column("Symbol").Quoted(symbol_).Column("TradeID").Quoted(tradeId_);
  sql.Column("BS").Quoted(bs_).Column("Stage").Quoted(stage_);
  sql.Column("OrderType").Quoted(orderType_).Column("OrderStatus").Quoted(orderStatus_);
  sql.Column("Amount").Number(amount_).Column("Rate").Number(rate_);
  sql.Column("Stop").Number(stop_).Column("Limit").Number(limit_);
  sql.Column("Time").QuotedTime(time_).Column("Reserve").Quoted(reserve_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
