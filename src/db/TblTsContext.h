// CTblTsContext: the trading-system context of one order or trade, from
// the `TsContext` table: its class, forty numeric context values, a note, a
// status and the five trading-method texts.
#ifndef ZELVORA_DB_TBLTSCONTEXT_H_
#define ZELVORA_DB_TBLTSCONTEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/TblBase.h"

class CTblTsContext : public CTblBase {
 public:
  static constexpr int kValues = 40;

  // Reads the columns by name; C1 to C40 always give forty values (a
  // missing column 0).
  explicit CTblTsContext(const MywRow& row);

  std::string ToText() const override;
  std::string ToJson() const override;

  // Statements; "" when a value is refused (db/SqlText.h).
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  const std::vector<double>& Values() const { return values_; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string orderId_, tradeId_, accountId_, class_;
  int32_t titleSeq_;
  std::vector<double> values_;
  std::string note_;
  int32_t statusKbn_;
  std::string tradeMethodPeriod_, tradeMethodName_, trailStopPeriod_, trailStopName_,
      trailMoveTsName_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLTSCONTEXT_H_
