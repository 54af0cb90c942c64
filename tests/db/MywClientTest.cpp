// CMywClient through the real database library against the real server
// that scripts/test starts, and through libraries with entry points missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "db/MywClient.h"
#include "db/SqlText.h"
#include "support/Desk.h"

using namespace testing::internal;  // GoogleTest's capture of the standard streams

namespace {

// The cells of a scratch table, by column name.
struct CCells {
  explicit CCells(const MywRow& row)
      : name(ReadText(row, "name")),
        note(ReadText(row, "note")),
        amount(ReadNumber(row, "amount")) {}
  std::string name, note;
  double amount;
};
using Rows = std::vector<std::unique_ptr<CCells>>;

class MywClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE();
    ASSERT_EQ(Connect(client_), 0);
  }
  int Connect(CMywClient& client, const char* password = nullptr, const char* host = nullptr) {
    return client.Connect(std::getenv("MYSQL_DB"), host ? host : std::getenv("MYSQL_HOST"),
                          std::getenv("MYSQL_USER"),
                          password ? password : std::getenv("MYSQL_PWD"));
  }
  CMywClient client_;
  const std::string table_ = "zt_client_" + std::to_string(getpid());
};

TEST_F(MywClientTest, SelectsEveryCellAsTextAndFailuresAddNothing) {
  Rows rows;
  EXPECT_EQ(client_.Select("SELECT 'first' name", rows), 1);
  EXPECT_EQ(client_.Select(
                "SELECT 'a' name, NULL note, 1.5 amount UNION ALL SELECT 'b', 'x\"y', NULL", rows),
            2);
  EXPECT_EQ(client_.Select("SELECT 1 name FROM DUAL WHERE 1=0", rows), 0);
  // Refused statements, empty ones and an empty transaction: each its words on standard error.
  CaptureStderr();
  EXPECT_EQ(client_.ExecTrans(Lines{"SELECT 1", ""}), -1) << "an empty statement in a transaction";
  EXPECT_EQ(client_.ExecTrans(Lines{}), -1) << "a transaction of nothing";
  EXPECT_LT(client_.Select("SELECT * FROM zt_no_such_table", rows) + client_.Select("", rows), 0);
  EXPECT_EQ(client_.Exec("DELETE FROM"), -1);
  const std::string expected = kRefusedSqlMessage +
                               std::string("empty transaction: nothing to commit\nTable '") +
                               std::getenv("MYSQL_DB") + ".zt_no_such_table' doesn't exist\n" +
                               kRefusedSqlMessage + "You have an error in your SQL syntax";
  EXPECT_EQ(GetCapturedStderr().substr(0, expected.size()), expected);
  ASSERT_EQ(rows.size(), 3u);  // appended, not replaced, and nothing from the failures
  EXPECT_EQ(rows[0]->name + "|" + rows[1]->name + "|" + rows[1]->note + "|" + rows[2]->note,
            "first|a||x\"y");
  EXPECT_EQ(rows[1]->amount + rows[2]->amount, 1.5);
}

TEST_F(MywClientTest, HostsAreNamesPortsSocketsOrListsAndFailuresLeaveItDisconnected) {
  const std::string host = std::getenv("MYSQL_HOST"), port = host.substr(host.rfind(':') + 1),
                    good = "127.0.0.1:" + port;
  const std::string bad =
                        "Connection failed: bad MYSQL_HOST: expected host, host:port or /socket\n",
                    refused = "Can't connect to server on '127.0.0.1' (n)";
  std::string sixteen;  // hosts that refuse at once
  for (int i = 0; i < 16; ++i) sixteen += "127.0.0.1:1,";
  const struct {
    const char* password;
    std::string host, err;  // err: the diagnostic's beginning, "" for a connection made
  } cases[] = {
      {"wrong", host, "Connection failed: Access denied for user '"},
      {nullptr, "[127.0.0.1]:" + port, ""},
      {nullptr, "127.0.0.1:1," + good, ""},
      {nullptr, "127.0.0.1:1,[127.0.0.1]:1",
       "Connection failed: host 1: " + refused + "; host 2: " + refused + "\n"},
      {nullptr, "127.0.0.1:0", bad},
      {nullptr, "[127.0.0.1", bad},
      {nullptr, "a,,b", bad},
      {nullptr, "127.0.0.1:" + std::string(6 - port.size(), '0') + port, bad},  // six digits
      {nullptr, sixteen.substr(12) + good, ""},
      {nullptr, sixteen + good, bad},  // sixteen hosts at most
  };
  for (const auto& c : cases) {
    CMywClient client;
    Rows rows;
    CaptureStderr();
    EXPECT_EQ(Connect(client, c.password, c.host.c_str()), c.err.empty() ? 0 : -1) << c.host;
    EXPECT_EQ(Unnumbered(GetCapturedStderr()).substr(0, c.err.size()), c.err) << c.host;
    if (c.err.empty()) continue;
    EXPECT_TRUE(!client.IsConnected() && client.Select("SELECT 1 name", rows) < 1) << c.host;
    EXPECT_EQ(client.Exec("SELECT 1") + client.ExecTrans(Lines{"SELECT 1"}), -2) << c.host;
  }
  for (const char* host :
       {"",
        "127.0.0.1"}) {  // the default host; the default port (whether or not a server is there)
    CMywClient client;
    CaptureStderr();
    Connect(client, nullptr, host);
    EXPECT_EQ(GetCapturedStderr().find("bad MYSQL_HOST"), std::string::npos) << host;
  }
  CMywClient bySocket;
  const char* socket = std::getenv("ZELVORA_DB_SOCKET");
  EXPECT_TRUE(socket == nullptr || Connect(bySocket, nullptr, socket) == 0) << socket;
}

