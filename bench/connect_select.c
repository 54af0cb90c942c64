/* The least a program can do to answer from the database: connect with
   MariaDB Connector/C directly (MYSQL_HOST as host:port, MYSQL_USER,
   MYSQL_PWD, MYSQL_DB), run one small select, print the first cell. The
   baseline of bench/db-connect. */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  const char* sql = argc > 1 ? argv[1] : "SELECT 1";
  char host[256];
  snprintf(host, sizeof host, "%s", getenv("MYSQL_HOST") ? getenv("MYSQL_HOST") : "127.0.0.1");
  unsigned port = 0;
  char* colon = strchr(host, ':');
  if (colon != NULL) {
    *colon = '\0';
    port = (unsigned)atoi(colon + 1);
  }
  MYSQL* mysql = mysql_init(NULL);
  if (mysql_real_connect(mysql, host, getenv("MYSQL_USER"), getenv("MYSQL_PWD"), getenv("MYSQL_DB"),
                         port, NULL, 0) == NULL ||
      mysql_query(mysql, sql) != 0) {
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
