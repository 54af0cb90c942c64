#include "util/StringUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using Pieces = std::vector<std::string>;

TEST(ReplaceAll, NeverRescansItsOwnReplacement) {
  std::string text = "aaa";
  EXPECT_TRUE(ReplaceAll(text, "a", "aa"));
  EXPECT_EQ(text, "aaaaaa");
}

TEST(ReplaceAll, ReportsNoMatchAndLeavesTextAlone) {
  std::string text = "bbb";
  EXPECT_FALSE(ReplaceAll(text, "a", "aa"));
  EXPECT_EQ(text, "bbb");
}

TEST(ReplaceAll, RemovesWithEmptyReplacement) {
  std::string text = "EUR/USD/";
  EXPECT_TRUE(ReplaceAll(text, "/", ""));
  EXPECT_EQ(text, "EURUSD");
  std::string list = "('a','b',)";
  EXPECT_TRUE(ReplaceAll(list, ",)", ")"));
  EXPECT_EQ(list, "('a','b')");
}

TEST(ReplaceAll, FindsOccurrencesMadeByJoiningAroundARemoval) {
  // After "ab" goes, "a" + "b" meet again, but the search has moved on.
  std::string text = "aabb";
  EXPECT_TRUE(ReplaceAll(text, "ab", ""));
  EXPECT_EQ(text, "ab");
}

TEST(ReplaceAll, EmptySearchTextReplacesNothing) {
  std::string text = "abc";
  EXPECT_FALSE(ReplaceAll(text, "", "x"));
  EXPECT_EQ(text, "abc");
}

struct SplitCase {
  const char* text;
  const char* separator;
  Pieces pieces;
};

TEST(SplitAny, CutsAtEverySeparatorByte) {
  const SplitCase cases[] = {
      {"a,b", ",", {"a", "b"}},
      {"a,,b", ",", {"a", "", "b"}},
      {",", ",", {"", ""}},
      {",a", ",", {"", "a"}},
      {"a,", ",", {"a", ""}},
      {"2024/01/02 03:04:05", "/ :", {"2024", "01", "02", "03", "04", "05"}},
      {"abc", ",", {"abc"}},
  };
  for (const auto& c : cases) {
    Pieces pieces{"stale"};
    SplitAny(c.text, c.separator, pieces);
    EXPECT_EQ(pieces, c.pieces) << "text " << c.text << " separators " << c.separator;
  }
}

TEST(SplitAny, EmptyTextEmptiesTheList) {
  Pieces pieces{"left", "over"};
  SplitAny("", ",", pieces);
  EXPECT_TRUE(pieces.empty());
}

TEST(SplitText, CutsAtTheWholeSeparator) {
  const SplitCase cases[] = {
      {"{a},{b}", "},", {"{a", "{b}"}},
      {"{a},{b},", "},", {"{a", "{b", ""}},
      {"}}},", "},", {"}}", ""}},
      {"a}b,c", "},", {"a}b,c"}},
      {"},},", "},", {"", "", ""}},
  };
  for (const auto& c : cases) {
    Pieces pieces{"stale"};
    SplitText(c.text, c.separator, pieces);
    EXPECT_EQ(pieces, c.pieces) << "text " << c.text;
  }
  Pieces pieces{"stale"};
  SplitText("", "},", pieces);
  EXPECT_TRUE(pieces.empty());
}

TEST(NumberText, FollowsPrintf) {
  EXPECT_EQ(IntToText(-7), "-7");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(DoubleToText(1.5), "1.500000");
  EXPECT_EQ(DoubleToText(-0.0000004), "-0.000000");
  EXPECT_EQ(DoubleToText(1e20), "100000000000000000000.000000");
}

TEST(NumberText, LongDoubleTextIsWhole) {
  const std::string text = DoubleToText(1e300);
  EXPECT_EQ(text.size(), 301u + 7u) << text;
  EXPECT_EQ(text.substr(0, 4), "1000") << text;
  EXPECT_EQ(text.substr(text.size() - 7), ".000000") << text;
}

TEST(ToLower, FoldsAsciiCapitalsOnly) {
  std::string text = "ABC xYz-09[]";
  ToLower(text);
  EXPECT_EQ(text, "abc xyz-09[]");
}

TEST(ToLower, StepsOverTwoByteCharacters) {
  struct {
    std::string in, out;
  } cases[] = {
      {"\x82" "A", "\x82" "A"},          // lead 0x81-0x9F, trail in "A".."Z"
      {"\xE0" "Z" "Q", "\xE0" "Zq"},     // lead 0xE0-0xFC
      {"\xA4\xA2" "B", "\xA4\xA2" "b"},  // both 0xA1-0xFE
      {"\x82" "\x7F" "A", "\x82\x7F" "a"},  // 0x7F is no trail byte
      {"A\x82", "a\x82"},                // a last single byte
      {"\x82", "\x82"},
      {"Q", "q"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    ToLower(text);
    EXPECT_EQ(text, c.out) << "input bytes " << ::testing::PrintToString(c.in);
  }
}

TEST(LastErrorText, NamesErrnoAndItsMessage) {
  errno = 12;
  EXPECT_EQ(LastErrorText(), std::string("[12] ") + std::strerror(12));
  errno = 2;
  EXPECT_EQ(LastErrorText(), std::string("[2] ") + std::strerror(2));
}

}  // namespace
