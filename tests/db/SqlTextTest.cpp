#include "db/SqlText.h"

#include <gtest/gtest.h>

namespace {

TEST(SqlValue, OrdinaryValuesPass) {
  for (const char* value : {"", "1001", "EUR/USD", "2026/12/05 09:00:00", "-12.5", "ops user",
                            "\xE3\x83\x89\xE3\x83\xAB", "a\"b", "50%_x", "--", "/*", ";"}) {
    EXPECT_TRUE(IsSqlValue(value)) << value;
  }
}

TEST(SqlValue, AnythingThatCouldEndItsLiteralIsRefused) {
  const std::string refused[] = {
      "1' OR '1'='1", "'", "abc\\", "\\'", std::string("a\0b", 3), "a\nb", "\t", "\r",
      std::string(1, '\x1a'), std::string(1, '\x7f'), "\x81\\",
  };
  for (const auto& value : refused) {
    EXPECT_FALSE(IsSqlValue(value)) << ::testing::PrintToString(value);
  }
}

TEST(SqlNumber, TakesPlainDecimalsOnly) {
  for (const char* number : {"0", "-1", "+2", "10.5", ".5", "5.", "-0.25", "123456789012"}) {
    EXPECT_TRUE(IsSqlNumber(number)) << number;
  }
  for (const char* text : {"", "-", ".", "1e3", "1.2.3", "0x10", "1 ", " 1", "1;", "1 OR 1=1",
                           "--1", "NaN", "1,5"}) {
    EXPECT_FALSE(IsSqlNumber(text)) << "[" << text << "]";
  }
}

TEST(SqlText, BuildsFixedTextsAndValuesInOrder) {
  CSqlText sql("SELECT * FROM `Trade`");
  sql.Add(" WHERE `AccountId`=").Quoted("1001").Add(" AND `CloseOrderID`=''");
  sql.Add(" AND t.PL>=").UnquotedNumber("-5.5");
  EXPECT_FALSE(sql.Refused());
  EXPECT_EQ(sql.Text(),
            "SELECT * FROM `Trade` WHERE `AccountId`='1001' AND `CloseOrderID`='' AND t.PL>=-5.5");
}

TEST(SqlText, ListsSeparateTheirItems) {
  CSqlText sql("UPDATE `X` SET ");
  sql.List().Column("A").Quoted("a").Column("B").Number(1.5).Column("C").Integer(-3);
  sql.Add(" WHERE ").List().Item().Add("x").Item().Add("y");
  EXPECT_EQ(sql.Text(), "UPDATE `X` SET `A`='a',`B`=1.500000,`C`=-3 WHERE x,y");
}

TEST(SqlText, ARefusedValueLeavesNoStatement) {
  EXPECT_EQ(CSqlText("SELECT 1 WHERE a=").Quoted("x'y").Add(" AND 1").Text(), "");
  EXPECT_EQ(CSqlText("SELECT 1 WHERE a>=").UnquotedNumber("1 OR 1=1").Text(), "");
  CSqlText sql("x=");
  sql.Quoted("ok").Quoted("a\\");
  EXPECT_TRUE(sql.Refused());
  EXPECT_EQ(sql.Text(), "");
}

}  // namespace
