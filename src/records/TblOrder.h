// CTblOrder: one order of the `Order` table: opening or closing a position,
// an entry order, or a stop, limit or margin-call order.
// Only the desk's other programs use it; zelvora.cgi does not link it.
#ifndef ZELVORA_RECORDS_TBLORDER_H_
#define ZELVORA_RECORDS_TBLORDER_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"

class CTblOrder : public CTblBase {
 public:
  // Reads the columns by name; Time as local time.
  explicit CTblOrder(const MywRow& row);

  // Display names of the codes ("" or the code itself when unknown, as each says).
  static std::string StageName(const std::string& stage);     // or the code
  static std::string OrderTypeName(const std::string& type);  // or the code
  static std::string RateKindName(int32_t kind);              // stop and limit kinds; ""

  int64_t RecordTime() const override { return time_; }
  std::string ToText() const override;

  // "Order " + the local time text + the text dump.
  std::string NoticeText() const;

  // Statements; "" when a value is refused (db/SqlText.h).
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  void SetRateKinds(int32_t stopKind, int32_t limitKind) {
    stopKind_ = stopKind;
    limitKind_ = limitKind;
  }
  int32_t StopKind() const { return stopKind_; }
  int32_t LimitKind() const { return limitKind_; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string orderId_, requestId_, accountId_, offerId_, symbol_, tradeId_;
  std::string bs_, stage_, orderType_, orderStatus_;
  double amount_, rate_, stop_, limit_;
  int64_t time_;
  std::string reserve_;
  int32_t stopKind_ = 0;  // no row fills these two
  int32_t limitKind_ = 0;
  std::string updateUser_;
};

#endif  // ZELVORA_RECORDS_TBLORDER_H_
