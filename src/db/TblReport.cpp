#include "db/TblReport.h"

#include <cstdlib>
#include <stdexcept>

#include "util/Json.h"
#include "util/StringUtil.h"

const char kReportSymbol[] = "Symbol";
const char kReportTradeMethodName[] = "TradeMethodName";
const char kReportYear[] = "_year";
const char kReportMonth[] = "_month";
const char kReportWeek[] = "_week";

namespace {

uint32_t ReadCounts(const MywRow& row) {
  try {
    return ReadCount(row, "Counts");
  } catch (const std::logic_error&) {
    return 0;
  }
}

}  // namespace

CTblReport::CTblReport(const MywRow& row)
    : symbol_(ReadText(row, kReportSymbol)),
      tradeMethodName_(ReadText(row, kReportTradeMethodName)),
      year_(ReadInteger(row, kReportYear)),
      month_(ReadInteger(row, kReportMonth)),
      week_(ReadInteger(row, kReportWeek)),
      pl_(ReadNumber(row, "PL")),
      grossPl_(ReadNumber(row, "GrossPL")),
      counts_(ReadCounts(row)) {}

std::string CTblReport::ToJson(const std::vector<std::string>& columns) const {
  CJsonText json;
  size_t next = 0;
  for (; next < columns.size() && !columns[next].empty(); ++next) {
    const std::string& name = columns[next];
    if (name == kReportSymbol || name == kReportTradeMethodName) {
      json.Text(name.c_str(), name == kReportSymbol ? symbol_ : tradeMethodName_);
    } else if (name == kReportYear || name == kReportMonth || name == kReportWeek) {
      json.Integer(name.c_str(), name == kReportYear    ? year_
                                 : name == kReportMonth ? month_
                                                        : week_);
    }
  }
  json.Number("PL", pl_)
      .Number("GrossPL", grossPl_)
      .Integer("Counts", static_cast<int32_t>(counts_));
  for (++next; next < columns.size(); ++next) json.Text(columns[next].c_str(), "");
  return json.Close();
}
