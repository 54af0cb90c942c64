// One connect and one small select through the database library, linked
// as the CGI program is: bench/db-connect times it as a whole process.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/MywClient.h"
#include "db/TblAccount.h"

int main(int argc, char** argv) {
  const std::string sql = argc > 1 ? argv[1] : "SELECT 1";
  CMywClient client;
  if (client.Connect(std::getenv("MYSQL_DB"), std::getenv("MYSQL_HOST"), std::getenv("MYSQL_USER"),
                     std::getenv("MYSQL_PWD")) != 0) {
    return 1;
  }
  std::vector<std::unique_ptr<CTblAccount>> accounts;
  if (client.Select(sql, accounts) < 1 || accounts.empty()) return 1;
  std::puts(accounts[0]->ToJson().c_str());
  return 0;
}
