// zelvora-board as an operator runs it, checked through the readers that
// the CGI program uses.
#include <gtest/gtest.h>

#include "desk/Zelvora.h"
#include "support/Boards.h"
#include "support/Process.h"

namespace {

ProcessResult Tool(std::vector<std::string> args, const std::string& input = "") {
  ProcessLaunch launch;
  launch.program = ZELVORA_BOARD;
  launch.args = std::move(args);
  launch.input = input;
  return RunProcess(launch);
}

std::string ReadAll(const std::string& key, int32_t size) {
  CDeskService service;
  std::string out;
  return service.ReadBoard(key, size, out, 0) == 0 ? out : "(unreadable)";
}

TEST(BoardToolWrite, WritesRecordsTheReadersGiveBack) {
  ScopedBoard board(UniqueKey("account"));
  const ProcessResult write = Tool({"write", board.Key()},
                                   "{\"AccountID\":\"7\",\"Balance\":1.5}\n"
                                   "\n"
                                   "  {\"AccountID\":\"70\"}  \r\n");
  ASSERT_EQ(write.status, 0) << write.err;
  EXPECT_EQ(write.out, "board " + board.Key() + ": 2 records of 31 bytes\n");
  EXPECT_EQ(ReadAll(board.Key(), 1812), "{\"AccountID\":\"7\",\"Balance\":1.5},{\"AccountID\":\"70\"}");

  const ProcessResult dump = Tool({"dump", board.Key()});
  EXPECT_EQ(dump.status, 0);
  EXPECT_EQ(dump.out, "board " + board.Key() +
                          ": 1812 bytes, index area 0\n"
                          "count 2, record size 31\n"
                          "0 {\"AccountID\":\"7\",\"Balance\":1.5}\n"
                          "1 {\"AccountID\":\"70\"}\n");
}

TEST(BoardToolWrite, RewritingWithFewerRecordsLeavesNoOldOnes) {
  ScopedBoard board(UniqueKey("trade"));
  ASSERT_EQ(Tool({"write", board.Key()}, "{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n").status, 0);
  ASSERT_EQ(Tool({"write", board.Key(), "--record-size", "500"}, "{\"b\":1}\n").status, 0);
  EXPECT_EQ(ReadAll(board.Key(), 114012), "{\"b\":1}");
  EXPECT_NE(Tool({"dump", board.Key()}).out.find("count 1, record size 500\n"), std::string::npos);
  ASSERT_EQ(Tool({"write", board.Key()}, "").status, 0);
  EXPECT_EQ(ReadAll(board.Key(), 114012), "");
}

TEST(BoardToolWrite, BuildsTheOfferIndexFromSymbols) {
  ScopedBoard board(UniqueKey("offer"));
  const ProcessResult write = Tool({"write", board.Key()},
                                   "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n"
                                   "{\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n");
  ASSERT_EQ(write.status, 0) << write.err;
  CDeskService service;
  CMarkupNode first, second;
  first.text = "USD/JPY";
  second.text = "EURUSD";
  std::string out;
  ASSERT_EQ(service.ReadBoardByKeys(board.Key(), 64032, out, 4000, {&first, &second}), 0);
  EXPECT_EQ(out, "{\"Symbol\":\"USD/JPY\",\"Bid\":150.1},{\"Symbol\":\"EURUSD\",\"Bid\":1.08}");
  EXPECT_NE(Tool({"dump", board.Key()}).out.find("index {\"EURUSD\":0,\"USD\\/JPY\":1}\n"),
            std::string::npos);
}

struct Refusal {
  std::vector<std::string> args;  // after "write KEY"
  std::string input;
  std::string message;            // "KEY" stands for the key
};

TEST(BoardToolWrite, RefusesWhatDoesNotFitAndWritesNothing) {
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "{\"AccountID\":\"" + std::to_string(1000 + i) + "\"}\n";
  const Refusal refusals[] = {
      {{"--record-size", "100"}, twenty,
       "zelvora-board: 20 records of 100 bytes need 2012 bytes; board KEY holds 1812\n"},
      {{"--record-size", "5"}, "{\"a\":1}\n",
       "zelvora-board: record 0 is 7 bytes, over the record size 5\n"},
      {{}, "{\"a\":1}\n[1,2]\n", "zelvora-board: line 2: not a JSON object\n"},
      {{}, "{\"a\":1} {}\n", "zelvora-board: line 1: text after the object\n"},
      {{}, "{\"a\":-1e400}\n", "zelvora-board: line 1: syntax error: number out of range\n"},
      {{"--index", "10"}, "{\"a\":1}\n", "zelvora-board: record 0 has no \"Symbol\" text for the index\n"},
      {{"--index", "10"}, "{\"Symbol\":\"EURUSD\"}\n{\"Symbol\":\"EURUSD\"}\n",
       "zelvora-board: symbol EURUSD stands in two records\n"},
      {{"--index", "10"}, "{\"Symbol\":\"EURUSDX\"}\n",
       "zelvora-board: the index needs 13 bytes; the index area holds 10\n"},
  };
  for (const auto& refusal : refusals) {
    ScopedBoard board(UniqueKey("account"));
    std::vector<std::string> args = {"write", board.Key()};
    args.insert(args.end(), refusal.args.begin(), refusal.args.end());
    const ProcessResult result = Tool(args, refusal.input);
    std::string message = refusal.message;
    const auto at = message.find("KEY");
    if (at != std::string::npos) message.replace(at, 3, board.Key());
    EXPECT_EQ(result.status, 1) << refusal.input;
    EXPECT_EQ(result.err, message) << refusal.input;
    EXPECT_TRUE(BoardGone(board.Key())) << refusal.input;
  }
}

TEST(BoardToolUsage, HelpAndErrors) {
  const ProcessResult help = Tool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: zelvora-board write KEY"), std::string::npos);
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"frobnicate", "account.1"}).status, 2);
  EXPECT_EQ(Tool({"write", "account.1", "--size"}).status, 2);
  EXPECT_EQ(Tool({"write", "account.1", "--size", "-4"}).status, 2);
  const ProcessResult unknown = Tool({"write", "ledger.1"}, "{}\n");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "zelvora-board: no known board for key ledger.1; give --size\n");
}

TEST(BoardToolRemove, RemovesObjectAndSemaphoreOnce) {
  ScopedBoard board(UniqueKey("account"));
  ASSERT_EQ(Tool({"write", board.Key()}, "{}\n").status, 0);
  EXPECT_FALSE(BoardGone(board.Key()));
  EXPECT_EQ(Tool({"remove", board.Key()}).status, 0);
  EXPECT_TRUE(BoardGone(board.Key()));
  const ProcessResult again = Tool({"remove", board.Key()});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "zelvora-board: no board " + board.Key() + ": No such file or directory\n");
  const ProcessResult dump = Tool({"dump", board.Key()});
  EXPECT_EQ(dump.status, 1);
  EXPECT_EQ(dump.err, "zelvora-board: cannot read board " + board.Key() +
                          ": No such file or directory\n");
}

}  // namespace
