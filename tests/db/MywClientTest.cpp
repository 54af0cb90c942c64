// CMywClient through the real database library against the real server
// that scripts/test starts, and through libraries with entry points missing.
#include "db/MywClient.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "db/TblAccount.h"
#include "support/Database.h"
#include "support/Process.h"

namespace {

std::string Unique(const std::string& prefix) { return prefix + std::to_string(getpid()); }

// The cells of a scratch table, by column name.
struct CCells {
  explicit CCells(const MywRow& row)
      : name(ReadText(row, "name")),
        note(ReadText(row, "note")),
        amount(ReadNumber(row, "amount")),
        missing(ReadText(row, "missing")) {}
  std::string name, note;
  double amount;
  std::string missing;
};

class MywClientTest : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_DATABASE(settings_); }

  // Connects a fresh client with the test settings (password overridable).
  int Connect(CMywClient& client, const char* password = nullptr, const char* host = nullptr) {
    return client.Connect(settings_.database.c_str(), host ? host : settings_.host.c_str(),
                          settings_.user.c_str(), password ? password : settings_.password.c_str());
  }

  DatabaseSettings settings_;
};

TEST_F(MywClientTest, SelectsEveryCellAsTextAndNullAsEmpty) {
  const std::string table = Unique("zt_cells_");
  RunSql(settings_, {"CREATE TABLE " + table + " (id INT, name VARCHAR(16), note VARCHAR(16) NULL, "
                     "amount DOUBLE NULL)",
                     "INSERT INTO " + table + " VALUES (1,'a',NULL,1.5),(2,'b','x\"y',NULL)"});
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  std::vector<std::unique_ptr<CCells>> rows;
  EXPECT_EQ(client.Select("SELECT 'first' name", rows, true), 1);
  EXPECT_EQ(client.Select("SELECT * FROM " + table + " ORDER BY id", rows, true), 2);
  ASSERT_EQ(rows.size(), 3u);  // appended, not replaced
  EXPECT_EQ(rows[0]->name, "first");
  EXPECT_EQ(rows[1]->name, "a");
  EXPECT_EQ(rows[1]->note, "");
  EXPECT_EQ(rows[1]->amount, 1.5);
  EXPECT_EQ(rows[1]->missing, "");
  EXPECT_EQ(rows[2]->note, "x\"y");
  EXPECT_EQ(rows[2]->amount, 0);
  EXPECT_EQ(client.Select("SELECT * FROM " + table + " WHERE id=9", rows, true), 0);
  EXPECT_EQ(rows.size(), 3u);
  RunSql(settings_, {"DROP TABLE " + table});
}

TEST_F(MywClientTest, FailingSelectAddsNothingAndReportsTheServer) {
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  std::vector<std::unique_ptr<CCells>> rows;
  int32_t count = 1;
  const std::string err = CaptureStream(
      stderr, [&] { count = client.Select("SELECT * FROM zt_no_such_table", rows, true); });
  EXPECT_LT(count, 1);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(err, "Table '" + settings_.database + ".zt_no_such_table' doesn't exist\n");
  const std::string refused = CaptureStream(stderr, [&] { count = client.Select("", rows, true); });
  EXPECT_LT(count, 1);
  EXPECT_EQ(refused, kRefusedSqlMessage);
}

TEST_F(MywClientTest, WrongCredentialsFailAndStayDisconnected) {
  CMywClient client;
  int code = 0;
  const std::string err = CaptureStream(stderr, [&] { code = Connect(client, "wrong"); });
  EXPECT_EQ(code, -1);
  const std::string prefix = "Connection failed: Access denied for user '" + settings_.user + "'@";
  EXPECT_EQ(err.substr(0, prefix.size()), prefix) << err;
  const std::string suffix = "(using password: YES)\n";
  ASSERT_GT(err.size(), suffix.size());
  EXPECT_EQ(err.substr(err.size() - suffix.size()), suffix) << err;
  EXPECT_FALSE(client.IsConnected());
  std::vector<std::unique_ptr<CCells>> rows;
  EXPECT_LT(client.Select("SELECT 1 name", rows, true), 1);
  EXPECT_EQ(client.Exec("SELECT 1", true), -1);
  EXPECT_EQ(client.ExecTrans(std::vector<std::string>{"SELECT 1"}, true), -1);
}

