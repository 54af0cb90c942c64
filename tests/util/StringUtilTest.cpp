// Text helpers and the rule for values in SQL.
#include "util/StringUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "db/SqlText.h"

namespace {

using Pieces = std::vector<std::string>;

TEST(StringUtil, ReplaceAllNeverRescansItsReplacement) {
  const char* const cases[][4] = {  // text, search, replacement, result ("-": no match, text kept)
      {"aaa", "a", "aa", "aaaaaa"}, {"bbb", "a", "aa", "-"}, {"EUR/USD/", "/", "", "EURUSD"}, {"aabb", "ab", "", "ab"}, {"abc", "", "x", "-"}};
  for (const auto& c : cases) {
    std::string text = c[0];
    EXPECT_EQ(ReplaceAll(text, c[1], c[2]) ? text : "-" + std::string(text == c[0] ? "" : " changed"), c[3]) << c[0] << " " << c[1];
  }
}

TEST(StringUtil, SplitsAtAnySeparatorByteOrTheWholeSeparator) {
  const struct {
    bool any;
    const char* text;
    const char* separator;
    Pieces pieces;
  } cases[] = {
      {true, "a,,b", ",", {"a", "", "b"}}, {true, "a,", ",", {"a", ""}}, {true, "2024/01/02 03:04", "/ :", {"2024", "01", "02", "03", "04"}}, {true, "", ",", {}},
      {false, "{a},{b},", "},", {"{a", "{b", ""}}, {false, "}}},", "},", {"}}", ""}}, {false, "a}b,c", "},", {"a}b,c"}}, {false, "", "},", {}},
  };
  for (const auto& c : cases) {
    Pieces pieces{"stale"};
    c.any ? SplitAny(c.text, c.separator, pieces) : SplitText(c.text, c.separator, pieces);
    EXPECT_EQ(pieces, c.pieces) << c.text << " at " << c.separator;
  }
}

TEST(StringUtil, NumbersFollowPrintfAndCapitalsFoldOutsideTwoByteCharacters) {
  EXPECT_EQ(IntToText(INT32_MIN) + " " + IntToText(0) + " " + DoubleToText(1.5) + " " + DoubleToText(-0.0000004) + " " + DoubleToText(1e20), "-2147483648 0 1.500000 -0.000000 100000000000000000000.000000");
  const std::string huge = DoubleToText(1e300);
  EXPECT_EQ(huge.substr(0, 4) + huge.substr(huge.size() - 7) + std::to_string(huge.size()), "1000.000000308");
  const std::string folds[][2] = {{"ABC xYz-09[]", "abc xyz-09[]"}, {"\x82" "A", "\x82" "A"}, {"\xE0" "ZQ", "\xE0" "Zq"}, {"\xA4\xA2" "B", "\xA4\xA2" "b"}, {"\x82\x7F" "A", "\x82\x7F" "a"}, {"A\x82", "a\x82"}, {"\x82", "\x82"}};
  for (const auto& c : folds) {
    std::string text = c[0];
    ToLower(text);
    EXPECT_EQ(text, c[1]) << ::testing::PrintToString(c[0]);
  }
  errno = ENOMEM;
  EXPECT_EQ(LastErrorText(), "[" + std::to_string(ENOMEM) + "] " + std::strerror(ENOMEM));
}

TEST(SqlText, ValuesThatCouldEndTheirLiteralAreRefused) {
  for (const char* value : {"", "1001", "EUR/USD", "2026/12/05 09:00:00", "-12.5", "ops user", "\xE3\x83\x89", "a\"b", "50%_x", "--", "/*", ";"}) EXPECT_TRUE(IsSqlValue(value)) << value;
  for (const std::string& value : {std::string("1' OR '1'='1"), std::string("abc\\"), std::string("a\0b", 3), std::string("a\nb"), std::string("\t"), std::string(1, '\x1a'), std::string(1, '\x7f'), std::string("\x81\\")}) {
    EXPECT_FALSE(IsSqlValue(value)) << ::testing::PrintToString(value);
  }
  for (const char* number : {"0", "-1", "+2", "10.5", ".5", "5.", "123456789012"}) EXPECT_TRUE(IsSqlNumber(number)) << number;
  for (const char* text : {"", "-", ".", "1e3", "1.2.3", "0x10", "1 ", " 1", "1 OR 1=1", "--1", "NaN", "1,5"}) EXPECT_FALSE(IsSqlNumber(text)) << "[" << text << "]";
  CSqlText sql("UPDATE `X` SET ");
  sql.List().Column("A").Quoted("a").Column("B").Number(1.5).Column("C").Integer(-3);
  sql.Add(" WHERE ").List().Item().Add("x").Item().Add("y").Add(" AND t.PL>=").UnquotedNumber("-5.5");
  EXPECT_FALSE(sql.Refused());
  EXPECT_EQ(sql.Text(), "UPDATE `X` SET `A`='a',`B`=1.500000,`C`=-3 WHERE x,y AND t.PL>=-5.5");
  EXPECT_EQ(CSqlText("SELECT 1 WHERE a>=").UnquotedNumber("1 OR 1=1").Text(), "");
  CSqlText refused("x=");
  refused.Quoted("ok").Quoted("a\\").Add(" AND 1");
  EXPECT_TRUE(refused.Refused());
  EXPECT_EQ(refused.Text(), "");
}

}  // namespace
