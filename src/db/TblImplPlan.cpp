#include "db/TblImplPlan.h"

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

std::string PlanName(const char* prefix, int number) { return prefix + IntToText(number); }

}  // namespace

CTblImplPlan::CTblImplPlan(const MywRow& row)
    : accountId_(ReadText(row, "AccountID")), symbol_(ReadText(row, "Symbol")) {
  for (int i = 1; i <= kValues; ++i) values_.push_back(ReadText(row, PlanName("IP", i).c_str()));
}

std::unique_ptr<CTblImplPlan> CTblImplPlan::FromParam(const CMarkupNode& param) {
  const CMarkupNode* symbol = param.FindNode("symbol");
  if (symbol == nullptr) return nullptr;
  std::unique_ptr<CTblImplPlan> plan(new CTblImplPlan());
  plan->symbol_ = symbol->text;
  for (int i = 1; i <= kValues; ++i) {
    if (const CMarkupNode* value = param.FindNode(PlanName("ip", i)))
      plan->values_.push_back(value->text);
  }
  if (const CMarkupNode* login = param.FindNode("loginid")) plan->updateUser_ = login->text;
  return plan;
}

std::string CTblImplPlan::ToJson() const {
  CJsonText json;
  json.Text("Symbol", symbol_);
  for (size_t i = 0; i < values_.size() && i < static_cast<size_t>(kValues); ++i) {
    json.Text(PlanName("IP", static_cast<int>(i) + 1).c_str(), values_[i]);
  }
  return json.Close();
}

std::string CTblImplPlan::ToText() const {
  CTextDump dump("\n[ImplPlan]");
  dump.Text("AccountId", accountId_).Text("Symbol", symbol_);
  for (size_t i = 0; i < values_.size(); ++i) {
    dump.Raw(PlanName("IP", static_cast<int>(i) + 1) + ": " + values_[i]);
  }
  return dump.Close();
}

void CTblImplPlan::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `AccountID`=").Quoted(accountId_).Add(" AND `Symbol`=").Quoted(symbol_);
}

std::string CTblImplPlan::SelectSql() const { return KeyedSql("SELECT * FROM `ImplPlan`", *this); }

std::string CTblImplPlan::DeleteSql() const { return KeyedSql("DELETE FROM `ImplPlan`", *this); }

std::string CTblImplPlan::UpdateSql() const {
  CSqlText sql("UPDATE `ImplPlan` SET ");
  sql.List();
  for (size_t i = 0; i < values_.size(); ++i) {
    sql.Column(PlanName("IP", static_cast<int>(i) + 1).c_str()).Quoted(values_[i]);
  }
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}

std::string CTblImplPlan::InsertSql() const {
  CSqlText sql("INSERT INTO `ImplPlan` VALUES (");
  sql.List().Item().Quoted(accountId_).Item().Quoted(symbol_);
  for (size_t i = 0; i < static_cast<size_t>(kValues); ++i) {
    sql.Item();
    if (i < values_.size()) {
      sql.Quoted(values_[i]);
    } else {
      sql.Add("NULL");
    }
  }
  sql.Item().QuotedNow().Item().Quoted(updateUser_).Item().QuotedNow();
  return sql.Add(")").Text();
}
