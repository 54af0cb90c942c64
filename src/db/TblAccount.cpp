#include "db/TblAccount.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/Json.h"

CTblAccount::CTblAccount(const MywRow& row)
    : accountId_(ReadText(row, "AccountID")),
      accountName_(ReadText(row, "AccountName")),
      accountType_(ReadText(row, "AccountType")),
      balance_(ReadNumber(row, "Balance")),
      equity_(ReadNumber(row, "Equity")),
      dayPl_(ReadNumber(row, "DayPL")),
      grossPl_(ReadNumber(row, "GrossPL")),
      usedMargin_(ReadNumber(row, "UsedMargin")),
      usableMargin_(ReadNumber(row, "UsableMargin")),
      usableMarginInPercentage_(ReadInteger(row, "UsableMarginInPercentage")),
      usableMaintMarginInPercentage_(ReadInteger(row, "UsableMaintMarginInPercentage")),
      marginRate_(ReadNumber(row, "MarginRate")),
      hedging_(ReadText(row, "Hedging")),
      currency_(ReadText(row, "Currency")),
      broker_(ReadText(row, "Broker")),
      reserve_(ReadText(row, "Reserve")) {}

std::string CTblAccount::AccountTypeName(const std::string& code) {
  if (code == "32") return "Trading account";
  if (code == "36") return "Managed account";
  if (code == "38") return "Controlled account";
  return code;
}

std::string CTblAccount::ToJson() const {
  return CJsonText()
      .Text("AccountID", accountId_)
      .Number("Balance", balance_)
      .Number("Equity", equity_)
      .Number("DayPL", dayPl_)
      .Number("UsedMargin", usedMargin_)
      .Number("UsableMargin", usableMargin_)
      .Number("GrossPL", grossPl_)
      .Text("Hedging", hedging_)
      .Close();
}

std::string CTblAccount::ToText() const {
  return CTextDump("\n>>>> [Account] <<<<")
      .Text("AccountID", accountId_)
      .Text("AccountName", accountName_)
      .Number("Balance", balance_)
      .Number("GrossPL", grossPl_)
      .Number("UsedMargin", usedMargin_)
      .Number("UsableMargin", usableMargin_)
      .Number("MarginRate", marginRate_)
      .Text("Hedging", hedging_)
      .Text("Currency", currency_)
      .Close();
}

std::string CTblAccount::ToMarkup() const {
  return CMarkupText("account")
      .Text("AccountID", accountId_)
      .Number("Balance", balance_)
      .Number("DayPL", dayPl_)
      .Number("UsedMargin", usedMargin_)
      .Number("GrossPL", grossPl_)
      .Close();
}

std::string CTblAccount::SelectSql() const {
  return CSqlText("SELECT * FROM `Account` WHERE `AccountID` =").Quoted(accountId_).Text();
}

std::string CTblAccount::InsertSql() const {
  CSqlText sql("INSERT INTO `Account` VALUES (");
  sql.List().Item().Quoted(accountId_).Item().Quoted(accountName_).Item().Quoted(accountType_);
  sql.Item().Number(balance_).Item().Number(equity_).Item().Number(dayPl_);
  sql.Item().Number(grossPl_).Item().Number(usedMargin_).Item().Number(usableMargin_);
  sql.Item().Integer(usableMarginInPercentage_).Item().Integer(usableMaintMarginInPercentage_);
  sql.Item().Number(marginRate_).Item().Quoted(hedging_).Item().Quoted(currency_);
  sql.Item().Quoted(broker_).Item().Quoted(reserve_);
  sql.Item().QuotedNow().Item().Quoted(updateUser_).Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblAccount::UpdateSql() const {
  CSqlText sql("UPDATE `Account` SET ");
  sql.List().Column("AccountName").Quoted(accountName_).Column("AccountType").Quoted(accountType_);
  sql.Column("Balance").Number(balance_).Column("Equity").Number(equity_);
  sql.Column("DayPL").Number(dayPl_).Column("GrossPL").Number(grossPl_);
  sql.Column("UsedMargin").Number(usedMargin_).Column("UsableMargin").Number(usableMargin_);
  sql.Column("UsableMarginInPercentage").Integer(usableMarginInPercentage_);
  sql.Column("UsableMaintMarginInPercentage").Integer(usableMaintMarginInPercentage_);
  sql.Column("MarginRate").Number(marginRate_).Column("Hedging").Quoted(hedging_);
  sql.Column("Currency").Quoted(currency_).Column("Broker").Quoted(broker_);
  sql.Column("Reserve").Quoted(reserve_);
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  return sql.Add(" WHERE `AccountID`=").Quoted(accountId_).Text();
}

std::string CTblAccount::DeleteSql() const {
  return CSqlText("DELETE FROM `Account` WHERE `AccountID`=").Quoted(accountId_).Text();
}
