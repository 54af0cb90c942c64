#include "support/Database.h"

#include <cstdlib>

namespace {

bool Env(const char* name, std::string& value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  value = text;
  return true;
}

// A whole row as "a|b|c", for QueryRows.
struct RowLine {
  explicit RowLine(const MywRow& row) {
    for (int32_t c = 0; c < row.ColumnCount(); ++c) text += (c > 0 ? "|" : "") + std::string(row.CellAt(c));
  }
  std::string text;
};

}  // namespace

bool ReadDatabaseSettings(DatabaseSettings& settings) {
  const bool found = Env("MYSQL_HOST", settings.host) && Env("MYSQL_USER", settings.user) &&
                     Env("MYSQL_DB", settings.database);
  Env("MYSQL_PWD", settings.password);
  return found;
}

std::string MissingDatabase() {
  return "set MYSQL_HOST, MYSQL_USER, MYSQL_PWD and MYSQL_DB (scripts/db-local env), "
         "or run scripts/test";
}

std::unique_ptr<CMywClient> ConnectTestClient(const DatabaseSettings& settings) {
  auto client = std::make_unique<CMywClient>();
  if (client->Connect(settings.database.c_str(), settings.host.c_str(), settings.user.c_str(),
                      settings.password.c_str()) != 0) {
    ADD_FAILURE() << "cannot connect to " << settings.host;
    return nullptr;
  }
  return client;
}

void RunSql(const DatabaseSettings& settings, const std::vector<std::string>& statements) {
  std::unique_ptr<CMywClient> client = ConnectTestClient(settings);
  if (!client) return;
  for (const std::string& statement : statements) {
    EXPECT_EQ(client->Exec(statement, true), 0) << statement;
  }
}

std::vector<std::string> QueryRows(const DatabaseSettings& settings, const std::string& sql) {
  std::vector<std::string> lines;
  std::unique_ptr<CMywClient> client = ConnectTestClient(settings);
  if (!client) return lines;
  std::vector<std::unique_ptr<RowLine>> rows;
  if (client->Select(sql, rows, true) < 0) ADD_FAILURE() << "query failed: " << sql;
  for (const auto& row : rows) lines.push_back(row->text);
  return lines;
}
