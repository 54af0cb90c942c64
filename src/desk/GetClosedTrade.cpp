// getClosedTrade: an account's closed trades from `Trade`, as a bare array.
#include "db/SqlText.h"
#include "db/TblTrade.h"
#include "desk/DeskService.h"
#include "desk/Params.h"

void CDeskService::GetClosedTrade(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  const CMarkupNode* account = params->FindNode("accountid");
  if (account != nullptr && MayRead(account->text) && ConnectDb()) {
    CSqlText sql("SELECT * FROM `Trade`");
    sql.Add(" WHERE `AccountId`=").Quoted(account->text).Add(" AND `CloseOrderID`!=''");
    // The start bounds the opening time, the end the closing time.
    AddQuotedBound(*params, "startdate", " AND `OpenTime`>=", sql);
    AddQuotedBound(*params, "enddate", " AND `CloseTime`<=", sql);
    AppendJson<CTblTrade>(sql.Add(" ORDER BY `TradeID`").Text(), answer);
  }
  answer = "[" + answer + "]";
}
