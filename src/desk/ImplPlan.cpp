// getImplPlan: an account's plan rows from `ImplPlan`, as a bare array.
// setImplPlan: one or more plans of one account written in one transaction;
// "ok" only when it was committed and every plan it names exists. Under
// access rules only a caller who may trade the account writes, from the
// desk's page, as the updater, and each plan written leaves an audit row in
// the same transaction.
#include <algorithm>
#include <cstdio>

#include "db/SqlText.h"
#include "db/TblImplPlan.h"
#include "db/TblPlanAudit.h"
#include "desk/DeskService.h"
#include "util/StringUtil.h"

void CDeskService::GetImplPlan(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  // The account must be the very first child (a comment counts as one).
  const CMarkupNode* first = params->children.front().get();
  if (first->name == "accountid" && MayRead(first->text) && ConnectDb()) {
    CSqlText sql("SELECT * FROM `ImplPlan`");
    sql.Add(" WHERE `AccountId`=").Quoted(first->text).Add(" ORDER BY `Symbol`");
    AppendJson<CTblImplPlan>(sql.Text(), answer);
  }
  answer = "[" + answer + "]";
}

namespace {

// The width of the plan value columns, in characters.
const size_t kPlanValueChars = 64;

// The characters of UTF-8 `text`: its bytes that continue none.
size_t Characters(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// True when every value of `plan` fits its column. A server that is not
// strict would cut a longer one, and the audit would record a value the
// plan does not hold; otherwise false, with the reason on standard error.
bool FitsColumns(const CTblImplPlan& plan) {
  for (size_t i = 0; i < plan.Values().size(); ++i) {
    if (Characters(plan.Values()[i]) <= kPlanValueChars) continue;
    std::fprintf(
        stderr,
        "setImplPlan: value %zu of symbol %s is longer than %zu characters: nothing written\n",
        i + 1, Printable(plan.Symbol()).c_str(), kPlanValueChars);
    return false;
  }
  return true;
}

}  // namespace

void CDeskService::SetImplPlan(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  const CMarkupNode* account = params->FindNode("accountid");
  if (account == nullptr || !MayTrade(account->text) || !FromDeskPage()) return;
  std::vector<const CMarkupNode*> paramNodes;
  params->FindChildren("param", paramNodes);
  if (paramNodes.empty()) return;
  if (!WithinBound(paramNodes.size(), "plans", kMaxRequestIds, maxIds_)) return;

  std::vector<std::unique_ptr<CTblImplPlan>> plans;
  for (const CMarkupNode* param : paramNodes) {
    std::unique_ptr<CTblImplPlan> plan = CTblImplPlan::FromParam(*param);
    if (!plan) continue;  // no symbol: nothing to write
    if (rules_ != nullptr && !FitsColumns(*plan)) return;
    plan->SetAccountId(account->text);
    if (rules_ != nullptr) plan->SetUpdateUser(user_);  // who the web server says calls
    plans.push_back(std::move(plan));
  }
  if (!ConnectDb(true)) return;
  std::vector<std::string> statements;
  for (const auto& plan : plans) {
    if (rules_ != nullptr) statements.push_back(CTblPlanAudit::RecordSql(*plan, user_));
    statements.push_back(plan->UpdateSql());
  }
  // A plan deleted meanwhile is not saved: the whole write is refused, and
  // says which plan was missing.
  int32_t unmatched = 0;
  if (client_->ExecTransMatched(statements, unmatched) == 0) {
    answer = "ok";
    return;
  }
  if (unmatched > 0) {
    const size_t perPlan = rules_ != nullptr ? 2 : 1;
    const CTblImplPlan& missing = *plans[static_cast<size_t>(unmatched - 1) / perPlan];
    std::fprintf(stderr, "setImplPlan: no plan for account %s symbol %s: nothing written\n",
                 Printable(missing.AccountId()).c_str(), Printable(missing.Symbol()).c_str());
  }
  DropDb(true);
}
