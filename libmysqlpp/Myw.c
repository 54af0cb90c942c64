/* libmysqlpp.so: the desk's database library on MariaDB Connector/C.
   Text protocol only: every cell arrives as text, SQL NULL as "".
   Written in C so that loading it costs no C++ runtime: a request that
   reaches the database pays for the connector alone. */
#include "Myw.h"

#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MYW_EXPORT __attribute__((visibility("default")))

/* MYSQL_CONNECT_TIMEOUT and MYSQL_TIMEOUT when unset or not a number of
   seconds from 1 to 3600. */
enum { kConnectTimeoutSeconds = 2, kTimeoutSeconds = 10, kHostsMost = 16 };

typedef struct MywContext {
  MYSQL* mysql;
  int connected;
} MywContext;

static MywResult Result(int32_t code, int64_t count, const char* message) {
  MywResult result;
  memset(&result, 0, sizeof result);
  result.code = code;
  result.count = count;
  snprintf(result.message, sizeof result.message, "%s", message != NULL ? message : "");
  return result;
}

static MywResult Ok(int64_t count) { return Result(0, count, ""); }
static MywResult Fail(const char* message) { return Result(-1, 0, message); }

static MYSQL* Connection(void* context) {
  MywContext* ctx = (MywContext*)context;
  return ctx != NULL && ctx->connected ? ctx->mysql : NULL;
}

/* The connector's process-wide state is set up by the first mysql_init and
   kept until this library is unloaded; give it back then. */
__attribute__((destructor)) static void ReleaseConnector(void) { mysql_library_end(); }

typedef struct HostParts {
  char name[256];   /* "": the client's default */
  char socket[256]; /* "": none */
  unsigned port;    /* 0: the default */
} HostParts;

static int ParsePort(const char* text, unsigned* port) {
  size_t length = strlen(text);
  if (length == 0 || length > 5 || strspn(text, "0123456789") != length) return -1;
  unsigned long value = strtoul(text, NULL, 10);
  if (value < 1 || value > 65535) return -1;
  *port = (unsigned)value;
  return 0;
}

/* Copies `length` bytes of `text` into `out` (of 256 bytes); -1 if too long. */
static int CopyPart(char* out, const char* text, size_t length) {
  if (length >= 256) return -1;
  memcpy(out, text, length);
  out[length] = '\0';
  return 0;
}

/* "name", "name:port", "[ipv6]" or "[ipv6]:port", or "/path/to/socket". */
static int ParseHost(const char* host, HostParts* parts) {
  memset(parts, 0, sizeof *parts);
  if (host == NULL || *host == '\0') return 0;
  if (host[0] == '/') {
    strcpy(parts->name, "localhost");
    return CopyPart(parts->socket, host, strlen(host));
  }
  if (host[0] == '[') {
    const char* close = strchr(host, ']');
    if (close == NULL || CopyPart(parts->name, host + 1, (size_t)(close - host - 1)) != 0) return -1;
    if (close[1] == '\0') return 0;
    return close[1] == ':' ? ParsePort(close + 2, &parts->port) : -1;
  }
  const char* colon = strchr(host, ':');
  if (colon == NULL || strchr(colon + 1, ':') != NULL) {
    return CopyPart(parts->name, host, strlen(host)); /* a plain name or a bare IPv6 address */
  }
  if (CopyPart(parts->name, host, (size_t)(colon - host)) != 0) return -1;
  return ParsePort(colon + 1, &parts->port);
}

/* Drops any result a statement produced, so the connection is ready again. */
static void DrainResults(MYSQL* mysql) {
  do {
    MYSQL_RES* rest = mysql_store_result(mysql);
    if (rest != NULL) mysql_free_result(rest);
  } while (mysql_next_result(mysql) == 0);
}

static const char* Put(char** text, const char* bytes, size_t length) {
  char* start = *text;
  if (length > 0) memcpy(start, bytes, length);
  start[length] = '\0';
  *text += length + 1;
  return start;
}

