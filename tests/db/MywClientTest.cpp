// CMywClient through the real database library against the real server
// that scripts/test starts, and through libraries with entry points missing.
#include "db/MywClient.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "db/SqlText.h"
#include "db/TblAccount.h"
#include "support/Desk.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// The cells of a scratch table, by column name.
struct CCells {
  explicit CCells(const MywRow& row) : name(ReadText(row, "name")), note(ReadText(row, "note")), amount(ReadNumber(row, "amount")) {}
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
    return client.Connect(std::getenv("MYSQL_DB"), host ? host : std::getenv("MYSQL_HOST"), std::getenv("MYSQL_USER"), password ? password : std::getenv("MYSQL_PWD"));
  }
  CMywClient client_;
  const std::string table_ = "zt_client_" + std::to_string(getpid());
};

TEST_F(MywClientTest, SelectsEveryCellAsTextAndNullAsEmpty) {
  RunSql({"CREATE TABLE " + table_ + " (id INT, name VARCHAR(16), note VARCHAR(16) NULL, amount DOUBLE NULL)", "INSERT INTO " + table_ + " VALUES (1,'a',NULL,1.5),(2,'b','x\"y',NULL)"});
  Rows rows;
  EXPECT_EQ(client_.Select("SELECT 'first' name", rows, true), 1);
  EXPECT_EQ(client_.Select("SELECT * FROM " + table_ + " ORDER BY id", rows, true), 2);
  EXPECT_EQ(client_.Select("SELECT * FROM " + table_ + " WHERE id=9", rows, true), 0);
  ASSERT_EQ(rows.size(), 3u);  // appended, not replaced
  EXPECT_EQ(rows[0]->name + "|" + rows[1]->name + "|" + rows[1]->note + "|" + rows[2]->note, "first|a||x\"y");
  EXPECT_EQ(rows[1]->amount, 1.5);
  EXPECT_EQ(rows[2]->amount, 0);
  RunSql({"DROP TABLE " + table_});
}

TEST_F(MywClientTest, FailuresAddNothingAndReportTheServer) {
  Rows rows;
  CaptureStderr();
  EXPECT_LT(client_.Select("SELECT * FROM zt_no_such_table", rows, true), 1);
  EXPECT_LT(client_.Select("", rows, true), 1);
  EXPECT_EQ(client_.Exec("DELETE FROM", true), -1);
  const std::string expected = "Table '" + std::string(std::getenv("MYSQL_DB")) + ".zt_no_such_table' doesn't exist\n" + kRefusedSqlMessage + "You have an error in your SQL syntax";
  EXPECT_EQ(GetCapturedStderr().substr(0, expected.size()), expected);
  EXPECT_TRUE(rows.empty());
}

TEST_F(MywClientTest, ConnectFailuresLeaveItDisconnected) {
  const char* const cases[][3] = {  // password, host, the message's beginning
      {"wrong", nullptr, "Connection failed: Access denied for user '"},
      {nullptr, "127.0.0.1:x", "Connection failed: bad MYSQL_HOST: expected host, host:port or /socket\n"},
      {nullptr, "127.0.0.1:1", "Connection failed: "},
  };
  for (const auto& c : cases) {
    CMywClient client;
    Rows rows;
    CaptureStderr();
    EXPECT_EQ(Connect(client, c[0], c[1]), -1) << c[2];
    EXPECT_EQ(GetCapturedStderr().substr(0, std::strlen(c[2])), c[2]);
    EXPECT_TRUE(!client.IsConnected() && client.Select("SELECT 1 name", rows, true) < 1) << c[2];
    EXPECT_EQ(client.Exec("SELECT 1", true) + client.ExecTrans(std::vector<std::string>{"SELECT 1"}, true), -2) << c[2];
  }
  // No host at all: the library's default, which must not take the process down.
  for (const char* host : {static_cast<const char*>(nullptr), ""}) {
    CMywClient client;
    CaptureStderr();
    const int code = client.Connect(std::getenv("MYSQL_DB"), host, std::getenv("MYSQL_USER"), std::getenv("MYSQL_PWD"));
    GetCapturedStderr();
    EXPECT_EQ(code == 0, client.IsConnected());
  }
  CMywClient bySocket;
  const char* socket = std::getenv("ZELVORA_DB_SOCKET");
  EXPECT_TRUE(socket == nullptr || Connect(bySocket, nullptr, socket) == 0) << socket;
}

TEST_F(MywClientTest, IsConnectedTellsTheTruthAfterTheServerDropsUs) {
  std::vector<uint32_t> id;
  ASSERT_TRUE(client_.IsConnected());
  ASSERT_EQ(client_.SelectCounts("SELECT CONNECTION_ID() counts", id, true), 1);
  RunSql({"KILL " + std::to_string(id[0])});
  EXPECT_FALSE(client_.IsConnected());
}

