// Text helpers, where their edges lie beyond what the requests reach: a
// replacement that would match again, a number longer than the small
// buffer, and capitals after a two-byte character's lead byte.
#include <gtest/gtest.h>

#include "util/StringUtil.h"

namespace {

TEST(StringUtil, EdgesTheRequestsDoNotReach) {
  std::string text = "aaa", untouched = "bbb";
  EXPECT_TRUE(ReplaceAll(text, "a", "aa") && !ReplaceAll(untouched, "a", "aa") &&
              !ReplaceAll(untouched, "", "x"));
  EXPECT_EQ(text + untouched, "aaaaaabbb") << "a replacement is never scanned again";
  std::vector<std::string> whole{"stale"}, any{"stale"};
  SplitText("}}},", "},", whole);
  SplitAny("2024/01/02 03:04,", "/ :,", any);
  EXPECT_EQ(whole, (std::vector<std::string>{"}}", ""}));
  EXPECT_EQ(any, (std::vector<std::string>{"2024", "01", "02", "03", "04", ""}));
  const std::string huge = DoubleToText(1e300);
  EXPECT_EQ(huge.substr(0, 4) + huge.substr(huge.size() - 7) + std::to_string(huge.size()) +
                IntToText(INT32_MIN),
            "1000.000000308-2147483648");
  const std::string folds[][2] = {{"ABC xYz-09[]", "abc xyz-09[]"},
                                  {"\x82"
                                   "A",
                                   "\x82"
                                   "A"},
                                  {"\xE0"
                                   "ZQ",
                                   "\xE0"
                                   "Zq"},
                                  {"\xA4\xA2"
                                   "B",
                                   "\xA4\xA2"
                                   "b"},
                                  {"\x82\x7F"
                                   "A",
                                   "\x82\x7F"
                                   "a"},
                                  {"A\x82", "a\x82"}};
  for (const auto& c : folds) {
    std::string folded = c[0];
    ToLower(folded);
    EXPECT_EQ(folded, c[1]) << ::testing::PrintToString(c[0]);
  }
}

// What a diagnostic shows of a request's text: nothing that can end or forge
// a log line, or garble its encoding.
TEST(StringUtil, PrintableEscapesWhatCouldForgeALogLine) {
  const std::string cases[][2] = {
      {"a\nb\x1b[2J\x7f", "a\\x0Ab\\x1B[2J\\x7F"},
      {"\xc3\xa9\xe6\x97\xa5", "\xc3\xa9\xe6\x97\xa5"},
      {"\xff\xe6\x97", "\\xFF\\xE6\\x97"},
      {"\xc2\x85\xc2\x9b\xc2\xa0", "\\xC2\\x85\\xC2\\x9B\xc2\xa0"},
      {"\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xa6", "\\xE2\\x80\\xA8\\xE2\\x80\\xA9\xe2\x80\xa6"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c[0]), c[1]) << ::testing::PrintToString(c[0]);
}

}  // namespace
