/* Connects with MariaDB Connector/C as the desk's settings say: MYSQL_HOST
   as host:port (127.0.0.1 when unset), MYSQL_USER, MYSQL_PWD, MYSQL_DB.
   The connection, or null with the reason on standard error. */
#ifndef ZELVORA_BENCH_CONNECT_ENV_H_
#define ZELVORA_BENCH_CONNECT_ENV_H_

#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static inline MYSQL* ConnectFromEnvironment(void) {
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
                         port, NULL, 0) != NULL) {
    return mysql;
  }
  fprintf(stderr, "%s\n", mysql_error(mysql));
  mysql_close(mysql);
  return NULL;
}

#endif /* ZELVORA_BENCH_CONNECT_ENV_H_ */