/* Copies a stored result into one malloc block laid out as MywRecordSet says. */
static int CopyResult(MYSQL_RES* result, MywRecordSet* set) {
  const unsigned columns = mysql_num_fields(result);
  const uint64_t rows = mysql_num_rows(result);
  MYSQL_FIELD* fields = mysql_fetch_fields(result);
  size_t textBytes = 0;
  for (unsigned c = 0; c < columns; ++c) textBytes += strlen(fields[c].name) + 1;
  MYSQL_ROW row;
  while ((row = mysql_fetch_row(result)) != NULL) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    for (unsigned c = 0; c < columns; ++c) textBytes += (row[c] != NULL ? lengths[c] : 0) + 1;
  }
  const size_t pointers = columns + (size_t)rows * columns;
  char* block = malloc(pointers * sizeof(char*) + textBytes + 1);
  if (block == NULL) return -1;
  const char** slots = (const char**)block;
  char* text = block + pointers * sizeof(char*);
  for (unsigned c = 0; c < columns; ++c) slots[c] = Put(&text, fields[c].name, strlen(fields[c].name));
  mysql_data_seek(result, 0);
  size_t slot = columns;
  while ((row = mysql_fetch_row(result)) != NULL) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    for (unsigned c = 0; c < columns; ++c) {
      slots[slot++] = row[c] != NULL ? Put(&text, row[c], lengths[c]) : Put(&text, "", 0);
    }
  }
  set->columnCount = (int32_t)columns;
  set->rowCount = (int64_t)rows;
  set->names = slots;
  set->cells = slots + columns;
  set->block = block;
  return 0;
}

static MywResult RollBack(MYSQL* mysql) {
  const MywResult failed = Fail(mysql_error(mysql));
  mysql_rollback(mysql);
  mysql_autocommit(mysql, 1);
  return failed;
}

MYW_EXPORT void* myw_init(void) { return calloc(1, sizeof(MywContext)); }

/* Seconds from the environment variable `name`, or `fallback`. */
static unsigned Seconds(const char* name, unsigned fallback) {
  const char* text = getenv(name);
  if (text == NULL || *text == '\0' || strspn(text, "0123456789") != strlen(text) || strlen(text) > 4) return fallback;
  const unsigned long value = strtoul(text, NULL, 10);
  return value >= 1 && value <= 3600 ? (unsigned)value : fallback;
}

/* Splits a comma-separated host list into `parts`; the count, or -1 when a
   host is malformed or there are too many. An empty list is one default host. */
static int ParseHosts(const char* hosts, HostParts parts[kHostsMost]) {
  if (hosts == NULL || *hosts == '\0') return ParseHost(NULL, &parts[0]) == 0 ? 1 : -1;
  int count = 0;
  for (const char* at = hosts;; ++count) {
    const char* end = strchr(at, ',');
    const size_t length = end != NULL ? (size_t)(end - at) : strlen(at);
    char one[256];
    if (count == kHostsMost || length == 0 || CopyPart(one, at, length) != 0 || ParseHost(one, &parts[count]) != 0) return -1;
    if (end == NULL) return count + 1;
    at = end + 1;
  }
}

/* Connects to the first host of MYSQL_HOST that answers, each tried for at
   most MYSQL_CONNECT_TIMEOUT seconds; every statement then has MYSQL_TIMEOUT
   seconds to be read and written, so a server that accepts and never
   answers holds no one for longer. */
