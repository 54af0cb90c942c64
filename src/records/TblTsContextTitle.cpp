#include "records/TblTsContextTitle.h"

#include "db/SqlText.h"
#include "records/Md5.h"
#include "util/StringUtil.h"

namespace {

std::string TitleColumn(int number) { return "T" + IntToText(number); }

}  // namespace

CTblTsContextTitle::CTblTsContextTitle(const MywRow& row)
    : titleSeq_(ReadInteger(row, "TitleSeq")), titleMd5_(ReadText(row, "TitleMd5")) {
  for (int i = 1; i <= kTitles; ++i) titles_.push_back(ReadText(row, TitleColumn(i).c_str()));
}

void CTblTsContextTitle::SetKey(const std::string& titleText) { titleMd5_ = Md5Hex(titleText); }

std::string CTblTsContextTitle::TitleText() const {
  std::string text;
  for (size_t i = 0; i < titles_.size(); ++i) text += (i > 0 ? "\t" : "") + titles_[i];
  return text;
}

void CTblTsContextTitle::KeyCondition(CSqlText& sql) const {
  sql.Add(" WHERE `TitleMd5`=").Quoted(titleMd5_);
}

std::string CTblTsContextTitle::SelectSql() const {
  return KeyedSql("SELECT * FROM `TsContextTitle`", *this);
}

std::string CTblTsContextTitle::DeleteSql() const {
  return KeyedSql("DELETE FROM `TsContextTitle`", *this);
}

std::string CTblTsContextTitle::InsertSql() const {
  CSqlText sql("INSERT INTO `TsContextTitle` VALUES (");
  sql.List().Item().Integer(titleSeq_).Item().Quoted(titleMd5_);
  for (const std::string& title : titles_) sql.Item().Quoted(title);
  sql.Item().QuotedNow().Item().Quoted(updateUser_).Item().QuotedNow();
  return sql.Add(")").Text();
}

std::string CTblTsContextTitle::UpdateSql() const {
  CSqlText sql("UPDATE `TsContextTitle` SET ");
  sql.List().Column("TitleSeq").Integer(titleSeq_);
  for (size_t i = 0; i < titles_.size(); ++i) {
    sql.Column(TitleColumn(static_cast<int>(i) + 1).c_str()).Quoted(titles_[i]);
  }
  sql.Column("upd_user_id").Quoted(updateUser_).Column("upd_datetime").QuotedNow();
  KeyCondition(sql);
  return sql.Text();
}
