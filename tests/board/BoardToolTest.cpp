// zelvora-board as an operator runs it, checked through the readers that
// the CGI program uses. "KEY" in an expected text stands for the board's key.
#include <unistd.h>

#include <gtest/gtest.h>

#include "desk/Zelvora.h"
#include "support/Desk.h"

namespace {

struct ToolCase {
  Lines args;  // "KEY" stands for a fresh key of the given kind
  std::string input;
  int status;
  std::string out, err;
};

std::string WithKey(std::string text, const std::string& key) {
  for (auto at = text.find("KEY"); at != std::string::npos; at = text.find("KEY", at + key.size())) text.replace(at, 3, key);
  return text;
}

ProcessResult Tool(const Lines& args, const std::string& input, const std::string& key) {
  ProcessLaunch launch{ZELVORA_BOARD, {}, {}, input};
  for (const std::string& arg : args) launch.args.push_back(WithKey(arg, key));
  return RunProcess(launch);
}

class BoardTool : public ::testing::Test {
 protected:
  void TearDown() override { RemoveBoardsMarked(".zt" + std::to_string(getpid()) + "-"); }
  void Expect(const std::string& kind, const std::vector<ToolCase>& cases) {
    const std::string key = UniqueKey(kind);
    for (const ToolCase& c : cases) {
      const ProcessResult result = Tool(c.args, c.input, key);
      const std::string shown = ::testing::PrintToString(c.args) + " " + c.input;
      EXPECT_EQ(result.status, c.status) << shown;
      EXPECT_EQ(result.out, WithKey(c.out, key)) << shown;
      EXPECT_EQ(result.err, WithKey(c.err, key)) << shown;
      EXPECT_TRUE(c.status != 1 || BoardGone(key)) << shown << ": a refused write leaves nothing";
    }
  }
  static std::string ReadAll(const std::string& key, int32_t size) {
    CDeskService service;
    std::string out;
    return service.ReadBoard(key, size, out, 0) == 0 ? out : "(unreadable)";
  }
};

TEST_F(BoardTool, WritesDumpsAndRemovesBoardsTheReadersRead) {
  const std::string key = UniqueKey("account");
  const struct {
    ToolCase step;
    std::string read;  // what the readers give afterwards, "" for nothing to check
  } steps[] = {
      {{{"write", "KEY"}, "{\"AccountID\":\"7\",\"Balance\":1.5}\n\n  {\"AccountID\":\"70\"}  \r\n", 0, "board KEY: 2 records of 31 bytes\n", ""}, "{\"AccountID\":\"7\",\"Balance\":1.5},{\"AccountID\":\"70\"}"},
      {{{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 2, record size 31\n0 {\"AccountID\":\"7\",\"Balance\":1.5}\n1 {\"AccountID\":\"70\"}\n", ""}, ""},
      // Two options at once; fewer records leave no old ones.
      {{{"write", "KEY", "--size", "1812", "--record-size", "500"}, "{\"b\":1}\n", 0, "board KEY: 1 records of 500 bytes\n", ""}, "{\"b\":1}"},
      {{{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 1, record size 500\n0 {\"b\":1}\n", ""}, ""},
      {{{"write", "KEY"}, "", 0, "board KEY: 0 records of 1 bytes\n", ""}, "(nothing)"},
      {{{"remove", "KEY"}, "", 0, "", ""}, "(gone)"},
      {{{"remove", "KEY"}, "", 1, "", "zelvora-board: no board KEY: No such file or directory\n"}, "(gone)"},
      {{{"dump", "KEY"}, "", 1, "", "zelvora-board: cannot read board KEY: No such file or directory\n"}, ""},
  };
  for (const auto& s : steps) {
    const ProcessResult result = Tool(s.step.args, s.step.input, key);
    const std::string shown = ::testing::PrintToString(s.step.args);
    EXPECT_EQ(result.status, s.step.status) << shown;
    EXPECT_EQ(result.out, WithKey(s.step.out, key)) << shown;
    EXPECT_EQ(result.err, WithKey(s.step.err, key)) << shown;
    if (s.read == "(gone)") {
      EXPECT_TRUE(BoardGone(key)) << shown;
    } else if (!s.read.empty()) {
      EXPECT_EQ(ReadAll(key, 1812), s.read == "(nothing)" ? "" : s.read) << shown;
    }
  }
}

TEST_F(BoardTool, BuildsTheOfferIndexFromSymbols) {
  const std::string key = UniqueKey("offer");
  ASSERT_EQ(Tool({"write", "KEY"}, "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n{\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n", key).status, 0);
  CDeskService service;
  CMarkupNode first, second;
  first.text = "USD/JPY";
  second.text = "EURUSD";
  std::string out;
  ASSERT_EQ(service.ReadBoardByKeys(key, 64032, out, 4000, {&first, &second}), 0);
  EXPECT_EQ(out, "{\"Symbol\":\"USD/JPY\",\"Bid\":150.1},{\"Symbol\":\"EURUSD\",\"Bid\":1.08}");
  EXPECT_NE(Tool({"dump", "KEY"}, "", key).out.find("index {\"EURUSD\":0,\"USD\\/JPY\":1}\n"), std::string::npos);
}

TEST_F(BoardTool, RefusesWhatDoesNotFitAndWritesNothing) {
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

TEST_F(BoardTool, UsageErrorsExitTwo) {
  const ProcessResult help = Tool({"--help"}, "", "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: zelvora-board write KEY"), std::string::npos);
  for (const Lines& args : {Lines{}, Lines{"frobnicate", "account.1"}, Lines{"write", "account.1", "--size"}, Lines{"write", "account.1", "--size", "-4"}, Lines{"write", "account.1", "--sizes", "4"}}) {
    EXPECT_EQ(Tool(args, "", "").status, 2) << ::testing::PrintToString(args);
  }
}

}  // namespace
