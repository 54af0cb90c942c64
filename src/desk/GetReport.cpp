// getReport: an account's results from `Trade`: grouped totals (type "1"),
// the trades themselves (type "2"), or only the count checks (any other
// type). Every report is counted first: "msg_no_data" when nothing matches,
// "msg_counts_over" when more than the limit would come back; a report within
// that limit but over MAX_ANSWER_RECORDS is refused.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "db/SqlText.h"
#include "db/TblReport.h"
#include "db/TblTrade.h"
#include "desk/DeskService.h"
#include "desk/Params.h"

namespace {

const uint32_t kDefaultMaxCounts = 200;

struct GroupingCode {
  const char* code;
  const char* groupBy;
  const char* selectItem;
  const char* column;
  const char* filler;  // the column's place when the code is not used
};

// The fillers differ in their blanks: only the year's has one before its name.
const GroupingCode kGroupingCodes[] = {
    {"1", "t.Symbol", "t.Symbol,", kReportSymbol, ",'' Symbol"},
    {"2", "ts.TradeMethodName", "ts.TradeMethodName,", kReportTradeMethodName,
     ",'' TradeMethodName"},
    {"3", "year(t.OpenTime)", "year(t.OpenTime) _year,", kReportYear, ",'-1' _year"},
    {"4", "month(t.OpenTime)", "month(t.OpenTime) _month,", kReportMonth, ",'-1'_month"},
    {"5", "week(t.OpenTime)", "week(t.OpenTime) _week,", kReportWeek, ",'-1'_week"},
};

const GroupingCode* FindCode(const std::string& text) {
  for (const GroupingCode& code : kGroupingCodes) {
    if (text == code.code) return &code;
  }
  return nullptr;
}

// The codes of the "grouping" children in document order, each once: a
// repeated code would name its column twice in every row of the answer.
std::vector<const GroupingCode*> GroupingCodes(const CMarkupNode& params) {
  std::vector<const GroupingCode*> codes;
  if (const CMarkupNode* grouping = params.FindNode("grouping")) {
    for (const auto& child : grouping->children) {
      const GroupingCode* code = FindCode(child->text);
      if (code != nullptr && std::find(codes.begin(), codes.end(), code) == codes.end()) {
        codes.push_back(code);
      }
    }
  }
  return codes;
}

// The parts of both of a report's statements.
struct ReportSql {
  CSqlText where;
  CSqlText join;
  std::string groupBy;
  std::vector<const GroupingCode*> codes;  // type "1" only
};

CSqlText Condition(const CMarkupNode& params, const std::string& account, bool* needsJoin) {
  CSqlText where(" where");
  where.Add(" t.AccountId=").Quoted(account);
  AddQuotedBound(params, "symbol", " and t.Symbol=", where);
  if (const CMarkupNode* method = FindPresent(params, "method")) {
    where.Add(" and ts.TradeMethodName=").Quoted(method->text);
    *needsJoin = true;
  }
  AddQuotedBound(params, "startdate", " and t.OpenTime>=", where);
  AddQuotedBound(params, "enddate", " and t.OpenTime<=", where);
  // The profit bounds stand unquoted: they must be plain numbers.
  if (const CMarkupNode* from = FindPresent(params, "frompl")) {
    where.Add(" and t.PL>=").UnquotedNumber(from->text);
  }
  if (const CMarkupNode* to = FindPresent(params, "topl")) {
    where.Add(" and t.PL<=").UnquotedNumber(to->text);
  }
  return where;
}

ReportSql BuildReportSql(const CMarkupNode& params, const std::string& type,
                         const std::string& account) {
  ReportSql sql;
  bool needsJoin = false;
  sql.where = Condition(params, account, &needsJoin);
  if (type == "1") {
    sql.codes = GroupingCodes(params);
    for (const GroupingCode* code : sql.codes) {
      sql.groupBy += (sql.groupBy.empty() ? " group by " : ",") + std::string(code->groupBy);
      if (std::string(code->code) == "2") needsJoin = true;
    }
  }
  if (needsJoin || type == "2") {
    sql.join.Add(
        " left outer join (select OrderID, TradeMethodPeriod, TradeMethodName, "
        "TrailStopPeriod, TrailStopName, TrailMoveTsName from `TsContext`");
    sql.join.Add(" where `AccountId`=").Quoted(account).Add(" and `Class`='S') ts");
    sql.join.Add(" on t.OpenOrderID=ts.OrderID");
  }
  return sql;
}

// The limit: "maxcounts" read as strtol does, compared in its low 32 bits.
uint32_t MaxCounts(const CMarkupNode& params) {
  const CMarkupNode* max = FindPresent(params, "maxcounts");
  if (max == nullptr) return kDefaultMaxCounts;
  return static_cast<uint32_t>(std::strtol(max->text.c_str(), nullptr, 10));
}

}  // namespace

