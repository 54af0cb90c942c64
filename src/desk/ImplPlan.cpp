// getImplPlan: an account's plan rows from `ImplPlan`, as a bare array.
// setImplPlan: one or more plans of one account written in one transaction;
// "ok" only when it was committed.
#include "db/SqlText.h"
#include "db/TblImplPlan.h"
#include "desk/Zelvora.h"

void CDeskService::GetImplPlan(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  // The account must be the very first child (a comment counts as one).
  const CMarkupNode* first = params->children.front().get();
  if (first->name == "accountid" && ConnectDb()) {
    CSqlText sql("SELECT * FROM `ImplPlan`");
    sql.Add(" WHERE `AccountId`=").Quoted(first->text).Add(" ORDER BY `Symbol`");
    AppendJson<CTblImplPlan>(sql.Text(), answer);
  }
  answer = "[" + answer + "]";
}

void CDeskService::SetImplPlan(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  const CMarkupNode* account = params->FindNode("accountid");
  if (account == nullptr) return;
  std::vector<const CMarkupNode*> paramNodes;
  params->FindChildren("param", paramNodes);
  if (paramNodes.empty()) return;
  if (!WithinBound(paramNodes.size(), "plans", "MAX_REQUEST_IDS", maxIds_)) return;

  std::vector<std::unique_ptr<CTblImplPlan>> plans;
  for (const CMarkupNode* param : paramNodes) {
    std::unique_ptr<CTblImplPlan> plan = CTblImplPlan::FromParam(*param);
    if (!plan) continue;  // no symbol: nothing to write
    plan->SetAccountId(account->text);
    plans.push_back(std::move(plan));
  }
  if (!ConnectDb(true)) return;
  std::vector<CTblImplPlan*> records;
  for (const auto& plan : plans) records.push_back(plan.get());
  if (client_->ExecTrans(records, &CTblImplPlan::UpdateSql, true) == 0) {
    answer = "ok";
  } else {
    DropDb(true);
  }
}
