// CMywClient through the real database library against the real server
// that scripts/test starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "db/MywClient.h"
#include "db/SqlText.h"
#include "support/Desk.h"

// GoogleTest's capture of the standard streams
using namespace testing::internal;

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
  // Refused statements, empty ones and an empty transaction (the first's words exact).
  CaptureStderr();
  EXPECT_EQ(client_.ExecTrans(Lines{"SELECT 1", ""}), -1) << "an empty statement in a transaction";
  EXPECT_EQ(client_.ExecTrans(Lines{}), -1) << "a transaction of nothing";
  EXPECT_LT(client_.Select("SELECT * FROM zt_no_such_table", rows) + client_.Select("", rows), 0);
  EXPECT_EQ(client_.Exec("DELETE FROM"), -1);
  const std::string expected = kRefusedSqlMessage + std::string("empty transaction");
  EXPECT_EQ(GetCapturedStderr().substr(0, expected.size()), expected);
  // appended, not replaced, and nothing from the failures
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]->name + "|" + rows[1]->name + "|" + rows[1]->note + "|" + rows[2]->note,
            "first|a||x\"y");
  EXPECT_EQ(rows[1]->amount + rows[2]->amount, 1.5);
}

// A list of hosts (sixteen at most) is tried in turn; a malformed one is refused before any is
// tried.
TEST_F(MywClientTest, HostListsAreTriedInTurnAndAFailureLeavesItDisconnected) {
  const std::string host = std::getenv("MYSQL_HOST"), port = host.substr(host.rfind(':') + 1),
                    bad =
                        "Connection failed: bad MYSQL_HOST: expected host, host:port or /socket\n";
  // Hosts that refuse at once.
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "127.0.0.1:1,";
  const struct {
    const char* password;
    // err: the diagnostic's beginning, "" for a connection made
    std::string host, err;
  } cases[] = {
      {"wrong", host, "Connection failed: Access denied"},
      {nullptr, "127.0.0.1:1," + host, ""},
      {nullptr, "[127.0.0.1]:" + port, ""},
      {nullptr, "127.0.0.1:0", bad},
      // six digits
      {nullptr, "127.0.0.1:" + std::string(6 - port.size(), '0') + port, bad},
      {nullptr, "[127.0.0.1", bad},
      {nullptr, "a,,b", bad},
      // sixteen hosts at most
      {nullptr, sixteen.substr(12) + host, ""},
      {nullptr, sixteen + host, bad},
  };
  for (const auto& c : cases) {
    CMywClient client;
    Rows rows;
    CaptureStderr();
    EXPECT_EQ(Connect(client, c.password, c.host.c_str()), c.err.empty() ? 0 : -1) << c.host;
    EXPECT_EQ(GetCapturedStderr().substr(0, c.err.size()), c.err) << c.host;
    if (c.err.empty()) continue;
    EXPECT_TRUE(!client.IsConnected() && client.Select("SELECT 1 name", rows) < 1) << c.host;
  }
}

TEST_F(MywClientTest, CountsAreConvertedStrictly) {
  std::vector<uint32_t> counts{7};
  EXPECT_EQ(client_.SelectCounts("SELECT 4294967295 counts", counts), 1);
  EXPECT_EQ(counts, (std::vector<uint32_t>{7, 4294967295u}));
  for (const char* bad : {"'12abc' counts", "'4294967296' counts"}) {
    EXPECT_ANY_THROW(client_.SelectCounts(std::string("SELECT ") + bad, counts)) << bad;
  }
}

// Killed between two calls, the connection is made again once for what may
// run twice; a lone statement, which may have been carried out, is not sent again.
TEST_F(MywClientTest, AConnectionGoneAwayIsMadeAgainOnlyWhereRunningTwiceIsSafe) {
  RunSql({"CREATE TABLE " + table_ + " (id INT PRIMARY KEY)"});
  const std::string insert = "INSERT INTO " + table_ + " VALUES ";
  // A transaction the server refuses is rolled back whole: what follows is no part of it.
  EXPECT_EQ(client_.ExecTrans(Lines{insert + "(6)", insert + "(6)"}), -1);
  ASSERT_EQ(client_.Exec(insert + "(5)"), 0);
  Rows rows;
  const struct {
    const char* what;
    std::function<int32_t()> call;
    int32_t code;
    // afterwards
    bool connected;
  } cases[] = {
      {"a select", [&] { return client_.Select("SELECT 'x' name", rows); }, 1, true},
      {"a transaction", [&] { return client_.ExecTrans(Lines{insert + "(1)"}); }, 0, true},
      {"a lone statement", [&] { return client_.Exec(insert + "(2)"); }, -1, false},
  };
  for (const auto& c : cases) {
    Rows id;
    ASSERT_EQ(client_.Select("SELECT CONNECTION_ID() name", id), 1) << c.what;
    RunSql({"KILL CONNECTION " + id[0]->name});
    // the server closes the killed connection's socket
    usleep(100000);
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

}  // namespace
