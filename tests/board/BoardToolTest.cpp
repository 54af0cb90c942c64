// zelvora-board as an operator runs it, checked through the readers that
// the CGI program uses. "KEY" in a case stands for the board's key.
#include <gtest/gtest.h>

#include "desk/Zelvora.h"
#include "support/Desk.h"

namespace {

struct ToolCase {
  Lines args;
  std::string input;
  int status;
  std::string out, err;
  std::string read;  // what the readers give afterwards: "" unchecked, "(gone)", "(nothing)"
};

std::string WithKey(std::string text, const std::string& key) {
  for (auto at = text.find("KEY"); at != std::string::npos; at = text.find("KEY", at + key.size())) text.replace(at, 3, key);
  return text;
}

// Runs the cases in order on one fresh key of `kind`; a refused write (status 1) must leave nothing.
void Expect(const std::string& kind, const std::vector<ToolCase>& cases) {
  const std::string key = UniqueKey(kind);
  for (const ToolCase& c : cases) {
    ProcessLaunch launch{ZELVORA_BOARD, {}, {}, c.input};
    for (const std::string& arg : c.args) launch.args.push_back(WithKey(arg, key));
    const ProcessResult result = RunProcess(launch);
    const std::string shown = ::testing::PrintToString(c.args) + " " + c.input;
    EXPECT_EQ(result.status, c.status) << shown;
    EXPECT_EQ(result.out, WithKey(c.out, key)) << shown;
    EXPECT_EQ(result.err, WithKey(c.err, key)) << shown;
    CDeskService service;
    std::string read;
    const bool gone = c.read == "(gone)" || (c.status == 1 && c.args[0] == "write");
    EXPECT_TRUE(!gone || BoardGone(key)) << shown;
    const std::string want = c.read == "(nothing)" ? "" : c.read;
    EXPECT_TRUE(c.read.empty() || gone || (service.ReadBoard(key, 1812, read, 0) == 0 && read == want)) << shown << ": the readers give " << read;
  }
  RemoveBoardsMarked(key);
}

TEST(BoardTool, WritesDumpsAndRemovesBoardsTheReadersRead) {
  Expect("account", {
      {{"write", "KEY"}, "{\"AccountID\":\"7\",\"Balance\":1.5}\n\n  {\"AccountID\":\"70\"}  \r\n", 0, "board KEY: 2 records of 31 bytes\n", "", "{\"AccountID\":\"7\",\"Balance\":1.5},{\"AccountID\":\"70\"}"},
      {{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 2, record size 31\n0 {\"AccountID\":\"7\",\"Balance\":1.5}\n1 {\"AccountID\":\"70\"}\n", ""},
      // Two options at once; fewer records leave no old ones.
      {{"write", "KEY", "--size", "1812", "--record-size", "500"}, "{\"b\":1}\n", 0, "board KEY: 1 records of 500 bytes\n", "", "{\"b\":1}"},
      {{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 1, record size 500\n0 {\"b\":1}\n", ""},
      {{"write", "KEY"}, "", 0, "board KEY: 0 records of 1 bytes\n", "", "(nothing)"},
      {{"remove", "KEY"}, "", 0, "", "", "(gone)"},
      {{"remove", "KEY"}, "", 1, "", "zelvora-board: no board KEY: No such file or directory\n", "(gone)"},
      {{"dump", "KEY"}, "", 1, "", "zelvora-board: cannot read board KEY: No such file or directory\n"},
  });
  Expect("offer", {
      {{"write", "KEY"}, "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n{\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n", 0, "board KEY: 2 records of 32 bytes\n", ""},
      {{"dump", "KEY"}, "", 0, "board KEY: 64032 bytes, index area 4000\ncount 2, record size 32\nindex {\"EURUSD\":0,\"USD\\/JPY\":1}\n0 {\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n1 {\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n", ""},
  });
}

TEST(BoardTool, RefusesWhatDoesNotFitAndWritesNothing) {
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "{\"AccountID\":\"" + std::to_string(1000 + i) + "\"}\n";
  Expect("account", {
      {{"write", "KEY", "--record-size", "100"}, twenty, 1, "", "zelvora-board: 20 records of 100 bytes need 2012 bytes; board KEY holds 1812\n"},
      {{"write", "KEY", "--record-size", "5"}, "{\"a\":1}\n", 1, "", "zelvora-board: record 0 is 7 bytes, over the record size 5\n"},
      {{"write", "KEY"}, "{\"a\":1}\n[1,2]\n", 1, "", "zelvora-board: line 2: not a JSON object\n"},
      {{"write", "KEY"}, "{\"a\":1} {}\n", 1, "", "zelvora-board: line 1: text after the object\n"},
      {{"write", "KEY"}, "{\"a\":-1e400}\n", 1, "", "zelvora-board: line 1: syntax error: number out of range\n"},
      {{"write", "KEY", "--index", "10"}, "{\"a\":1}\n", 1, "", "zelvora-board: record 0 has no \"Symbol\" text for the index\n"},
      {{"write", "KEY", "--index", "10"}, "{\"Symbol\":\"EURUSD\"}\n{\"Symbol\":\"EURUSD\"}\n", 1, "", "zelvora-board: symbol EURUSD stands in two records\n"},
      {{"write", "KEY", "--index", "10"}, "{\"Symbol\":\"EURUSDX\"}\n", 1, "", "zelvora-board: the index needs 13 bytes; the index area holds 10\n"},
      {{"write", "KEY", "--size", "100", "--index", "90"}, "{}\n", 1, "", "zelvora-board: a 100-byte board cannot hold a 90-byte index\n"},
      {{"write", "ledger.1"}, "{}\n", 1, "", "zelvora-board: no known board for key ledger.1; give --size\n"},
  });
}

TEST(BoardTool, UsageErrorsExitTwo) {
  const ProcessResult help = RunProcess({ZELVORA_BOARD, {"--help"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: zelvora-board write KEY"), std::string::npos);
  for (const Lines& args : {Lines{}, Lines{"frobnicate", "account.1"}, Lines{"write", "account.1", "--size"}, Lines{"write", "account.1", "--size", "-4"}, Lines{"write", "account.1", "--sizes", "4"}}) {
    EXPECT_EQ(RunProcess({ZELVORA_BOARD, args}).status, 2) << ::testing::PrintToString(args);
  }
}

}  // namespace
