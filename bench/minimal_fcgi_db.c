/* The least a FastCGI responder can do to answer getAccount from the
   database: one MariaDB Connector/C connection kept across requests
   (MYSQL_HOST as host:port, MYSQL_USER, MYSQL_PWD, MYSQL_DB), the select in
   BENCH_SQL run for every request, and the account's answer written with
   the same bytes as zelvora.cgi writes it. The database baseline of
   bench/worker. */
#include <fcgiapp.h>
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
  char host[256];
  snprintf(host, sizeof host, "%s", getenv("MYSQL_HOST") ? getenv("MYSQL_HOST") : "127.0.0.1");
  unsigned port = 0;
  char* colon = strchr(host, ':');
  if (colon != NULL) {
    *colon = '\0';
    port = (unsigned)atoi(colon + 1);
  }
  MYSQL* mysql = mysql_init(NULL);
  if (sql == NULL || mysql_real_connect(mysql, host, getenv("MYSQL_USER"), getenv("MYSQL_PWD"),
                                        getenv("MYSQL_DB"), port, NULL, 0) == NULL) {
    fprintf(stderr, "minimal_fcgi_db: %s\n",
            sql == NULL ? "BENCH_SQL not set" : mysql_error(mysql));
    return 1;
  }
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
