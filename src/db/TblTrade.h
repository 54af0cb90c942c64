// CTblTrade: one position of the `Trade` table, open or closed, with the
// five trading-method columns of the strategy context that a joined query
// delivers in the same row.
#ifndef ZELVORA_DB_TBLTRADE_H_
#define ZELVORA_DB_TBLTRADE_H_

#include <cstdint>
#include <set>
#include <string>

#include "db/TblBase.h"

class CTblTrade : public CTblBase {
 public:
  // Reads the columns by name; a missing one gives "" or 0, a time the
  // parser refuses (an empty one among them) -1.
  explicit CTblTrade(const MywRow& row);

  // "B" Buy, "S" Sell, anything else "".

  // CloseTime when it is not 0, else OpenTime.
  int64_t RecordTime() const override;
  std::string ToText() const override;
  std::string ToMarkup() const override;
  std::string ToJson() const override;

  // "Closed Trade" when CloseTime is not 0, else "Trade".
  std::string Title() const;
  // Symbol, side, local open and close times, rates and profit on one line.
  std::string Summary() const;

  // Statements; "" when a value is refused (db/SqlText.h). Times are local
  // time text.
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;
  // Assignments only for the named columns among those an open position
  // changes (Amount, Close, Stop, Limit, High, Low, PL, GrossPL, CloseTime,
  // CloseOrderID, StopOrderID, LimitOrderID, MaxSumPL, MaxSumPLCount,
  // MaxSumPLTime, CurSumPL, CurSumPLCount, Reserve), in that order.
  std::string PartialUpdateSql(const std::set<std::string>& columns) const;

  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string tradeId_, accountId_, offerId_, symbol_;
  double amount_;
  std::string bs_;
  double open_, close_, stop_, limit_, high_, low_, pl_, grossPl_, commission_, interest_;
  int64_t openTime_, closeTime_;
  std::string openOrderId_, closeOrderId_, stopOrderId_, limitOrderId_;
  double maxSumPl_;
  int32_t maxSumPlCount_;
  int64_t maxSumPlTime_;
  double curSumPl_;
  int32_t curSumPlCount_;
  std::string reserve_;
  std::string tradeMethodPeriod_, tradeMethodName_, trailStopPeriod_, trailStopName_,
      trailMoveTsName_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLTRADE_H_
