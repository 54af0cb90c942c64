/* The least a FastCGI responder can do to answer getAccount from the
   database: one MariaDB Connector/C connection kept across requests
   (MYSQL_HOST as host:port, MYSQL_USER, MYSQL_PWD, MYSQL_DB), the select in
   BENCH_SQL run for every request, and the account's answer written with
   the same bytes as zelvora.cgi writes it. The database baseline of
   bench/worker. */
#include <fcgiapp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "connect_env.h"

static const char* Cell(MYSQL_RES* result, MYSQL_ROW row, const char* name) {
  const unsigned count = mysql_num_fields(result);
  MYSQL_FIELD* fields = mysql_fetch_fields(result);
  for (unsigned i = 0; i < count; ++i) {
    if (strcmp(fields[i].name, name) == 0) return row[i] != NULL ? row[i] : "";
  }
  return "";
}

int main(void) {
  const char* sql = getenv("BENCH_SQL");
  if (sql == NULL) {
    fputs("minimal_fcgi_db: BENCH_SQL not set\n", stderr);
    return 1;
  }
  MYSQL* mysql = ConnectFromEnvironment();
  if (mysql == NULL) return 1;
  FCGX_Request request;
  FCGX_Init();
  FCGX_InitRequest(&request, 0, 0);
  char body[65536], answer[4096];
  while (FCGX_Accept_r(&request) == 0) {
    FCGX_GetStr(body, sizeof body, request.in);
    FCGX_PutS("Content-Type: text/plain \n\n", request.out);
    MYSQL_RES* result = mysql_query(mysql, sql) == 0 ? mysql_store_result(mysql) : NULL;
    MYSQL_ROW row = result != NULL ? mysql_fetch_row(result) : NULL;
    if (row != NULL) {
      const int size =
          snprintf(answer, sizeof answer,
                   "[{\"status\":0, \"data\":{\"AccountID\":\"%s\",\"Balance\":%lf,\"Equity\":%lf,"
                   "\"DayPL\":%lf,\"UsedMargin\":%lf,\"UsableMargin\":%lf,\"GrossPL\":%lf,"
                   "\"Hedging\":\"%s\"}}]",
                   Cell(result, row, "AccountID"), atof(Cell(result, row, "Balance")),
                   atof(Cell(result, row, "Equity")), atof(Cell(result, row, "DayPL")),
                   atof(Cell(result, row, "UsedMargin")), atof(Cell(result, row, "UsableMargin")),
                   atof(Cell(result, row, "GrossPL")), Cell(result, row, "Hedging"));
      FCGX_PutStr(answer, size < (int)sizeof answer ? size : (int)sizeof answer - 1, request.out);
    }
    mysql_free_result(result);
    FCGX_Finish_r(&request);
  }
  mysql_close(mysql);
  return 0;
}
