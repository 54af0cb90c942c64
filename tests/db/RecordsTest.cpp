// The record classes on rows built in memory (TZ=Asia/Tokyo, nine hours
// ahead of UTC): a strategy context's columns read and written back by its
// UPDATE, byte for byte, the digests, and the rule for values in SQL. The
// members and order of the JSON the methods send are held by the method
// tests' table rows.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>

#include "db/SqlText.h"
#include "db/TblTsContext.h"
#include "records/Md5.h"
#include "support/Desk.h"

namespace {

// The UPDATE of a record of `cells` ("Name=value", ";" between) made from a one-row set as the
// library hands rows over, updated by "ops".
std::string Update(const std::string& cells) {
  Lines texts;
  std::istringstream in(cells);
  for (std::string cell; std::getline(in, cell, ';');) texts.push_back(cell);
  std::vector<const char*> names, values;
  for (std::string& cell : texts) {
    const size_t equals = cell.find('=');
    cell[equals] = '\0';
    names.push_back(cell.c_str()), values.push_back(cell.c_str() + equals + 1);
  }
  const MywRecordSet set{static_cast<int32_t>(texts.size()), 1, names.data(), values.data(),
                         nullptr};
  CTblTsContext record{MywRow(set, 0)};
  record.SetUpdateUser("ops");
  return MaskNow(record.UpdateSql());
}

// The cells an UPDATE statement names, "`Name`=value" with the quotes taken off: a record made of
// them must write every one back where it belongs.
std::string CellsOf(const std::string& update) {
  std::string cells;
  const std::regex named("`(\\w+)`=(?:'([^']*)'|([^, ]+))");
  for (std::sregex_iterator at(update.begin(), update.end(), named), end; at != end; ++at)
    cells += (*at)[1].str() + "=" + (*at)[2].str() + (*at)[3].str() + ";";
  return cells;
}

// Every column of a context row read into its member and written back where it belongs: the
// forty values by their loop. (The rows' columns that answers show are held byte for byte by the
// method tests' tables; no request writes the other classes' rows.)
TEST(Records, EveryContextColumnIsReadIntoItsMemberAndWrittenBack) {
  // C1 to C40: C2 1.5, C40 -2, the rest 0
  std::string values;
  for (int i = 1; i <= 40; ++i)
    values += ",`C" + std::to_string(i) + "`=" +
              (i == 2    ? "1.500000"
               : i == 40 ? "-2.000000"
                         : "0.000000");
  const std::string update =
      "UPDATE `TsContext` SET `TitleSeq`=0" + values +
      ",`StatusKbn`=0,`TradeMethodPeriod`='',`TradeMethodName`='MA',`TrailStopPeriod`='',`"
      "TrailStopName`='',`TrailMoveTsName`='Step',`upd_user_id`='ops',`upd_datetime`='NOW'" +
      " WHERE `OrderID`='o1' AND `AccountId`='1001' AND `Class`='S'";
  EXPECT_EQ(Update(CellsOf(update) + "TradeID=7"), update);
}

// A million bytes, and 56 bytes (whose padding takes a block of its own).
TEST(Md5, MatchesKnownDigests) {
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')) + Md5Hex(std::string(56, 'a')),
            "7707d6ae4e027c70eea2a935c2296f213b0c8ac703f828b04c6c197006d17218");
}

TEST(SqlText, ValuesThatCouldEndTheirLiteralAreRefused) {
  for (const char* value : {"", " \xE3\x83\x89\"%_--/*;"}) EXPECT_TRUE(IsSqlValue(value)) << value;
  for (const std::string& value :
       {std::string("1' OR '1'='1"), std::string("abc\\"), std::string("a\0b", 3),
        std::string("\x1f"), std::string("\x7f")})
    EXPECT_FALSE(IsSqlValue(value)) << ::testing::PrintToString(value);
  for (const char* number : {"-1", "+2", ".5", "5."}) EXPECT_TRUE(IsSqlNumber(number)) << number;
  for (const char* text : {"", "-", ".", "1.2.3", "1 OR 1=1", "--1"})
    EXPECT_FALSE(IsSqlNumber(text)) << "[" << text << "]";
  // A statement holding a refused value comes to nothing: the statement tests' rows that send
  // none hold that; the record rows hold how columns are written.
}

}  // namespace
