// CTblReport: one row of a grouped profit report (no table of its own):
// the totals of an account's trades for one combination of grouping values.
#ifndef ZELVORA_DB_TBLREPORT_H_
#define ZELVORA_DB_TBLREPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "db/TblBase.h"

// The grouping column names, shared with the report's statements.
extern const char kReportSymbol[];           // "Symbol"
extern const char kReportTradeMethodName[];  // "TradeMethodName"
extern const char kReportYear[];             // "_year"
extern const char kReportMonth[];            // "_month"
extern const char kReportWeek[];             // "_week"

class CTblReport : public CTblBase {
 public:
  // Reads the grouping columns, PL, GrossPL and Counts. Counts takes the
  // strict unsigned conversion; a cell it refuses reads as 0 (the report
  // query, built on count(), never yields one).
  explicit CTblReport(const MywRow& row);

  // The JSON object for the report's column list: the columns before the
  // first empty name with this row's values, then PL, GrossPL and Counts,
  // then the columns after the empty name with empty text.
  std::string ToJson(const std::vector<std::string>& columns) const;

 private:
  std::string symbol_, tradeMethodName_;
  int32_t year_, month_, week_;
  double pl_, grossPl_;
  uint32_t counts_;
};

#endif  // ZELVORA_DB_TBLREPORT_H_
