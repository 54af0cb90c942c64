// CTblPlanAudit: one row of `ImplPlanAudit`, the record of one plan write:
// when, by whom, which account and symbol, and the plan values it changed,
// before and after, as JSON objects ({"IP1":"0.5"}, null for no value).
#ifndef ZELVORA_DB_TBLPLANAUDIT_H_
#define ZELVORA_DB_TBLPLANAUDIT_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"
#include "db/TblImplPlan.h"

class CTblPlanAudit : public CTblBase {
 public:
  explicit CTblPlanAudit(const MywRow& row);

  // The statement that records the write of `plan` by `user`, to be run in
  // the write's transaction just before the plan's update: it reads the
  // plan as it stands (locking its row) and inserts one row, or none when
  // the account has no plan for the symbol. "" when a value is refused.
  static std::string RecordSql(const CTblImplPlan& plan, const std::string& user);

  // The newest `limit` rows of `account`, of `symbol` only when that is not
  // null, newest first.
  static std::string HistorySql(const std::string& account, const std::string* symbol,
                                int32_t limit);

  // {"AuditID":7,"ChangedAt":"2026/12/07 03:00:00","ChangedBy":"alice",
  // "AccountID":"1001","Symbol":"EURUSD","Old":{...},"New":{...}}; a stored
  // Old or New that is not one JSON object is written null.
  std::string ToJson() const override;

 private:
  int32_t auditId_;
  int64_t changedAt_;
  std::string changedBy_;
  std::string accountId_;
  std::string symbol_;
  std::string oldValues_;
  std::string newValues_;
};

#endif  // ZELVORA_DB_TBLPLANAUDIT_H_
