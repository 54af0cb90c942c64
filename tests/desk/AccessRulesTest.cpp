// The grants file's format: what each line grants, and the first line that
// breaks it, which refuses the whole file.
#include <gtest/gtest.h>

#include "desk/AccessRules.h"

namespace {

struct RulesCase {
  // error: "" when the text is taken
  std::string text, error;
  std::string user, account;
  // what `user` may do with `account`
  bool read = false, trade = false;
};

const std::string
    kExpected = "line 1: expected USER read|trade ACCOUNT...",
    kUser = "line 1: a user name of letters, digits and . _ @ - (at most 32) must come first";

const RulesCase kRulesCases[] = {
    {"# traders\r\n\n  alice\ttrade 1001  1002\r\nalice read 2001\n", "", "alice", "1002", true,
     true},
    // A comment ends the line; an account it names is not granted.
    {"alice trade 1001\nalice read 2001 # and 2002\n", "", "alice", "2002"},
    {"alice trade 1001\nalice read 2001",
     "does not end in a line end (half written? replace it by rename)"},
    {"", "", "alice", "1001"},
    {"alice read 2001\n", "", "Alice", "2001"},
    {"desk.ops@example.com trade *\n", "", "desk.ops@example.com", "any-9_x.y", true, true},
    {"bob read *\n", "", "bob", "*", true, false},
    {"bob read *\n", "", "bo", "1"},
    {"bob read 1\nalice\n", "line 2" + kExpected.substr(6), "bob", "1"},
    {"alice trade\n", kExpected},
    // the verb is read or trade, in that case
    {"alice write 1\n", kExpected},
    {"# a\n\nal!ce read 1\n", "line 3" + kUser.substr(6)},
    {std::string(CAccessRules::kMaxBytes + 1, '#'), "larger than 4194304 bytes"},
};

TEST(AccessRules, GrantWhatTheLinesSayAndRefuseAWholeFileForOneBadLine) {
  for (const RulesCase& c : kRulesCases) {
    for (const std::string* only : {static_cast<const std::string*>(nullptr), &c.user}) {
      CAccessRules rules;
      std::string error = "stale";
      const std::string what = c.text.substr(0, 80) + " " + c.user + " " + c.account;
      EXPECT_EQ(rules.Parse(c.text, error, only), c.error.empty() ? 0 : -1) << what;
      EXPECT_EQ(error, c.error) << what;
      EXPECT_EQ(rules.MayRead(c.user, c.account), c.read) << what;
      EXPECT_EQ(rules.MayTrade(c.user, c.account), c.trade) << what;
      EXPECT_EQ(rules.Knows("alice"), c.error.empty() &&
                                          c.text.find("alice") != std::string::npos &&
                                          (!only || c.user == "alice"))
          << what;
    }
  }
}

}  // namespace
