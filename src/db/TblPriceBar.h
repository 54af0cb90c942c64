// CTblPriceBar: one price bar (candle) of one symbol at one period, from
// the `PriceBar` table. Its time is UTC both in rows and in statements.
#ifndef ZELVORA_DB_TBLPRICEBAR_H_
#define ZELVORA_DB_TBLPRICEBAR_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"

class CTblPriceBar : public CTblBase {
 public:
  // Reads the columns by name; StartDate as UTC.
  explicit CTblPriceBar(const MywRow& row);

  std::string ToJson() const override;

  // Statements; "" when a value is refused (db/SqlText.h).
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string symbol_, period_;
  int64_t startDate_;
  double askOpen_, askHigh_, askLow_, askClose_, bidOpen_, bidHigh_, bidLow_, bidClose_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLPRICEBAR_H_
