/* The least a program can do to answer from the database: connect with
   MariaDB Connector/C directly (MYSQL_HOST as host:port, MYSQL_USER,
   MYSQL_PWD, MYSQL_DB), run one small select, print the first cell. The
   baseline of bench/db-connect. */
#include "connect_env.h"

int main(int argc, char** argv) {
  const char* sql = argc > 1 ? argv[1] : "SELECT 1";
  MYSQL* mysql = ConnectFromEnvironment();
  if (mysql == NULL) return 1;
  if (mysql_query(mysql, sql) != 0) {
    fprintf(stderr, "%s\n", mysql_error(mysql));
    return 1;
  }
  MYSQL_RES* result = mysql_store_result(mysql);
  MYSQL_ROW row = result != NULL ? mysql_fetch_row(result) : NULL;
  if (row != NULL) puts(row[0] != NULL ? row[0] : "");
  mysql_free_result(result);
  mysql_close(mysql);
  return row != NULL ? 0 : 1;
}