void CDeskService::GetReport(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  const CMarkupNode* type = params->FindNode("rpttype");
  const CMarkupNode* account = params->FindNode("accountid");
  if (type == nullptr || account == nullptr) return;
  const ReportSql sql = BuildReportSql(*params, type->text, account->text);
  // An account the caller may not read has no data to them.
  const bool readable = MayRead(account->text);
  if (!ConnectDb()) return;
  if (!readable) {
    answer = "msg_no_data";
    return;
  }

  const uint32_t count = CountReport(sql.join, sql.where, sql.groupBy, type->text == "1");
  if (count == 0) {
    answer = "msg_no_data";
  } else if (count > MaxCounts(*params)) {
    answer = "msg_counts_over";
  } else if (!WithinBound(count, "records", kMaxAnswerRecords, maxRecords_)) {
    return;  // a limit the request set above the program's bound
  } else if (type->text == "1") {
    std::vector<std::string> columns;
    CSqlText select("select ");
    for (const GroupingCode* code : sql.codes) {
      select.Add(code->selectItem);
      columns.push_back(code->column);
    }
    columns.push_back(std::string());
    std::string fillers;
    for (const GroupingCode& code : kGroupingCodes) {
      bool used = false;
      for (const GroupingCode* chosen : sql.codes) used = used || chosen == &code;
      if (used) continue;
      fillers += code.filler;
      columns.push_back(code.column);
    }
    select.Add("sum(t.PL) PL, sum(t.GrossPL) GrossPL, count(t.PL) Counts").Add(fillers);
    select.Add(" from `Trade` t").Append(sql.join).Append(sql.where).Add(sql.groupBy);
    std::vector<std::unique_ptr<CTblReport>> rows;
    client_->Select(select.Text(), rows);
    for (const auto& row : rows) {
      if (!answer.empty()) answer += ',';
      answer += row->ToJson(columns);
    }
    answer = "[" + answer + "]";
  } else if (type->text == "2") {
    CSqlText select(
        "select t.*, ts.TradeMethodPeriod, ts.TradeMethodName, ts.TrailStopPeriod, "
        "ts.TrailStopName, ts.TrailMoveTsName from `Trade` t");
    select.Append(sql.join).Append(sql.where).Add(" ORDER BY t.TradeID");
    AppendJson<CTblTrade>(select.Text(), answer);
    answer = "[" + answer + "]";
  } else {
    answer = "[]";
  }
}

uint32_t CDeskService::CountReport(const CSqlText& join, const CSqlText& where,
                                   const std::string& groupBy, bool grouped) {
  CSqlText sql("select count(1) counts from `Trade` t");
  sql.Append(join).Append(where).Add(groupBy);
  std::vector<uint32_t> counts;
  int32_t rows = 0;
  try {
    rows = client_->SelectCounts(sql.Text(), counts);
  } catch (const std::logic_error& error) {
    // count() never yields what the strict conversion refuses; should a
    // server do so anyway, the report has no count to stand on.
    std::fprintf(stderr, "Report count unreadable: %s\n", error.what());
    return 0;
  }
  if (rows < 1 || counts.empty()) return 0;
  return grouped ? static_cast<uint32_t>(rows) : counts.front();
}
