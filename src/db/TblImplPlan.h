// CTblImplPlan: an account's implementation plan for one symbol, from the
// `ImplPlan` table: up to twenty plan values (columns IP1 to IP20).
#ifndef ZELVORA_DB_TBLIMPLPLAN_H_
#define ZELVORA_DB_TBLIMPLPLAN_H_

#include <memory>
#include <string>
#include <vector>

#include "db/TblBase.h"
#include "markup/MarkupNode.h"

class CTblImplPlan : public CTblBase {
 public:
  static constexpr int kValues = 20;

  // Reads AccountID, Symbol and IP1 to IP20: always twenty values, a missing
  // column as "".
  explicit CTblImplPlan(const MywRow& row);

  // A plan from one request "param" element: Symbol from its "symbol"
  // descendant, the texts of those of ip1 to ip20 that exist (in that order,
  // absent ones skipped), the updater from "loginid". The account is empty.
  // Null when the element has no "symbol" descendant.
  static std::unique_ptr<CTblImplPlan> FromParam(const CMarkupNode& param);

  std::string ToText() const override;
  std::string ToJson() const override;

  // Statements; "" when a value is refused (db/SqlText.h). UpdateSql numbers
  // the values by their position: the first present value goes to IP1.
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string UpdateSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;

  void SetAccountId(const std::string& accountId) { accountId_ = accountId; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }
  const std::vector<std::string>& Values() const { return values_; }
  const std::string& AccountId() const { return accountId_; }
  const std::string& Symbol() const { return symbol_; }

 private:
  CTblImplPlan() = default;

  std::vector<std::string> values_;
  std::string accountId_;
  std::string symbol_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLIMPLPLAN_H_