TEST_F(MywClientTest, CountsAreConvertedStrictly) {
  std::vector<uint32_t> counts{7};
  EXPECT_EQ(client_.SelectCounts(
                "SELECT '12' counts UNION ALL SELECT 0 UNION ALL SELECT 4294967295", counts),
            3);
  EXPECT_EQ(counts, (std::vector<uint32_t>{7, 12, 0, 4294967295u}));
  for (const char* bad : {"NULL counts", "1 other", "'12abc' counts", "'4294967296' counts"}) {
    EXPECT_ANY_THROW(client_.SelectCounts(std::string("SELECT ") + bad, counts)) << bad;
  }
}

// Killed between two calls, the connection is made again once for what may
// run twice; a lone statement, which may have been carried out, is not sent again.
TEST_F(MywClientTest, AConnectionGoneAwayIsMadeAgainOnlyWhereRunningTwiceIsSafe) {
  RunSql({"CREATE TABLE " + table_ + " (id INT PRIMARY KEY)"});
  const std::string insert = "INSERT INTO " + table_ + " VALUES ";
  // A transaction the server refuses is rolled back whole: what follows is no part of it.
  CaptureStderr();
  EXPECT_EQ(client_.ExecTrans(Lines{insert + "(6)", insert + "(6)"}), -1);
  EXPECT_EQ(GetCapturedStderr(), "Duplicate entry '6' for key 'PRIMARY'\n");
  ASSERT_EQ(client_.Exec(insert + "(5)"), 0);
  Rows rows;
  const struct {
    const char* what;
    std::function<int32_t()> call;
    int32_t code;
    bool connected;  // afterwards
  } cases[] = {
      {"a select", [&] { return client_.Select("SELECT 'x' name", rows); }, 1, true},
      {"a transaction", [&] { return client_.ExecTrans(Lines{insert + "(1)"}); }, 0, true},
      {"a lone statement", [&] { return client_.Exec(insert + "(2)"); }, -1, false},
  };
  for (const auto& c : cases) {
    Rows id;
    ASSERT_EQ(client_.Select("SELECT CONNECTION_ID() name", id), 1) << c.what;
    RunSql({"KILL CONNECTION " + id[0]->name});
    usleep(100000);  // the server closes the killed connection's socket
    CaptureStderr();
    const int32_t code = c.call();
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(code, c.code) << c.what << ": " << err;
    EXPECT_EQ(client_.IsConnected(), c.connected) << c.what << ": " << err;
  }
  EXPECT_EQ(QueryRows("SELECT id FROM " + table_ + " ORDER BY id"), (Lines{"1", "5"}))
      << "the transaction once, the lone statement never";
  RunSql({"DROP TABLE " + table_});
}

// A library short of an entry point counts as one that did not load; the
// loader's words go to standard error, never before an answer's header.
TEST(MywClientLibrary, MissingLibraryOrEntryPointsAreReported) {
  const std::string noInit = std::string(ZELVORA_BROKEN_LIBS) + "/broken-init/libmysqlpp.so",
                    noQueries = std::string(ZELVORA_BROKEN_LIBS) + "/broken-queries/libmysqlpp.so";
  const std::string failed = "Library[mysqlpp] loading failed.\n",
                    missing = ": undefined symbol: myw_";
  const std::pair<std::string, std::string> cases[] = {
      {"libmysqlpp-missing.so",
       "libmysqlpp-missing.so: cannot open shared object file: No such file or directory\n" +
           failed},
      {noInit, noInit + missing + "init\n" + failed},
      {noQueries, noQueries + missing + "select\n" + noQueries + missing + "exec\n" + noQueries +
                      missing + "isConnected\n" + failed + noQueries + missing + "close\n"},
  };
  for (const auto& [library, err] : cases) {
    auto client = std::make_unique<CMywClient>(library.c_str());
    Rows rows;
    CaptureStderr();
    CaptureStdout();
    EXPECT_EQ(client->Connect("db", "host", "user", "pwd"), -1) << library;
    EXPECT_TRUE(!client->IsConnected() && client->Select("SELECT 1", rows) < 1 &&
                client->Exec("SELECT 1") == -1)
        << library;
    client.reset();
    EXPECT_EQ(GetCapturedStdout(), "") << library;
    EXPECT_EQ(GetCapturedStderr(), err);
  }
}

}  // namespace
