// zelvora-board as an operator runs it, checked through the readers that
// the CGI program uses. "KEY" in a case stands for the board's key.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "desk/Zelvora.h"
#include "shm/ShareMemory.h"
#include "support/Desk.h"

namespace {

struct ToolCase {
  Lines args;
  std::string input;
  int status;
  std::string out, err;
  std::string read;  // what the readers give afterwards: "" or "-" unchecked, "(gone)", "(nothing)"
  Lines env;
};

// `text` with KEY and OWNER ("user:group" of this process) filled in.
std::string WithKey(std::string text, const std::string& key) {
  const std::string owner = std::string(getpwuid(geteuid())->pw_name) + ":" + getgrgid(getegid())->gr_name;
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"KEY", key}, {"OWNER", owner}}) {
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) text.replace(at, name.size(), value);
  }
  return text;
}

// Runs the cases in order on `key`; a refused write with "" to read after must leave nothing.
void Expect(const std::string& key, const std::vector<ToolCase>& cases) {
  for (const ToolCase& c : cases) {
    ProcessLaunch launch{ZELVORA_BOARD, {}, c.env, c.input};
    launch.env.push_back(std::string("TZ=") + std::getenv("TZ"));
    for (const std::string& arg : c.args) launch.args.push_back(WithKey(arg, key));
    const ProcessResult result = RunProcess(launch);
    const std::string shown = ::testing::PrintToString(c.args) + " " + c.input;
    EXPECT_EQ(std::to_string(result.status) + " " + MaskNow(result.out) + "|" + result.err, std::to_string(c.status) + " " + WithKey(c.out + "|" + c.err, key)) << shown;
    std::string read;
    const bool gone = c.read == "(gone)" || (c.status == 1 && c.args[0] == "write" && c.read.empty());
    EXPECT_TRUE(!gone || BoardGone(key)) << shown;
    EXPECT_TRUE(c.read.empty() || c.read == "-" || gone || (CDeskService().ReadBoard(key, 1812, read, 0) == 0 && read == (c.read == "(nothing)" ? "" : c.read))) << shown << ": the readers give " << read;
  }
}

class BoardTool : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_PRIVATE_SHM(); }
};

TEST_F(BoardTool, WritesDumpsAndRemovesBoardsTheReadersRead) {
  Expect(UniqueKey("account"), {
      {{"write", "KEY"}, "{\"AccountID\":\"7\",\"Balance\":1.5}\n\n  {\"AccountID\":\"70\"}  \r\n", 0, "board KEY: 2 records of 31 bytes\n", "", "{\"AccountID\":\"7\",\"Balance\":1.5},{\"AccountID\":\"70\"}"},
      {{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 2, record size 31\n0 {\"AccountID\":\"7\",\"Balance\":1.5}\n1 {\"AccountID\":\"70\"}\n", ""},
      // Two options at once; fewer records leave no old ones.
      {{"write", "KEY", "--size", "1812", "--record-size", "500"}, "{\"b\":1}\n", 0, "board KEY: 1 records of 500 bytes\n", "", "{\"b\":1}"},
      {{"dump", "KEY"}, "", 0, "board KEY: 1812 bytes, index area 0\ncount 1, record size 500\n0 {\"b\":1}\n", ""},
      {{"write", "KEY"}, "", 0, "board KEY: 0 records of 1 bytes\n", "", "(nothing)"},
      {{"write", "KEY", "--size", "9000"}, "{\"c\":3}\n", 0, "board KEY: 1 records of 7 bytes\n", "", "{\"c\":3}"},  // the board grows
      {{"remove", "KEY"}, "", 0, "", "", "(gone)"},
      {{"remove", "KEY"}, "", 1, "", "zelvora-board: no board KEY: No such file or directory\n", "(gone)"},
      {{"dump", "KEY"}, "", 1, "", "zelvora-board: cannot read board KEY: No such file or directory\n"},
  });
  Expect(UniqueKey("offer"), {
      {{"write", "KEY"}, "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n{\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n", 0, "board KEY: 2 records of 32 bytes\n", ""},
      {{"dump", "KEY"}, "", 0, "board KEY: 64032 bytes, index area 4000\ncount 2, record size 32\nindex {\"EURUSD\":0,\"USD\\/JPY\":1}\n0 {\"Symbol\":\"EURUSD\",\"Bid\":1.08}\n1 {\"Symbol\":\"USD/JPY\",\"Bid\":150.1}\n", ""},
  });
}

TEST_F(BoardTool, RefusesWhatDoesNotFitAndWritesNothing) {
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "{\"AccountID\":\"" + std::to_string(1000 + i) + "\"}\n";
  Expect(UniqueKey("account"), {
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

TEST_F(BoardTool, ShowsBoardsAndFreesOnlyALockThatStaysHeld) {
  const std::string key = UniqueKey("account");
  const std::string status = "board KEY\n  segment: 4096 bytes, mode 0660, owner OWNER, changed NOW\n  header: count 1, record size 7\n  semaphore: value ";
  Expect(key, {
      {{"write", "KEY"}, "{\"a\":1}\n", 0, "board KEY: 1 records of 7 bytes\n", ""},
      {{"status", "KEY"}, "", 0, status + "1, mode 0660, owner OWNER\n", ""},
      {{"unlock", "KEY", "--held", "100"}, "", 1, "", "zelvora-board: board KEY is not stuck: its lock came free within 100 ms; nothing changed\n", "{\"a\":1}"},
      {{"status", "KEY", "account.zt-none"}, "", 1, status + "1, mode 0660, owner OWNER\nboard account.zt-none\n  segment: none (No such file or directory)\n  semaphore: none (No such file or directory)\n", ""},
  });
  CShareMemory writer;  // a writer that died holding the lock
  ASSERT_EQ(writer.Open(key, 1812, false, false) + writer.Lock(), 0);
  Expect(key, {
      {{"dump", "KEY"}, "", 1, "", "zelvora-board: board KEY is locked: held for more than 1000 ms (see zelvora-board unlock)\n"},
      {{"write", "KEY"}, "{\"b\":2}\n", 1, "", "zelvora-board: board KEY is locked: held for more than 100 ms (see zelvora-board unlock)\n", "-", {"SHM_LOCK_MS=100"}},
      {{"status", "KEY"}, "", 0, status + "0 (taken), mode 0660, owner OWNER\n", ""},
      {{"unlock", "KEY", "--held", "200"}, "", 0, "board KEY unlocked: its lock had been held for more than 200 ms\n", "", "{\"a\":1}"},
  });
  Expect(UniqueKey("account"), {{{"write", "KEY"}, "{}\n", 1, "", "zelvora-board: SHM_GROUP no-such-group names no group\n", "", {"SHM_GROUP=no-such-group"}}});
}

TEST_F(BoardTool, UsageErrorsExitTwo) {
  const ProcessResult help = RunProcess({ZELVORA_BOARD, {"--help"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: zelvora-board write KEY"), std::string::npos);
  for (const Lines& args : {Lines{}, Lines{"frobnicate", "account.1"}, Lines{"write", "account.1", "--size"}, Lines{"write", "account.1", "--size", "-4"}, Lines{"write", "account.1", "--sizes", "4"}}) {
    EXPECT_EQ(RunProcess({ZELVORA_BOARD, args}).status, 2) << ::testing::PrintToString(args);
  }
}

}  // namespace
