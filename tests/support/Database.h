// Test support: the MariaDB server that scripts/test starts (MYSQL_* in the
// environment). Without it the database tests skip, or fail when
// ZELVORA_REQUIRE_DB is set, so that a broken set-up never passes quietly.
#ifndef ZELVORA_TESTS_SUPPORT_DATABASE_H_
#define ZELVORA_TESTS_SUPPORT_DATABASE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/MywClient.h"

struct DatabaseSettings {
  std::string host, user, password, database;
};

// True when MYSQL_HOST, MYSQL_USER and MYSQL_DB are set.
bool ReadDatabaseSettings(DatabaseSettings& settings);

// "Skip" or "fail" for a test that finds no database.
std::string MissingDatabase();

#define REQUIRE_DATABASE(settings)                                  \
  do {                                                              \
    if (!ReadDatabaseSettings(settings)) {                          \
      if (std::getenv("ZELVORA_REQUIRE_DB") != nullptr) {           \
        FAIL() << "no database: " << MissingDatabase();             \
      }                                                             \
      GTEST_SKIP() << "no database: " << MissingDatabase();         \
    }                                                               \
  } while (0)

// A connected client on the test server, or null (with a test failure).
std::unique_ptr<CMywClient> ConnectTestClient(const DatabaseSettings& settings);

// Runs statements on the test server through a client of its own; fails
// the test when one does not succeed.
void RunSql(const DatabaseSettings& settings, const std::vector<std::string>& statements);

// The rows of a select as "a|b|c" lines, through a client of its own.
std::vector<std::string> QueryRows(const DatabaseSettings& settings, const std::string& sql);

#endif  // ZELVORA_TESTS_SUPPORT_DATABASE_H_