TEST_F(MywClientTest, CountsAreConvertedStrictly) {
  std::vector<uint32_t> counts{7};
  EXPECT_EQ(client_.SelectCounts("SELECT '12' counts UNION ALL SELECT 0 UNION ALL SELECT 4294967295", counts, true), 3);
  EXPECT_EQ(counts, (std::vector<uint32_t>{7, 12, 0, 4294967295u}));
  const std::pair<const char*, const char*> bad[] = {{"'abc' counts", "invalid"}, {"'' counts", "invalid"}, {"NULL counts", "invalid"}, {"1 other", "invalid"},
                                                     {"'12abc' counts", "invalid"}, {"'4294967296' counts", "range"}, {"'99999999999999999999999' counts", "range"}};
  for (const auto& c : bad) {
    std::string error = "none";
    try {
      client_.SelectCounts(std::string("SELECT ") + c.first, counts, true);
    } catch (const std::out_of_range&) {
      error = "range";
    } catch (const std::invalid_argument&) {
      error = "invalid";
    }
    EXPECT_EQ(error, c.second) << c.first;
  }
}

TEST_F(MywClientTest, TransactionsCommitAllOrNothing) {
  RunSql({"CREATE TABLE " + table_ + " (id INT PRIMARY KEY, v VARCHAR(4)) ENGINE=InnoDB"});
  const std::string insert = "INSERT INTO " + table_ + " VALUES ";
  EXPECT_EQ(client_.ExecTrans(std::vector<std::string>{insert + "(1,'a')", insert + "(2,'b')"}, true), 0);
  CaptureStderr();
  EXPECT_EQ(client_.ExecTrans(std::vector<std::string>{insert + "(3,'c')", insert + "(1,'dup')"}, true), -1);
  EXPECT_EQ(client_.ExecTrans(std::vector<std::string>{insert + "(4,'d')", ""}, true), -1);
  EXPECT_EQ(client_.ExecTrans(std::vector<std::string>{}, true), -1);
  EXPECT_EQ(GetCapturedStderr(), "Duplicate entry '1' for key 'PRIMARY'\n" + std::string(kRefusedSqlMessage) + "empty transaction: nothing to commit\n");
  EXPECT_EQ(client_.Exec("DELETE FROM " + table_ + " WHERE id=2", true), 0);
  EXPECT_EQ(QueryRows("SELECT id, v FROM " + table_), (Lines{"1|a"}));
  RunSql({"DROP TABLE " + table_, "INSERT INTO `Account` (AccountID, Balance) VALUES ('" + table_ + "a', 500), ('" + table_ + "b', 500)"});
  // Record transactions use each record's own builder.
  std::vector<std::unique_ptr<CTblAccount>> accounts;
  ASSERT_EQ(client_.Select("SELECT * FROM `Account` WHERE `AccountID` LIKE '" + table_ + "%' ORDER BY AccountID", accounts, true), 2);
  for (auto& account : accounts) account->SetUpdateUser("tester");
  EXPECT_EQ(client_.ExecTrans(std::vector<CTblAccount*>{accounts[0].get(), accounts[1].get()}, &CTblAccount::UpdateSql, true), 0);
  EXPECT_EQ(QueryRows("SELECT upd_user_id FROM `Account` WHERE AccountID LIKE '" + table_ + "%'"), (Lines{"tester", "tester"}));
  RunSql({"DELETE FROM `Account` WHERE AccountID LIKE '" + table_ + "%'"});
}

// A library short of an entry point counts as one that did not load; the
// loader's words go to standard error, never before an answer's header.
TEST(MywClientLibrary, MissingLibraryOrEntryPointsAreReported) {
  const std::string noInit = std::string(ZELVORA_BROKEN_LIBS) + "/broken-init/libmysqlpp.so", noQueries = std::string(ZELVORA_BROKEN_LIBS) + "/broken-queries/libmysqlpp.so";
  const std::string failed = "Library[mysqlpp] loading failed.\n", missing = ": undefined symbol: myw_";
  const std::pair<std::string, std::string> cases[] = {
      {"libmysqlpp-missing.so", "libmysqlpp-missing.so: cannot open shared object file: No such file or directory\n" + failed},
      {noInit, noInit + missing + "init\n" + failed},
      {noQueries, noQueries + missing + "select\n" + noQueries + missing + "exec\n" + noQueries + missing + "isConnected\n" + failed + noQueries + missing + "close\n"},
  };
  for (const auto& [library, err] : cases) {
    auto client = std::make_unique<CMywClient>(library.c_str());
    Rows rows;
    CaptureStderr();
    CaptureStdout();
    EXPECT_EQ(client->Connect("db", "host", "user", "pwd"), -1) << library;
    EXPECT_TRUE(!client->IsConnected() && client->Select("SELECT 1", rows, true) < 1 && client->Exec("SELECT 1", true) == -1) << library;
    client.reset();
    EXPECT_EQ(GetCapturedStdout(), "") << library;
    EXPECT_EQ(GetCapturedStderr(), err);
  }
}

}  // namespace