TEST_F(MywClientTest, HostMayBeHostPortOrSocket) {
  CMywClient byPort;
  EXPECT_EQ(Connect(byPort), 0);  // host:port from the environment
  EXPECT_TRUE(byPort.IsConnected());
  if (const char* socket = std::getenv("ZELVORA_DB_SOCKET")) {
    CMywClient bySocket;
    EXPECT_EQ(Connect(bySocket, nullptr, socket), 0) << socket;
    EXPECT_TRUE(bySocket.IsConnected());
  }
  CMywClient badPort;
  std::string err = CaptureStream(stderr, [&] { EXPECT_EQ(Connect(badPort, nullptr, "127.0.0.1:x"), -1); });
  EXPECT_EQ(err, "Connection failed: bad MYSQL_HOST: expected host, host:port or /socket\n");
  CMywClient nobody;
  err = CaptureStream(stderr, [&] { EXPECT_EQ(Connect(nobody, nullptr, "127.0.0.1:1"), -1); });
  EXPECT_EQ(err.substr(0, 19), "Connection failed: ") << err;
  EXPECT_FALSE(nobody.IsConnected());
}

TEST_F(MywClientTest, IsConnectedTellsTheTruthAfterTheServerDropsUs) {
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  ASSERT_TRUE(client.IsConnected());
  std::vector<uint32_t> id;
  ASSERT_EQ(client.SelectCounts("SELECT CONNECTION_ID() counts", id, true), 1);
  RunSql(settings_, {"KILL " + std::to_string(id[0])});
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(MywClientTest, CountsAreConvertedStrictly) {
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  std::vector<uint32_t> counts{7};
  EXPECT_EQ(client.SelectCounts("SELECT '12' counts UNION ALL SELECT 0 UNION ALL SELECT 4294967295",
                                counts, true),
            3);
  EXPECT_EQ(counts, (std::vector<uint32_t>{7, 12, 0, 4294967295u}));
  const struct {
    const char* sql;
    bool outOfRange;
  } bad[] = {{"SELECT 'abc' counts", false},       {"SELECT '' counts", false},
             {"SELECT NULL counts", false},        {"SELECT 1 other", false},
             {"SELECT '12abc' counts", false},     {"SELECT '4294967296' counts", true},
             {"SELECT '99999999999999999999999' counts", true}};
  for (const auto& c : bad) {
    std::vector<uint32_t> values;
    try {
      client.SelectCounts(c.sql, values, true);
      ADD_FAILURE() << "no error for " << c.sql;
    } catch (const std::out_of_range& error) {
      EXPECT_TRUE(c.outOfRange) << c.sql;
      EXPECT_STREQ(error.what(), "stoul") << c.sql;
    } catch (const std::invalid_argument& error) {
      EXPECT_FALSE(c.outOfRange) << c.sql;
      EXPECT_STREQ(error.what(), "stoul") << c.sql;
    }
  }
  std::vector<uint32_t> none;
  int32_t count = 1;
  const std::string err =
      CaptureStream(stderr, [&] { count = client.SelectCounts("SELECT x FROM zt_none", none, true); });
  EXPECT_LT(count, 1);
  EXPECT_TRUE(none.empty());
  EXPECT_FALSE(err.empty());
}

TEST_F(MywClientTest, TransactionCommitsAllOrNothing) {
  const std::string table = Unique("zt_trans_");
  RunSql(settings_, {"CREATE TABLE " + table + " (id INT PRIMARY KEY, v VARCHAR(4)) ENGINE=InnoDB"});
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  const std::string insert = "INSERT INTO " + table + " VALUES ";
  EXPECT_EQ(client.ExecTrans(std::vector<std::string>{insert + "(1,'a')", insert + "(2,'b')"}, true), 0);
  int32_t code = 0;
  std::string err = CaptureStream(stderr, [&] {
    code = client.ExecTrans(std::vector<std::string>{insert + "(3,'c')", insert + "(1,'dup')"}, true);
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(err, "Duplicate entry '1' for key 'PRIMARY'\n");
  err = CaptureStream(stderr, [&] {
    code = client.ExecTrans(std::vector<std::string>{insert + "(4,'d')", ""}, true);
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(err, kRefusedSqlMessage);
  err = CaptureStream(stderr, [&] { code = client.ExecTrans(std::vector<std::string>{}, true); });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(err, "empty transaction: nothing to commit\n");
  EXPECT_EQ(QueryRows(settings_, "SELECT id, v FROM " + table + " ORDER BY id"),
            (std::vector<std::string>{"1|a", "2|b"}));
  EXPECT_EQ(client.Exec("DELETE FROM " + table + " WHERE id=2", true), 0);
  err = CaptureStream(stderr, [&] { code = client.Exec("DELETE FROM", true); });
  EXPECT_EQ(code, -1);
  EXPECT_NE(err.find("SQL syntax"), std::string::npos) << err;
  EXPECT_EQ(QueryRows(settings_, "SELECT id FROM " + table), (std::vector<std::string>{"1"}));
  RunSql(settings_, {"DROP TABLE " + table});
}

TEST_F(MywClientTest, RecordTransactionsUseEachRecordsBuilder) {
  const std::string id = Unique("zt");
  const std::string other = id + "b";
  for (const std::string& account : {id, other}) {
    RunSql(settings_, {"INSERT INTO `Account` (AccountID, Balance) VALUES ('" + account + "', 500)"});
  }
  CMywClient client;
  ASSERT_EQ(Connect(client), 0);
  std::vector<std::unique_ptr<CTblAccount>> accounts;
  ASSERT_EQ(client.Select("SELECT * FROM `Account` WHERE `AccountID` IN ('" + id + "','" + other +
                              "') ORDER BY AccountID",
                          accounts, true),
            2);
  for (auto& account : accounts) account->SetUpdateUser("tester");
  EXPECT_EQ(client.ExecTrans(std::vector<CTblAccount*>{accounts[0].get(), accounts[1].get()},
                             &CTblAccount::UpdateSql, true),
            0);
  EXPECT_EQ(QueryRows(settings_, "SELECT AccountID, upd_user_id FROM `Account` WHERE AccountID IN ('" +
                                     id + "','" + other + "') ORDER BY AccountID"),
            (std::vector<std::string>{id + "|tester", other + "|tester"}));
  RunSql(settings_, {"DELETE FROM `Account` WHERE AccountID IN ('" + id + "','" + other + "')"});
}

TEST(MywClientLibrary, MissingLibraryIsReportedOnStandardError) {
  CMywClient client("libmysqlpp-missing.so");
  int code = 0;
  std::string out;
  const std::string err = CaptureStream(stderr, [&] {
    out = CaptureStream(stdout, [&] { code = client.Connect("db", "host", "user", "pwd"); });
  });
  EXPECT_EQ(code, -1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err,
            "libmysqlpp-missing.so: cannot open shared object file: No such file or directory\n"
            "Library[mysqlpp] loading failed.\n");
  EXPECT_FALSE(client.IsConnected());
  std::vector<std::unique_ptr<CCells>> rows;
  EXPECT_LT(client.Select("SELECT 1", rows, true), 1);
}

TEST(MywClientLibrary, MissingEntryPointsAreReportedOnStandardOutput) {
  const std::string noInit = std::string(ZELVORA_BROKEN_LIBS) + "/broken-init/libmysqlpp.so";
  {
    CMywClient client(noInit.c_str());
    int code = 0;
    const std::string out =
        CaptureStream(stdout, [&] { code = client.Connect(nullptr, nullptr, nullptr, nullptr); });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(out, noInit + ": undefined symbol: myw_init\n");
  }
  const std::string noQueries = std::string(ZELVORA_BROKEN_LIBS) + "/broken-queries/libmysqlpp.so";
  std::string closing;
  {
    auto client = std::make_unique<CMywClient>(noQueries.c_str());
    int code = -1;
    const std::string out =
        CaptureStream(stdout, [&] { code = client->Connect(nullptr, nullptr, nullptr, nullptr); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, noQueries + ": undefined symbol: myw_select\n" + noQueries +
                       ": undefined symbol: myw_isConnected\n");
    EXPECT_FALSE(client->IsConnected());
    std::vector<std::unique_ptr<CCells>> rows;
    EXPECT_LT(client->Select("SELECT 1", rows, true), 1);
    EXPECT_EQ(client->Exec("SELECT 1", true), 0);
    closing = CaptureStream(stdout, [&] { client.reset(); });
  }
  EXPECT_EQ(closing, noQueries + ": undefined symbol: myw_close\n");
}

}  // namespace
