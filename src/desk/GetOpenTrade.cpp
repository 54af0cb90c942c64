// getOpenTrade: an account's open trades from its board, or from `Trade`
// when the board cannot be read and the database may stand in.
// getOpenTradeA: the same, plus the trades' strategy context ("data2"),
// which always comes from the database.
#include "db/SqlText.h"
#include "db/TblTrade.h"
#include "db/TblTsContext.h"
#include "desk/DeskService.h"
#include "desk/Params.h"
#include "shm/Board.h"

namespace {

// The account id of params, which must be its first child; null otherwise.
const CMarkupNode* FirstAccountId(const CMarkupNode* params) {
  if (params == nullptr || params->children.empty()) return nullptr;
  const CMarkupNode* first = params->children.front().get();
  return first->name == "accountid" ? first : nullptr;
}

std::string OpenTradeSql(const CMarkupNode* params, const std::string& id) {
  CSqlText sql("SELECT * FROM `Trade`");
  sql.Add(" WHERE `AccountId`=").Quoted(id).Add(" AND `CloseOrderID`=''");
  AddQuotedBound(*params, "startdate", " AND `OpenTime`>=", sql);
  AddQuotedBound(*params, "enddate", " AND `CloseTime`<=", sql);
  return sql.Add(" ORDER BY `TradeID`").Text();
}

std::string StrategySql(const std::string& id) {
  return CSqlText("SELECT Ts.*")
      .Add("   FROM `Trade` T, `TsContext` Ts")
      .Add("  WHERE T.AccountId=Ts.AccountId")
      .Add("    AND T.TradeID=Ts.TradeID")
      .Add("    AND T.AccountId=")
      .Quoted(id)
      .Add("    AND T.CloseOrderID=''")
      .Add("    AND Ts.AccountId=")
      .Quoted(id)
      .Add("    AND Ts.TradeMethodName!=''")
      .Text();
}

}  // namespace

void CDeskService::ReadOpenTrades(const CMarkupNode* params, const char*& status,
                                  std::string& trades) {
  status = "1";
  const CMarkupNode* account = FirstAccountId(params);
  // An account the caller may not read has no trades to them.
  if (account == nullptr || !MayRead(account->text)) return;
  if (ReadBoard(BoardKey(kTradeBoard, account->text), kTradeBoard.size, trades,
                kTradeBoard.indexSize) != -1) {
    status = "0";
    return;
  }
  trades.clear();
  if (shmSelDb_ && ConnectDb()) AppendJson<CTblTrade>(OpenTradeSql(params, account->text), trades);
  status = trades.empty() ? "1" : "0";
}

void CDeskService::GetOpenTrade(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  const char* status;
  std::string trades;
  ReadOpenTrades(params, status, trades);
  answer = Envelope(status, "[" + trades + "]");
}

void CDeskService::GetOpenTradeA(const CMarkupNode* params, std::string& answer) {
  const CMarkupNode* account = FirstAccountId(params);
  if (account == nullptr) return;
  const char* status;
  std::string trades, contexts;
  ReadOpenTrades(params, status, trades);
  if ((rules_ == nullptr || rules_->MayRead(user_, account->text)) && ConnectDb())
    AppendJson<CTblTsContext>(StrategySql(account->text), contexts);
  answer = Envelope(status, "[" + trades + "]", contexts.empty() ? "" : "[" + contexts + "]");
}
