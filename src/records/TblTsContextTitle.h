// CTblTsContextTitle: one title set of the `TsContextTitle` table, naming
// the forty context values of the strategy records; keyed by the MD5
// digest of its titles.
// Only the desk's other programs use it; zelvora.cgi does not link it.
#ifndef ZELVORA_RECORDS_TBLTSCONTEXTTITLE_H_
#define ZELVORA_RECORDS_TBLTSCONTEXTTITLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/TblBase.h"

class CTblTsContextTitle : public CTblBase {
 public:
  static constexpr int kTitles = 40;

  // Reads TitleSeq, TitleMd5 and T1 to T40 (always forty; a missing one "").
  explicit CTblTsContextTitle(const MywRow& row);

  // TitleMd5 becomes the MD5 digest of `titleText`, as 32 lower-case hex digits.
  void SetKey(const std::string& titleText);
  // The forty titles joined by tabs: the text a set's key is made from.
  std::string TitleText() const;

  // Statements; "" when a value is refused (db/SqlText.h).
  // The condition that picks this record (" WHERE ..."), for KeyedSql.
  void KeyCondition(class CSqlText& sql) const;
  std::string SelectSql() const;
  std::string DeleteSql() const;
  std::string InsertSql() const;
  std::string UpdateSql() const;

  int32_t TitleSeq() const { return titleSeq_; }
  const std::string& TitleMd5() const { return titleMd5_; }
  const std::vector<std::string>& Titles() const { return titles_; }
  void SetUpdateUser(const std::string& user) { updateUser_ = user; }

 private:
  int32_t titleSeq_;
  std::string titleMd5_;
  std::vector<std::string> titles_;
  std::string updateUser_;
};

#endif  // ZELVORA_RECORDS_TBLTSCONTEXTTITLE_H_
