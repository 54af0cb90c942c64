// The records no request method answers with: orders, pivot points,
// messages and title sets, on rows built in memory (TZ=Asia/Tokyo).
#include <gtest/gtest.h>

#include <memory>

#include "db/TblMessage.h"
#include "db/TblOrder.h"
#include "db/TblPoint.h"
#include "db/TblTsContextTitle.h"
#include "support/Rows.h"
#include "support/Text.h"
#include "util/DateTime.h"
#include "util/Md5.h"

namespace {

TEST(TblOrder, DumpNamesItsCodes) {
  std::unique_ptr<CTestRows> rows(OneRow({{"OrderID", "o9"}, {"RequestID", "r1"}, {"AccountID", "1001"},
                                          {"OfferID", "1"}, {"Symbol", "EURUSD"}, {"TradeID", "77"},
                                          {"BS", "B"}, {"Stage", "C"}, {"OrderType", "SE"},
                                          {"OrderStatus", "W"}, {"Amount", "10000"}, {"Rate", "1.08"},
                                          {"Stop", "1.07"}, {"Limit", "1.1"},
                                          {"Time", "2020-01-02 03:04:05"}, {"Reserve", ""}}));
  const CTblOrder order(rows->Row());
  const std::string dump =
      "\n>>>> [Order] <<<<\nOrderID: o9\nRequestID: r1\nAccountID: 1001\nOfferID: 1\nSymbol: EURUSD"
      "\nTradeID: 77\nBS: B(Buy)\nStage: C(Close the position)\nOrderType: SE(Entry Stop)"
      "\nOrderStatus: W\nAmount: 10000.000000\nRate: 1.080000\nStop: 1.070000\nLimit: 1.100000"
      "\nTime: 2020/01/02 03:04:05";
  EXPECT_EQ(order.ToText(), dump);
  EXPECT_EQ(order.NoticeText(), "Order 2020/01/02 03:04:05" + dump);
  EXPECT_EQ(order.RecordTime(), ParseTimeText("2020-01-02 03:04:05"));
  EXPECT_EQ(order.ToJson(), "");
  EXPECT_EQ(order.ToMarkup(), "");
  EXPECT_EQ(order.SelectSql(), "SELECT * FROM `Order` WHERE `OrderID`='o9' AND `AccountID`='1001'");
  EXPECT_EQ(order.DeleteSql(), "DELETE FROM `Order` WHERE `OrderID`='o9' AND `AccountID`='1001'");
}

TEST(TblOrder, NameTables) {
  const struct {
    const char* code;
    const char* name;
  } types[] = {{"S", "Stop"},   {"L", "Limit"}, {"SE", "Entry Stop"}, {"LE", "Entry Limit"},
               {"C", "Close"},  {"O", "Open"},  {"M", "Margin Call"}, {"X", "X"}, {"", ""}};
  for (const auto& type : types) EXPECT_EQ(CTblOrder::OrderTypeName(type.code), type.name);
  EXPECT_EQ(CTblOrder::StageName("O"), "Open the position");
  EXPECT_EQ(CTblOrder::StageName("C"), "Close the position");
  EXPECT_EQ(CTblOrder::StageName("Q"), "Q");
  EXPECT_EQ(CTblOrder::SideName("S"), "Sell");
  EXPECT_EQ(CTblOrder::SideName("O"), "");
  EXPECT_EQ(CTblOrder::RateKindName(0), "Not specified");
  EXPECT_EQ(CTblOrder::RateKindName(1), "The absolute rate");
  EXPECT_EQ(CTblOrder::RateKindName(2), "A distance in pips to the open price");
  EXPECT_EQ(CTblOrder::RateKindName(3), "A distance in pips to the close price");
  EXPECT_EQ(CTblOrder::RateKindName(4), "");
  EXPECT_EQ(CTblOrder::RateKindName(-1), "");
}

TEST(TblPoint, LevelsAboveZeroBecomePointsFromTheTopDown) {
  std::unique_ptr<CTestRows> rows(OneRow({{"Symbol", "EURUSD"}, {"SrcKbn", "2"},
                                          {"Time", "2020-01-02 00:00:00"}, {"R5", "1.15"},
                                          {"R4", "1.14"}, {"R3", "1.13"}, {"R2", "1.12"},
                                          {"R1", "0"}, {"Pivot", "1.10"}, {"S1", "1.09"},
                                          {"S2", "1.08"}, {"S3", "1.07"}, {"S4", "1.06"},
                                          {"S5", "1.05"}}));
  const CTblPoint point(rows->Row());
  EXPECT_EQ(point.Values().size(), 10u);
  EXPECT_EQ(point.Types(), (std::vector<int32_t>{-1, -1, -1, -1, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(point.Values().front(), 1.15);
  EXPECT_EQ(point.Values().back(), 1.05);
  EXPECT_EQ(point.RecordTime(), ParseTimeText("2020-01-02 00:00:00"));
  const std::string dump = point.ToText();
  EXPECT_TRUE(StartsWith(dump, "\n>>>> [Point] <<<<\nSymbol: EURUSD\nTime: 2020/01/02 00:00:00"
                               "\nPointValueSize: 10\nPointTypeSize: 10\nPointCommentSize: 0"
                               "\n[0] 1.150000 -1\n"))
      << dump;
  EXPECT_NE(dump.find("\n[4] 1.100000 0\n[5] 1.090000 1"), std::string::npos) << dump;
  EXPECT_EQ(point.SelectSql(),
            "SELECT * FROM `RsPoint` WHERE `Symbol`='EURUSD' AND `SrcKbn`=2 AND "
            "`Time`='2020/01/02 00:00:00'");
  // The missing level is written as NULL.
  EXPECT_NE(point.UpdateSql().find("`R2`=1.120000,`R1`=NULL,`Pivot`=1.100000"), std::string::npos);
  std::unique_ptr<CTestRows> missing(OneRow({{"Symbol", "X"}, {"Pivot", "-1"}}));
  EXPECT_TRUE(CTblPoint(missing->Row()).Values().empty());
}

TEST(TblMessage, EmailNoticeAndNames) {
  CTblMessage message("desk@example.invalid", "ops@example.invalid", "", "Closed", "PL 10");
  EXPECT_EQ(message.ContentTypeCode(), 9);
  EXPECT_EQ(message.TypeCode(), 4);
  const std::string dump = message.ToText();
  EXPECT_TRUE(StartsWith(dump, "\n>>>> [Message] <<<<\nContentType: 9(Email.)\nType: 4(SMTP.)"
                               "\nFrom: desk@example.invalid\nTO: ops@example.invalid\nCC: \nBCC: "
                               "\nSubject: Closed\nTime: "))
      << dump;
  EXPECT_TRUE(EndsWith(dump, "\nText: PL 10")) << dump;
  message.SetCodes(0, 0);
  EXPECT_NE(message.ToText().find("\nContentType: 0()\nType: 0(Plane message.)\n"), std::string::npos);
  const char* const contentNames[] = {"",           "Plain message.",     "Trading hours.",
                                      "Questions.", "Information.",       "Market conditions.",
                                      "Software update.", "Emergency.",   "System.",
                                      "Email.",     ""};
  for (int code = 0; code <= 10; ++code) {
    EXPECT_EQ(CTblMessage::ContentTypeName(code), contentNames[code]) << code;
  }
  EXPECT_EQ(CTblMessage::TypeName(1), "Popup message(doesn't require the answer).");
  EXPECT_EQ(CTblMessage::TypeName(2), "Popup message(requires the answer).");
  EXPECT_EQ(CTblMessage::TypeName(3), "POP3.");
  EXPECT_EQ(CTblMessage::TypeName(5), "");
  EXPECT_EQ(CTblMessage::TypeName(-1), "");
}

TEST(TblTsContextTitle, KeyIsTheMd5OfTheTitles) {
  std::unique_ptr<CTestRows> rows(OneRow({{"TitleSeq", "3"}, {"TitleMd5", "old"}, {"T1", "Entry"},
                                          {"T2", "Exit"}}));
  CTblTsContextTitle titles(rows->Row());
  ASSERT_EQ(titles.Titles().size(), 40u);
  EXPECT_EQ(titles.TitleMd5(), "old");
  titles.SetKey("abc");
  EXPECT_EQ(titles.TitleMd5(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(titles.TitleText(), "Entry\tExit" + std::string(38, '\t'));
  titles.SetKey(titles.TitleText());
  EXPECT_EQ(titles.TitleMd5(), Md5Hex("Entry\tExit" + std::string(38, '\t')));
  EXPECT_EQ(titles.SelectSql(),
            "SELECT * FROM `TsContextTitle` WHERE `TitleMd5`='" + titles.TitleMd5() + "'");
}

}  // namespace
