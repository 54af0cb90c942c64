// The records the live methods answer with: Trade, Offer, PriceBar and
// TsContext, on rows built in memory, under TZ=Asia/Tokyo (nine hours
// ahead of UTC).
#include <gtest/gtest.h>

#include <memory>

#include "db/TblOffer.h"
#include "db/TblPriceBar.h"
#include "db/TblTrade.h"
#include "db/TblTsContext.h"
#include "support/Rows.h"
#include "support/Text.h"
#include "util/DateTime.h"

namespace {

using Cells = std::vector<std::pair<std::string, std::string>>;



const Cells kClosedTrade = {
    {"TradeID", "77"},        {"AccountID", "1001"},      {"OfferID", "1"},
    {"Symbol", "EURUSD"},     {"Amount", "10000"},        {"BS", "S"},
    {"Open", "1.0842"},       {"Close", "1.0812"},        {"Stop", "1.09"},
    {"Limit", "1.07"},        {"High", "1.085"},          {"Low", "1.08"},
    {"PL", "30"},             {"GrossPL", "31.5"},        {"Commission", "1"},
    {"Interest", "0.5"},      {"OpenTime", "2020/01/02 03:04:05"},
    {"CloseTime", "2020-01-02 10:00:00"},                 {"OpenOrderID", "o1"},
    {"CloseOrderID", "c1"},   {"StopOrderID", "s1"},      {"LimitOrderID", "l1"},
    {"MaxSumPL", "40"},       {"MaxSumPLCount", "3"},     {"MaxSumPLTime", "2020-01-02 05:00:00"},
    {"CurSumPL", "30"},       {"CurSumPLCount", "4"},     {"Reserve", "r"},
    {"TradeMethodPeriod", "H1"}, {"TradeMethodName", "MA"}, {"TrailStopPeriod", "M5"},
    {"TrailStopName", "ATR"}, {"TrailMoveTsName", "Step"},
};

TEST(TblTrade, JsonWritesUtcTimesAndEveryMember) {
  std::unique_ptr<CTestRows> rows(OneRow(kClosedTrade));
  EXPECT_EQ(CTblTrade(rows->Row()).ToJson(),
            "{\"TradeID\":\"77\",\"Symbol\":\"EURUSD\",\"Amount\":10000.000000,\"BS\":\"S\","
            "\"Open\":1.084200,\"Close\":1.081200,\"Stop\":1.090000,\"Limit\":1.070000,"
            "\"High\":1.085000,\"Low\":1.080000,\"PL\":30.000000,\"GrossPL\":31.500000,"
            "\"OpenTime\":\"2020/01/01 18:04:05\",\"CloseTime\":\"2020/01/02 01:00:00\","
            "\"MaxSumPL\":40.000000,\"MaxSumPLCount\":3,\"MaxSumPLTime\":\"2020/01/01 20:00:00\","
            "\"CurSumPL\":30.000000,\"CurSumPLCount\":4,\"TradeMethodPeriod\":\"H1\","
            "\"TradeMethodName\":\"MA\",\"TrailStopPeriod\":\"M5\",\"TrailStopName\":\"ATR\","
            "\"TrailMoveTsName\":\"Step\"}");
}

TEST(TblTrade, OpenAndClosedTradesAreToldApart) {
  std::unique_ptr<CTestRows> closed(OneRow(kClosedTrade));
  const CTblTrade closedTrade(closed->Row());
  EXPECT_EQ(closedTrade.Title(), "Closed Trade");
  EXPECT_EQ(closedTrade.RecordTime(), ParseTimeText("2020-01-02 10:00:00"));
  Cells open = kClosedTrade;
  open[17].second = "1970-01-01 09:00:00";  // 0 in Tokyo
  std::unique_ptr<CTestRows> opened(OneRow(open));
  EXPECT_EQ(CTblTrade(opened->Row()).Title(), "Trade");
  EXPECT_EQ(CTblTrade(opened->Row()).RecordTime(), ParseTimeText("2020/01/02 03:04:05"));
  // An empty close time is refused by the parser: -1, and so closed.
  open[17].second = "";
  std::unique_ptr<CTestRows> refused(OneRow(open));
  const CTblTrade noClose(refused->Row());
  EXPECT_EQ(noClose.Title(), "Closed Trade");
  EXPECT_EQ(noClose.RecordTime(), -1);
  EXPECT_NE(noClose.ToJson().find("\"CloseTime\":\"1969/12/31 23:59:59\""), std::string::npos);
}

TEST(TblTrade, MissingStrategyColumnsGiveEmptyTexts) {
  std::unique_ptr<CTestRows> rows(OneRow({{"TradeID", "1"}}));
  const std::string json = CTblTrade(rows->Row()).ToJson();
  EXPECT_TRUE(EndsWith(json, ",\"TradeMethodPeriod\":\"\",\"TradeMethodName\":\"\","
                             "\"TrailStopPeriod\":\"\",\"TrailStopName\":\"\",\"TrailMoveTsName\":\"\"}"))
      << json;
}

TEST(TblTrade, DumpsUseLocalTimesAndSideNames) {
  std::unique_ptr<CTestRows> rows(OneRow(kClosedTrade));
  const CTblTrade trade(rows->Row());
  EXPECT_EQ(trade.ToText(),
            "\n>>>> [Trade] <<<<\nTradeID: 77\nAccountID: 1001\nOfferID: 1\nSymbol: EURUSD"
            "\nBS: S(Sell)\nAmount: 10000.000000\nOpen: 1.084200\nClose: 1.081200"
            "\nStop: 1.090000\nLimit: 1.070000\nHigh: 1.085000\nLow: 1.080000\nPL: 30.000000"
            "\nGrossPL: 31.500000\nCommission: 1.000000\nInterest: 0.500000"
            "\nOpenTime: 2020/01/02 03:04:05\nCloseTime: 2020/01/02 10:00:00"
            "\nOpenOrderID: o1\nCloseOrderID: c1\nStopOrderID: s1\nLimitOrderID: l1");
  EXPECT_EQ(trade.ToMarkup(),
            "<trade><TradeID>77</TradeID><Open>1.084200</Open><Stop>1.090000</Stop>"
            "<Limit>1.070000</Limit><High>1.085000</High><Low>1.080000</Low><PL>30.000000</PL>"
            "<GrossPL>31.500000</GrossPL></trade>");
  EXPECT_EQ(trade.Summary(),
            "Symbol:EURUSD BS:S OpenTime: 2020/01/02 03:04:05 CloseTime: 2020/01/02 10:00:00 "
            "Open: 1.084200 Close: 1.081200 PL: 30.000000");
  EXPECT_EQ(CTblTrade::SideName("B"), "Buy");
  EXPECT_EQ(CTblTrade::SideName("S"), "Sell");
  EXPECT_EQ(CTblTrade::SideName("X"), "");
  std::unique_ptr<CTestRows> odd(OneRow({{"BS", "X"}}));
  EXPECT_NE(CTblTrade(odd->Row()).ToText().find("\nBS: X()\n"), std::string::npos);
}

TEST(TblTrade, Statements) {
  std::unique_ptr<CTestRows> rows(OneRow(kClosedTrade));
  CTblTrade trade(rows->Row());
  trade.SetUpdateUser("ops");
  const std::string key = " WHERE `TradeID`='77' AND `AccountID`='1001'";
  EXPECT_EQ(trade.SelectSql(), "SELECT * FROM `Trade`" + key);
  EXPECT_EQ(trade.DeleteSql(), "DELETE FROM `Trade`" + key);
  EXPECT_EQ(WithNow([&] { return trade.InsertSql(); }),
            "INSERT INTO `Trade` VALUES ('77','1001','1','EURUSD',10000.000000,'S',1.084200,"
            "1.081200,1.090000,1.070000,1.085000,1.080000,30.000000,31.500000,1.000000,0.500000,"
            "'2020/01/02 03:04:05','2020/01/02 10:00:00','o1','c1','s1','l1',40.000000,3,"
            "'2020/01/02 05:00:00',30.000000,4,'r','NOW','NOW')");
  EXPECT_EQ(WithNow([&] { return trade.UpdateSql(); }),
            "UPDATE `Trade` SET `OfferID`='1',`Symbol`='EURUSD',`Amount`=10000.000000,`BS`='S',"
            "`Open`=1.084200,`Close`=1.081200,`Stop`=1.090000,`Limit`=1.070000,`High`=1.085000,"
            "`Low`=1.080000,`PL`=30.000000,`GrossPL`=31.500000,`Commission`=1.000000,"
            "`Interest`=0.500000,`OpenTime`='2020/01/02 03:04:05',"
            "`CloseTime`='2020/01/02 10:00:00',`OpenOrderID`='o1',`CloseOrderID`='c1',"
            "`StopOrderID`='s1',`LimitOrderID`='l1',`MaxSumPL`=40.000000,`MaxSumPLCount`=3,"
            "`MaxSumPLTime`='2020/01/02 05:00:00',`CurSumPL`=30.000000,`CurSumPLCount`=4,"
            "`Reserve`='r',`upd_user_id`='ops',`upd_datetime`='NOW'" + key);
  EXPECT_EQ(WithNow([&] { return trade.PartialUpdateSql({"Reserve", "PL", "CloseTime", "Open"}); }),
            "UPDATE `Trade` SET `PL`=30.000000,`CloseTime`='2020/01/02 10:00:00',`Reserve`='r',"
            "`upd_user_id`='ops',`upd_datetime`='NOW'" + key);
}

TEST(TblOffer, FormsAndStatements) {
  std::unique_ptr<CTestRows> rows(OneRow({{"OfferID", "3"}, {"Symbol", "USD/JPY"},
                                          {"SymbolType", "1"}, {"Bid", "151.32"},
                                          {"Ask", "151.34"}, {"High", "152"}, {"Low", "150.5"},
                                          {"PipCost", "1000"}, {"Time", "2026-12-05 09:30:00"},
                                          {"PointSize", "0.01"}, {"Reserve", ""}}));
  CTblOffer offer(rows->Row());
  EXPECT_EQ(offer.ToJson(),
            "{\"OfferID\":\"3\",\"Symbol\":\"USD/JPY\",\"Bid\":151.320000,\"Ask\":151.340000,"
            "\"High\":152.000000,\"Low\":150.500000,\"PipCost\":1000.000000,\"PointSize\":0.010000,"
            "\"Time\":\"2026/12/05 00:30:00\"}");
  EXPECT_EQ(offer.ToText(),
            "\n>>>> [Offer] <<<<\nSymbol: USD/JPY\nBid/Ask: 151.320000 / 151.340000"
            "\nHigh/Low: 152.000000 / 150.500000\nPointSize: 0.010000\nTime: 2026/12/05 09:30:00");
  EXPECT_EQ(offer.ToMarkup(),
            "<offer><Symbol>USD/JPY</Symbol><Bid>151.320000</Bid><Ask>151.340000</Ask>"
            "<High>152.000000</High><Low>150.500000</Low></offer>");
  EXPECT_EQ(offer.RecordTime(), ParseTimeText("2026-12-05 09:30:00"));
  EXPECT_EQ(offer.SelectSql(), "SELECT * FROM `Offer` WHERE `OfferID`='3'");
  EXPECT_EQ(offer.DeleteSql(), "DELETE FROM `Offer` WHERE `OfferID`='3'");
  offer.SetUpdateUser("feed");
  EXPECT_EQ(WithNow([&] { return offer.InsertSql(); }),
            "INSERT INTO `Offer` VALUES ('3','USD/JPY','1',151.320000,151.340000,152.000000,"
            "150.500000,1000.000000,'2026/12/05 09:30:00',0.010000,'','NOW','NOW')");
  EXPECT_EQ(WithNow([&] { return offer.UpdateSql(); }),
            "UPDATE `Offer` SET `Symbol`='USD/JPY',`SymbolType`='1',`Bid`=151.320000,"
            "`Ask`=151.340000,`High`=152.000000,`Low`=150.500000,`PipCost`=1000.000000,"
            "`Time`='2026/12/05 09:30:00',`PointSize`=0.010000,`Reserve`='',"
            "`upd_user_id`='feed',`upd_datetime`='NOW' WHERE `OfferID`='3'");
}

TEST(TblPriceBar, ReadsAndWritesUtc) {
  std::unique_ptr<CTestRows> rows(OneRow({{"Symbol", "EURUSD"}, {"Period", "M1"},
                                          {"StartDate", "2020/01/02 03:04:05"}, {"AskOpen", "1"},
                                          {"AskHigh", "2"}, {"AskLow", "3"}, {"AskClose", "4"},
                                          {"BidOpen", "5"}, {"BidHigh", "6"}, {"BidLow", "7"},
                                          {"BidClose", "8"}}));
  const CTblPriceBar bar(rows->Row());
  EXPECT_EQ(bar.ToJson(),
            "{\"Symbol\":\"EURUSD\",\"StartDate\":\"2020/01/02 03:04:05\",\"Period\":\"M1\","
            "\"AskClose\":4.000000,\"AskHigh\":2.000000,\"AskLow\":3.000000,\"AskOpen\":1.000000,"
            "\"BidClose\":8.000000,\"BidHigh\":6.000000,\"BidLow\":7.000000,\"BidOpen\":5.000000}");
  EXPECT_EQ(bar.ToText(), "");
  EXPECT_EQ(bar.RecordTime(), 0);
  const std::string key =
      " WHERE `Symbol`='EURUSD' AND `Period`='M1' AND `StartDate`='2020/01/02 03:04:05'";
  EXPECT_EQ(bar.SelectSql(), "SELECT * FROM `PriceBar`" + key);
  EXPECT_EQ(bar.DeleteSql(), "DELETE FROM `PriceBar`" + key);
  EXPECT_EQ(WithNow([&] { return bar.InsertSql(); }),
            "INSERT INTO `PriceBar` VALUES ('EURUSD','M1','2020/01/02 03:04:05',1.000000,"
            "2.000000,3.000000,4.000000,5.000000,6.000000,7.000000,8.000000,'NOW','NOW')");
  EXPECT_EQ(WithNow([&] { return bar.UpdateSql(); }),
            "UPDATE `PriceBar` SET `AskOpen`=1.000000,`AskHigh`=2.000000,`AskLow`=3.000000,"
            "`AskClose`=4.000000,`BidOpen`=5.000000,`BidHigh`=6.000000,`BidLow`=7.000000,"
            "`BidClose`=8.000000,`upd_user_id`='',`upd_datetime`='NOW'" + key);
}

TEST(TblTsContext, JsonCarriesTheTradingMethodsOnly) {
  std::unique_ptr<CTestRows> rows(OneRow({{"OrderID", "o1"}, {"TradeID", "7"},
                                          {"AccountId", "1001"}, {"Class", "S"},
                                          {"C2", "1.5"}, {"C40", "-2"}, {"TradeMethodName", "MA"},
                                          {"TrailMoveTsName", "Step"}}));
  const CTblTsContext context(rows->Row());
  EXPECT_EQ(context.ToJson(),
            "{\"TradeID\":\"7\",\"TradeMethodPeriod\":\"\",\"TradeMethodName\":\"MA\","
            "\"TrailStopPeriod\":\"\",\"TrailStopName\":\"\",\"TrailMoveTsName\":\"Step\"}");
  ASSERT_EQ(context.Values().size(), 40u);
  EXPECT_EQ(context.Values()[0], 0);
  EXPECT_EQ(context.Values()[1], 1.5);
  EXPECT_EQ(context.Values()[39], -2);
  const std::string text = context.ToText();
  EXPECT_NE(text.find("\nC2: 1.500000"), std::string::npos);
  EXPECT_TRUE(EndsWith(text, "\nC40: -2.000000\nTradeMethodName: MA\nTrailMoveTsName: Step")) << text;
  EXPECT_EQ(text.find("TradeMethodPeriod"), std::string::npos);  // empty: left out
  const std::string key = " WHERE `OrderID`='o1' AND `AccountId`='1001' AND `Class`='S'";
  EXPECT_EQ(context.SelectSql(), "SELECT * FROM `TsContext`" + key);
  EXPECT_EQ(context.DeleteSql(), "DELETE FROM `TsContext`" + key);
  const std::string update = WithNow([&] { return context.UpdateSql(); });
  EXPECT_EQ(update.substr(0, 63), "UPDATE `TsContext` SET `TitleSeq`=0,`C1`=0.000000,`C2`=1.500000");
  EXPECT_TRUE(EndsWith(update, ",`C40`=-2.000000,`StatusKbn`=0,`TradeMethodPeriod`='',"
                               "`TradeMethodName`='MA',`TrailStopPeriod`='',`TrailStopName`='',"
                               "`TrailMoveTsName`='Step',`upd_user_id`='',`upd_datetime`='NOW'" +
                                   key))
      << update;
}

}  // namespace
