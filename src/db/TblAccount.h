// CTblAccount: one trading account of the `Account` table.
#ifndef ZELVORA_DB_TBLACCOUNT_H_
#define ZELVORA_DB_TBLACCOUNT_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"

class CTblAccount : public CTblBase {
 public:
  // Reads the columns by name; a missing one gives "" or 0.
  explicit CTblAccount(const MywRow& row);

  // The first word of the account boards' keys.

  // "32" Trading account, "36" Managed account, "38" Controlled account;
  // any other code is returned as it is.
  static std::string AccountTypeName(const std::string& code);

  std::string ToText() const override;
  std::string ToMarkup() const override;
  std::string ToJson() const override;

  // Statements for this record; "" when a value is refused (db/SqlText.h).
  std::string SelectSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;
  std::string DeleteSql() const;

  const std::string& AccountId() const { return accountId_; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string accountId_;
  std::string accountName_;
  std::string accountType_;
  double balance_;
  double equity_;
  double dayPl_;
  double grossPl_;
  double usedMargin_;
  double usableMargin_;
  int32_t usableMarginInPercentage_;
  int32_t usableMaintMarginInPercentage_;
  double marginRate_;
  std::string hedging_;
  std::string currency_;
  std::string broker_;
  std::string reserve_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLACCOUNT_H_
