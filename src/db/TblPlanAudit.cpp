#include "db/TblPlanAudit.h"

#include "db/SqlText.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

// CONCAT('{', ..., '}') of "IPn":value for each value the update sets that
// differs, byte for byte, from the stored one: the stored values (`stored`)
// or the new ones.
void ChangedValues(const std::vector<std::string>& values, bool stored, CSqlText& sql) {
  sql.Add("CONCAT('{',CONCAT_WS(',',NULL");  // NULL: a plan write may set no value
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string column = "`IP" + IntToText(static_cast<int32_t>(i) + 1) + "`";
    sql.Add(",IF(BINARY " + column + "<=>BINARY ").Quoted(values[i]);
    sql.Add(",NULL,CONCAT('\"IP" + IntToText(static_cast<int32_t>(i) + 1) + "\":',");
    if (stored) {
      sql.Add("IFNULL(JSON_QUOTE(" + column + "),'null')))");
    } else {
      sql.Add("JSON_QUOTE(").Quoted(values[i]).Add(")))");
    }
  }
  sql.Add("),'}')");
}

}  // namespace

CTblPlanAudit::CTblPlanAudit(const MywRow& row)
    : auditId_(ReadInteger(row, "AuditID")),
      changedAt_(ReadTime(row, "ChangedAt", 0)),
      changedBy_(ReadText(row, "ChangedBy")),
      accountId_(ReadText(row, "AccountID")),
      symbol_(ReadText(row, "Symbol")),
      oldValues_(ReadText(row, "OldValues")),
      newValues_(ReadText(row, "NewValues")) {}

std::string CTblPlanAudit::RecordSql(const CTblImplPlan& plan, const std::string& user) {
  CSqlText sql(
      "INSERT INTO `ImplPlanAudit` (`ChangedAt`,`ChangedBy`,`AccountID`,`Symbol`,`OldValues`,"
      "`NewValues`) SELECT ");
  // The server's clock, in UTC: one clock for every worker and host, and
  // no hour that the clocks going back show twice.
  sql.Add("UTC_TIMESTAMP(),").Quoted(user).Add(",`AccountID`,`Symbol`,");
  ChangedValues(plan.Values(), true, sql);
  sql.Add(",");
  ChangedValues(plan.Values(), false, sql);
  sql.Add(" FROM `ImplPlan`");
  plan.KeyCondition(sql);
  return sql.Add(" FOR UPDATE").Text();
}

std::string CTblPlanAudit::HistorySql(const std::string& account, const std::string* symbol,
                                      int32_t limit) {
  CSqlText sql("SELECT * FROM `ImplPlanAudit` WHERE `AccountID`=");
  sql.Quoted(account);
  if (symbol != nullptr) sql.Add(" AND `Symbol`=").Quoted(*symbol);
  return sql.Add(" ORDER BY `AuditID` DESC LIMIT ").Integer(limit).Text();
}

std::string CTblPlanAudit::ToJson() const {
  CJsonText json;
  json.Integer("AuditID", auditId_).Time("ChangedAt", changedAt_).Text("ChangedBy", changedBy_);
  json.Text("AccountID", accountId_).Text("Symbol", symbol_);
  return json.Object("Old", oldValues_).Object("New", newValues_).Close();
}
