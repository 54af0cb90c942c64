// The record classes on rows built in memory (TZ=Asia/Tokyo, nine hours
// ahead of UTC): their statements, JSON, text dumps and markup byte for byte,
// and the rule for values in SQL.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>

#include "db/SqlText.h"
#include "db/TblAccount.h"
#include "db/TblImplPlan.h"
#include "db/TblOffer.h"
#include "db/TblPriceBar.h"
#include "db/TblTrade.h"
#include "db/TblTsContext.h"
#include "records/Md5.h"
#include "records/TblMessage.h"
#include "records/TblOrder.h"
#include "records/TblPoint.h"
#include "records/TblTsContextTitle.h"
#include "support/Desk.h"

namespace {

// A record of `cells` ("Name=value", ";" between) made from a one-row set as
// the library hands rows over, updated by "ops".
template <typename T>
std::unique_ptr<T> Made(const std::string& cells) {
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
  auto record = std::make_unique<T>(MywRow(set, 0));
  record->SetUpdateUser("ops");
  return record;
}

const char* const kForms[] = {"select", "delete", "insert", "update", "JSON", "text", "markup"};

template <typename T>
Lines FormsOf(const std::string& cells) {
  const auto r = Made<T>(cells);
  return {
      r->SelectSql(), r->DeleteSql(), MaskNow(r->InsertSql()), MaskNow(r->UpdateSql()), r->ToJson(),
      r->ToText(),    r->ToMarkup()};
}

// The cells an UPDATE statement names, "`Name`=value" with the quotes taken off ("NULL" reads as
// 0): a record made of them must write every one back where it belongs.
std::string CellsOf(const std::string& update) {
  std::string cells;
  const std::regex named("`(\\w+)`=(?:'([^']*)'|([^, ]+))");
  for (std::sregex_iterator at(update.begin(), update.end(), named), end; at != end; ++at)
    cells += (*at)[1].str() + "=" + (*at)[2].str() + (*at)[3].str() + ";";
  return cells;
}

// The strategy context's C1 to C40 as its statements list them: C2 1.5, C40 -2, the rest 0.
std::string ContextValues(bool named) {
  std::string list;
  for (int i = 1; i <= 40; ++i)
    list += (i > 1 ? "," : "") + (named ? "`C" + std::to_string(i) + "`=" : "") +
            (i == 2    ? "1.500000"
             : i == 40 ? "-2.000000"
                       : "0.000000");
  return list;
}

// The dump (kForms 5), markup (6) or JSON (4) form of `layout`, "Head:Member,Member,...": the
// dump's title or the markup's tag, then the members in order, each with the value its column has
// in `update` (or as "Label=value" given), quoted there for a text.
std::string Form(size_t form, const std::string& layout, const std::string& update) {
  const std::string head = layout.substr(0, layout.find(':'));
  std::string out = form == 5 ? "\n>>>> [" + head + "] <<<<" : form == 6 ? "<" + head + ">" : "{";
  std::istringstream in(layout.substr(head.size() + 1));
  for (std::string name; std::getline(in, name, ',');) {
    std::smatch cell;
    const size_t equals = name.find('=');
    std::regex_search(update, cell, std::regex("`" + name + "`=('[^']*'|[^, ]+)"));
    std::string value = equals != std::string::npos ? name.substr(equals + 1) : cell[1].str();
    name.resize(std::min(equals, name.size()));
    if (value[0] == '\'')
      value = (form == 4 ? "\"" : "") + value.substr(1, value.size() - 2) + (form == 4 ? "\"" : "");
    out += form == 5   ? "\n" + name + ": " + value
           : form == 6 ? "<" + name + ">" + value + "</" + name + ">"
                       : (out.size() > 1 ? ",\"" : "\"") + name + "\":" + value;
  }
  return out + (form == 5 ? "" : form == 6 ? "</" + head + ">" : "}");
}

TEST(Records, EveryFormOfEveryClass) {
  const std::string contextKey = " WHERE `OrderID`='o1' AND `AccountId`='1001' AND `Class`='S'";
  const std::string planKey = " WHERE `AccountID`='1001' AND `Symbol`='EURUSD'";
  const struct {
    const char* what;
    Lines (*forms)(const std::string& cells);
    std::string more;  // cells besides those of the UPDATE statement, after them
    // In the order of kForms; "*" or past the end: not compared. A SELECT or DELETE left "" is
    // the INSERT's table and the UPDATE's key; in an INSERT, {SET} stands for the values the
    // UPDATE sets, in its order; a dump, markup or JSON not starting "\n" is Form's layout.
    Lines want;
  } cases[] = {
      // Of two columns of one name the first counts.
      {"account",
       FormsOf<CTblAccount>,
       "AccountID=second",
       {"SELECT * FROM `Account` WHERE `AccountID` ='1001'", "",
        "INSERT INTO `Account` VALUES ('1001',{SET},'NOW','ops','NOW')",
        "UPDATE `Account` SET `AccountName`='Desk "
        "A',`AccountType`='32',`Balance`=100000.500000,`Equity`=100250.250000,`DayPL`=-12.500000,`"
        "GrossPL`=249.750000,`UsedMargin`=4000.000000,`UsableMargin`=96250.250000,`"
        "UsableMarginInPercentage`=96,`UsableMaintMarginInPercentage`=98,`MarginRate`=0.040000,`"
        "Hedging`='Y',`Currency`='JPY',`Broker`='Broker "
        "One',`Reserve`='r',`upd_user_id`='ops',`upd_datetime`='NOW' WHERE `AccountID`='1001'",
        "*",  // JSON: the methods' own
        "Account:AccountID,AccountName,Balance,GrossPL,UsedMargin,UsableMargin,MarginRate,Hedging,"
        "Currency",
        "account:AccountID,Balance,DayPL,UsedMargin,GrossPL"}},
      {"closed trade",
       FormsOf<CTblTrade>,
       "",
       {"", "", "INSERT INTO `Trade` VALUES ('77','1001',{SET},'NOW','NOW')",
        "UPDATE `Trade` SET "
        "`OfferID`='1',`Symbol`='EURUSD',`Amount`=10000.000000,`BS`='S',`Open`=1.084200,`Close`=1."
        "081200,`Stop`=1.090000,`Limit`=1.070000,`High`=1.085000,`Low`=1.080000,`PL`=30.000000,`"
        "GrossPL`=31.500000,`Commission`=1.000000,`Interest`=0.500000,`OpenTime`='2020/01/02 "
        "03:04:05',`CloseTime`='2020/01/02 "
        "10:00:00',`OpenOrderID`='o1',`CloseOrderID`='c1',`StopOrderID`='s1',`LimitOrderID`='l1',`"
        "MaxSumPL`=40.000000,`MaxSumPLCount`=3,`MaxSumPLTime`='2020/01/02 "
        "05:00:00',`CurSumPL`=30.000000,`CurSumPLCount`=4,`Reserve`='r',`upd_user_id`='ops',`upd_"
        "datetime`='NOW' WHERE `TradeID`='77' AND `AccountID`='1001'",
        "*",  // JSON: the methods' own
        "Trade:TradeID,AccountID,OfferID,Symbol,BS=S(Sell),Amount,Open,Close,Stop,Limit,High,Low,"
        "PL,"
        "GrossPL,Commission,Interest,OpenTime,CloseTime,OpenOrderID,CloseOrderID,StopOrderID,"
        "LimitOrderID",
        "trade:TradeID,Open,Stop,Limit,High,Low,PL,GrossPL"}},
      {"offer",
       FormsOf<CTblOffer>,
       "",
       {"", "", "INSERT INTO `Offer` VALUES ('3',{SET},'NOW','NOW')",
        "UPDATE `Offer` SET "
        "`Symbol`='USD/"
        "JPY',`SymbolType`='1',`Bid`=151.320000,`Ask`=151.340000,`High`=152.000000,`Low`=150."
        "500000,`PipCost`=1000.000000,`Time`='2026/12/05 "
        "09:30:00',`PointSize`=0.010000,`Reserve`='',`upd_user_id`='ops',`upd_datetime`='NOW' "
        "WHERE `OfferID`='3'",
        "*",  // JSON: the methods' own
        "Offer:Symbol,Bid/Ask=151.320000 / 151.340000,High/Low=152.000000 / "
        "150.500000,PointSize,Time",
        "offer:Symbol,Bid,Ask,High,Low"}},
      {"price bar",
       FormsOf<CTblPriceBar>,
       "",
       {"", "",
        "INSERT INTO `PriceBar` VALUES ('EURUSD','M1','2020/01/02 03:04:05',{SET},'NOW','NOW')",
        "UPDATE `PriceBar` SET "
        "`AskOpen`=1.000000,`AskHigh`=2.000000,`AskLow`=3.000000,`AskClose`=4.000000,`BidOpen`=5."
        "000000,`BidHigh`=6.000000,`BidLow`=7.000000,`BidClose`=8.000000,`upd_user_id`='ops',`upd_"
        "datetime`='NOW' WHERE `Symbol`='EURUSD' AND `Period`='M1' AND `StartDate`='2020/01/02 "
        "03:04:05'",
        ":Symbol,StartDate,Period,AskClose,AskHigh,AskLow,AskOpen,BidClose,BidHigh,BidLow,"
        "BidOpen"}},
      {"strategy context",
       FormsOf<CTblTsContext>,
       "TradeID=7",
       {"", "",
        "INSERT INTO `TsContext` VALUES ('o1','7','1001','S',0," + ContextValues(false) +
            ",'',0,'','MA','','','Step','NOW','ops','NOW')",
        "UPDATE `TsContext` SET `TitleSeq`=0," + ContextValues(true) +
            ",`StatusKbn`=0,`TradeMethodPeriod`='',`TradeMethodName`='MA',`TrailStopPeriod`='',`"
            "TrailStopName`='',`TrailMoveTsName`='Step',`upd_user_id`='ops',`upd_datetime`='NOW'" +
            contextKey}},  // JSON: the methods' own
      {"plan",
       FormsOf<CTblImplPlan>,
       "AccountID=1001;Symbol=EURUSD;IP1=0.5;IP2=30",
       {"SELECT * FROM `ImplPlan`" + planKey, "DELETE FROM `ImplPlan`" + planKey,
        "INSERT INTO `ImplPlan` VALUES "
        "('1001','EURUSD','0.5','30','','','','','','','','','','','','','','','','','','','NOW','"
        "ops','NOW')"}},
      {"order",
       FormsOf<CTblOrder>,
       "",
       {"", "", "INSERT INTO `Order` VALUES ('o9',{SET},'NOW','NOW')",
        "UPDATE `Order` SET "
        "`RequestID`='r1',`AccountID`='1001',`OfferID`='1',`Symbol`='EURUSD',`TradeID`='77',`BS`='"
        "B',`Stage`='C',`OrderType`='SE',`OrderStatus`='W',`Amount`=10000.000000,`Rate`=1.080000,`"
        "Stop`=1.070000,`Limit`=1.100000,`Time`='2020/01/02 "
        "03:04:05',`Reserve`='',`upd_user_id`='ops',`upd_datetime`='NOW' WHERE `OrderID`='o9' AND "
        "`AccountID`='1001'",
        "*",
        "Order:OrderID,RequestID,AccountID,OfferID,Symbol,TradeID,BS=B(Buy),Stage=C(Close the "
        "position),OrderType=SE(Entry Stop),OrderStatus,Amount,Rate,Stop,Limit,Time"}},
      {"message",
       [](const std::string&) {
         const CTblMessage message("desk@example.invalid", "ops@example.invalid", "", "Closed",
                                   "PL 10");
         return Lines{"", "", "", "", "", MaskNow(message.ToText())};
       },
       "",
       {"*", "*", "*", "*", "*",
        "\n>>>> [Message] <<<<\nContentType: 9(Email.)\nType: 4(SMTP.)\nFrom: "
        "desk@example.invalid\nTO: ops@example.invalid\nCC: \nBCC: \nSubject: Closed\nTime: "
        "NOW\nText: PL 10"}},
      // R1 at 0 is no level: NULL in the statements, left out of the dump's list.
      {"pivot point",
       FormsOf<CTblPoint>,
       "",
       {"", "",
        "INSERT INTO `RsPoint` VALUES ('EURUSD',2,'2020/01/02 00:00:00',{SET},'NOW','ops','NOW')",
        "UPDATE `RsPoint` SET "
        "`PivotPos`=0,`StatusKbn`=0,`R5`=1.150000,`R4`=1.140000,`R3`=1.130000,`R2`=1.120000,`R1`="
        "NULL,`Pivot`=1.100000,`S1`=1.090000,`S2`=1.080000,`S3`=1.070000,`S4`=1.060000,`S5`=1."
        "050000,`upd_user_id`='ops',`upd_datetime`='NOW' WHERE `Symbol`='EURUSD' AND `SrcKbn`=2 "
        "AND `Time`='2020/01/02 00:00:00'",
        "*",
        "\n>>>> [Point] <<<<\nSymbol: EURUSD\nTime: 2020/01/02 00:00:00\nPointValueSize: "
        "10\nPointTypeSize: 10\nPointCommentSize: 0\n[0] 1.150000 -1\n[1] 1.140000 -1\n[2] "
        "1.130000 -1\n[3] 1.120000 -1\n[4] 1.100000 0\n[5] 1.090000 1\n[6] 1.080000 1\n[7] "
        "1.070000 1\n[8] 1.060000 1\n[9] 1.050000 1"}},
  };
  for (const auto& c : cases) {
    const std::string update = c.want.size() > 3 ? c.want[3] : "";
    const Lines got = c.forms(CellsOf(update) + c.more);
    for (size_t i = 0; i < c.want.size(); ++i) {
      std::string want = c.want[i];
      if (i < 2 && want.empty())
        want = (i ? "DELETE FROM " : "SELECT * FROM ") +
               c.want[2].substr(12, c.want[2].find(" VALUES") - 12) +
               update.substr(update.find(" WHERE"));
      if (const size_t at = want.find("{SET}"); at != std::string::npos) {
        const size_t set = update.find(" SET ") + 5;
        want.replace(at, 5,
                     std::regex_replace(update.substr(set, update.find(",`upd_user") - set),
                                        std::regex("`\\w+`="), ""));
      }
      if (i > 3 && want != "*" && want[0] != '\n') want = Form(i, want, update);
      EXPECT_EQ(want == "*" ? "*" : got[i], want) << c.what << ", " << kForms[i];
    }
  }
}

TEST(Records, TitleSetsAreKeyedByTheMd5OfTheirTitles) {
  const auto titles = Made<CTblTsContextTitle>("TitleSeq=3;TitleMd5=old;T1=Entry;T2=Exit");
  EXPECT_EQ(titles->TitleMd5(), "old");
  EXPECT_EQ(titles->TitleText(), "Entry\tExit" + std::string(38, '\t'));
  titles->SetKey("abc");
  EXPECT_EQ(titles->SelectSql(),
            "SELECT * FROM `TsContextTitle` WHERE `TitleMd5`='900150983cd24fb0d6963f7d28e17f72'");
}

// A million bytes, and 56 bytes (whose padding takes a block of its own); the titles' row
// holds a short text's.
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
  // none hold that; the record rows hold how lists and columns are written.
}

}  // namespace
