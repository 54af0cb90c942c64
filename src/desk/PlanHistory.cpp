// getPlanHistory: an account's plan writes from `ImplPlanAudit`, newest
// first, for a caller who may read the account.
#include <cstdlib>

#include "db/TblPlanAudit.h"
#include "desk/DeskService.h"
#include "desk/Params.h"

namespace {

// How many rows an answer gives: "limit" when it is a number from 1 to the
// ceiling (a larger one gives the ceiling), else the default.
const int32_t kHistoryDefault = 50, kHistoryCeiling = 500;

int32_t HistoryLimit(const CMarkupNode& params) {
  const CMarkupNode* limit = FindPresent(params, "limit");
  if (limit == nullptr) return kHistoryDefault;
  char* end = nullptr;
  const long long asked = std::strtoll(limit->text.c_str(), &end, 10);
  if (*end != '\0' || asked < 1) return kHistoryDefault;
  return asked > kHistoryCeiling ? kHistoryCeiling : static_cast<int32_t>(asked);
}

}  // namespace

void CDeskService::GetPlanHistory(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr) return;
  const CMarkupNode* account = params->FindNode("accountid");
  if (account == nullptr) return;
  const CMarkupNode* symbol = FindPresent(*params, "symbol");
  std::string rows;
  // An account the caller may not read has no history to them, like one
  // that does not exist.
  const bool readable = MayRead(account->text);
  const char* status = ConnectDb() ? "0" : "1";
  if (*status == '0' && readable) {
    const std::string sql = CTblPlanAudit::HistorySql(
        account->text, symbol ? &symbol->text : nullptr, HistoryLimit(*params));
    AppendJson<CTblPlanAudit>(sql, rows);
  }
  answer = Envelope(status, "[" + rows + "]");
}