MYW_EXPORT MywResult myw_connect(void* context, const char* database, const char* host,
                                 const char* user, const char* password) {
  MywContext* ctx = (MywContext*)context;
  if (ctx == NULL) return Fail("no context");
  if (ctx->mysql != NULL) mysql_close(ctx->mysql);
  ctx->mysql = NULL;
  ctx->connected = 0;
  HostParts parts[kHostsMost];
  const int count = ParseHosts(host, parts);
  if (count < 0) return Fail("bad MYSQL_HOST: expected host, host:port or /socket");
  const unsigned connectTimeout = Seconds("MYSQL_CONNECT_TIMEOUT", kConnectTimeoutSeconds);
  const unsigned timeout = Seconds("MYSQL_TIMEOUT", kTimeoutSeconds);
  char failures[MYW_MESSAGE_SIZE] = "";
  for (int i = 0; i < count; ++i) {
    ctx->mysql = mysql_init(NULL);
    if (ctx->mysql == NULL) return Fail("out of memory");
    mysql_optionsv(ctx->mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_optionsv(ctx->mysql, MYSQL_OPT_READ_TIMEOUT, &timeout);
    mysql_optionsv(ctx->mysql, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    mysql_optionsv(ctx->mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const HostParts* part = &parts[i];
    if (mysql_real_connect(ctx->mysql, part->name[0] != '\0' ? part->name : NULL, user, password, database, part->port,
                           part->socket[0] != '\0' ? part->socket : NULL, 0) != NULL) {
      ctx->connected = 1;
      return Ok(0);
    }
    /* One server's words as they were; with several, each after its place in the list. */
    const size_t used = strlen(failures);
    if (count == 1) {
      snprintf(failures, sizeof failures, "%s", mysql_error(ctx->mysql));
    } else {
      snprintf(failures + used, sizeof failures - used, "%shost %d: %s", used > 0 ? "; " : "", i + 1, mysql_error(ctx->mysql));
    }
    mysql_close(ctx->mysql);
    ctx->mysql = NULL;
  }
  return Fail(failures);
}

MYW_EXPORT int myw_isConnected(void* context) {
  MYSQL* mysql = Connection(context);
  return mysql != NULL && mysql_ping(mysql) == 0 ? 1 : 0;
}

MYW_EXPORT MywResult myw_select(void* context, const char* sql, MywRecordSet* set) {
  MYSQL* mysql = Connection(context);
  if (mysql == NULL) return Fail("not connected");
  if (sql == NULL || set == NULL) return Fail("no statement");
  if (mysql_real_query(mysql, sql, strlen(sql)) != 0) return Fail(mysql_error(mysql));
  MYSQL_RES* result = mysql_store_result(mysql);
  if (result == NULL) {
    if (mysql_field_count(mysql) != 0) return Fail(mysql_error(mysql));
    return Ok(0); /* a statement without rows: an empty set */
  }
  const int copied = CopyResult(result, set);
  mysql_free_result(result);
  DrainResults(mysql);
  return copied == 0 ? Ok(set->rowCount) : Fail("out of memory");
}

MYW_EXPORT MywResult myw_exec(void* context, const char* sql) {
  MYSQL* mysql = Connection(context);
  if (mysql == NULL) return Fail("not connected");
  if (sql == NULL) return Fail("no statement");
  if (mysql_real_query(mysql, sql, strlen(sql)) != 0) return Fail(mysql_error(mysql));
  const my_ulonglong changed = mysql_affected_rows(mysql);
  DrainResults(mysql);
  return Ok(changed == (my_ulonglong)-1 ? 0 : (int64_t)changed);
}

/* The rows an UPDATE matched, changed or not: the server's info text, asked
   for in English (see ExecTrans); the affected rows when there is none. The
   affected rows alone leave out a row written with the values it held. */
static int64_t MatchedRows(MYSQL* mysql) {
  const char* info = mysql_info(mysql);
  unsigned long long matched = 0;
  if (info != NULL && sscanf(info, "Rows matched: %llu", &matched) == 1) return (int64_t)matched;
  const my_ulonglong rows = mysql_affected_rows(mysql);
  return rows == (my_ulonglong)-1 ? 0 : (int64_t)rows;
}

/* One transaction of `count` statements; with `everyMatches`, a statement
   that matches no row rolls all back, answering its position from 1 in
   `count`. */
static MywResult ExecTrans(void* context, const char* const* sqls, int32_t count, int everyMatches) {
  MYSQL* mysql = Connection(context);
  if (mysql == NULL) return Fail("not connected");
  if (sqls == NULL || count <= 0) return Fail("empty transaction: nothing to commit");
  /* The info text is in the session's message language. */
  static const char kEnglish[] = "SET SESSION lc_messages='en_US'";
  if (everyMatches && mysql_real_query(mysql, kEnglish, sizeof kEnglish - 1) != 0) return Fail(mysql_error(mysql));
  if (mysql_autocommit(mysql, 0) != 0) return Fail(mysql_error(mysql));
  int64_t changed = 0;
  for (int32_t i = 0; i < count; ++i) {
    const char* sql = sqls[i] != NULL ? sqls[i] : "";
    if (mysql_real_query(mysql, sql, strlen(sql)) != 0) return RollBack(mysql);
    const my_ulonglong rows = mysql_affected_rows(mysql);
    const int64_t matched = everyMatches ? MatchedRows(mysql) : 1;
    if (rows != (my_ulonglong)-1) changed += (int64_t)rows;
    DrainResults(mysql);
    if (matched == 0) {
      char message[64];
      snprintf(message, sizeof message, "statement %d of %d matched no row", (int)i + 1, (int)count);
      mysql_rollback(mysql);
      mysql_autocommit(mysql, 1);
      return Result(-1, i + 1, message);
    }
  }
  if (mysql_commit(mysql) != 0) return RollBack(mysql);
  mysql_autocommit(mysql, 1);
  return Ok(changed);
}

MYW_EXPORT MywResult myw_exec_trans(void* context, const char* const* sqls, int32_t count) {
  return ExecTrans(context, sqls, count, 0);
}

MYW_EXPORT MywResult myw_exec_trans_matched(void* context, const char* const* sqls, int32_t count) {
  return ExecTrans(context, sqls, count, 1);
}

MYW_EXPORT void myw_close(void* context) {
  MywContext* ctx = (MywContext*)context;
  if (ctx == NULL) return;
  if (ctx->mysql != NULL) mysql_close(ctx->mysql);
  free(ctx);
}
