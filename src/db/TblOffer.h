// CTblOffer: one instrument's current quote, from the `Offer` table.
#ifndef ZELVORA_DB_TBLOFFER_H_
#define ZELVORA_DB_TBLOFFER_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"

class CTblOffer : public CTblBase {
 public:
  // Reads the columns by name; Time as local time.
  explicit CTblOffer(const MywRow& row);

  int64_t RecordTime() const override { return time_; }
  std::string ToText() const override;
  std::string ToMarkup() const override;
  std::string ToJson() const override;

  // Statements; "" when a value is refused (db/SqlText.h).
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  std::string offerId_, symbol_, symbolType_;
  double bid_, ask_, high_, low_, pipCost_;
  int64_t time_;
  double pointSize_;
  std::string reserve_;
  std::string updateUser_;
};

#endif  // ZELVORA_DB_TBLOFFER_H_
