// The record classes that read the database's rows, on rows built in memory
// (TZ=Asia/Tokyo, nine hours ahead of UTC): every column read into its
// member and written back by the UPDATE, byte for byte, and the rule for
// values in SQL. The members and order of the JSON the methods send are held
// by the method tests' table rows.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>

#include "db/SqlText.h"
#include "db/TblAccount.h"
#include "db/TblOffer.h"
#include "db/TblTrade.h"
#include "db/TblTsContext.h"
#include "records/Md5.h"
#include "support/Desk.h"

namespace {

// The UPDATE of a record of `cells` ("Name=value", ";" between) made from a one-row set as the
// library hands rows over, updated by "ops".
template <typename T>
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
  T record{MywRow(set, 0)};
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

// The strategy context's C1 to C40 as its UPDATE lists them: C2 1.5, C40 -2, the rest 0.
std::string ContextValues() {
  std::string list;
  for (int i = 1; i <= 40; ++i)
    list += (i > 1 ? ",`C" : "`C") + std::to_string(i) + "`=" +
            (i == 2    ? "1.500000"
             : i == 40 ? "-2.000000"
                       : "0.000000");
  return list;
}

TEST(Records, EveryColumnIsReadIntoItsMemberAndWrittenBack) {
  const struct {
    const char* what;
    std::string (*update)(const std::string& cells);
    std::string more;  // cells besides those of the UPDATE statement, after them
    std::string want;
  } cases[] = {
      // Of two columns of one name the first counts.
      {"account", Update<CTblAccount>, "AccountID=second",
       "UPDATE `Account` SET `AccountName`='Desk "
       "A',`AccountType`='32',`Balance`=100000.500000,`Equity`=100250.250000,`DayPL`=-12.500000,`"
       "GrossPL`=249.750000,`UsedMargin`=4000.000000,`UsableMargin`=96250.250000,`"
       "UsableMarginInPercentage`=96,`UsableMaintMarginInPercentage`=98,`MarginRate`=0.040000,`"
       "Hedging`='Y',`Currency`='JPY',`Broker`='Broker "
       "One',`Reserve`='r',`upd_user_id`='ops',`upd_datetime`='NOW' WHERE `AccountID`='1001'"},
      {"closed trade", Update<CTblTrade>, "",
       "UPDATE `Trade` SET "
       "`OfferID`='1',`Symbol`='EURUSD',`Amount`=10000.000000,`BS`='S',`Open`=1.084200,`Close`=1."
       "081200,`Stop`=1.090000,`Limit`=1.070000,`High`=1.085000,`Low`=1.080000,`PL`=30.000000,`"
       "GrossPL`=31.500000,`Commission`=1.000000,`Interest`=0.500000,`OpenTime`='2020/01/02 "
       "03:04:05',`CloseTime`='2020/01/02 "
       "10:00:00',`OpenOrderID`='o1',`CloseOrderID`='c1',`StopOrderID`='s1',`LimitOrderID`='l1',`"
       "MaxSumPL`=40.000000,`MaxSumPLCount`=3,`MaxSumPLTime`='2020/01/02 "
       "05:00:00',`CurSumPL`=30.000000,`CurSumPLCount`=4,`Reserve`='r',`upd_user_id`='ops',`upd_"
       "datetime`='NOW' WHERE `TradeID`='77' AND `AccountID`='1001'"},
      {"offer", Update<CTblOffer>, "",
       "UPDATE `Offer` SET "
       "`Symbol`='USD/"
       "JPY',`SymbolType`='1',`Bid`=151.320000,`Ask`=151.340000,`High`=152.000000,`Low`=150."
       "500000,`PipCost`=1000.000000,`Time`='2026/12/05 "
       "09:30:00',`PointSize`=0.010000,`Reserve`='',`upd_user_id`='ops',`upd_datetime`='NOW' "
       "WHERE `OfferID`='3'"},
      {"strategy context", Update<CTblTsContext>, "TradeID=7",
       "UPDATE `TsContext` SET `TitleSeq`=0," + ContextValues() +
           ",`StatusKbn`=0,`TradeMethodPeriod`='',`TradeMethodName`='MA',`TrailStopPeriod`='',`"
           "TrailStopName`='',`TrailMoveTsName`='Step',`upd_user_id`='ops',`upd_datetime`='NOW'" +
           " WHERE `OrderID`='o1' AND `AccountId`='1001' AND `Class`='S'"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.update(CellsOf(c.want) + c.more), c.want) << c.what;
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
