/* libmysqlpp.so: the desk's database library on MariaDB Connector/C.
   Text protocol only: every cell arrives as text, SQL NULL as "".
   Written in C so that loading it costs no C++ runtime: a request that
   reaches the database pays for the connector alone. */
#include "Myw.h"

#include <errmsg.h>
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MYW_EXPORT __attribute__((visibility("default")))

/* MYSQL_CONNECT_TIMEOUT and MYSQL_TIMEOUT when unset or not a number of
   seconds from 1 to 3600. */
enum { kConnectTimeoutSeconds = 2, kTimeoutSeconds = 10, kHostsMost = 16 };

/* The connection and what made it: myw_connect's arguments (copies; NULL
   stays absent) serve again when a statement finds the connection gone. */
typedef struct MywContext {
  MYSQL* mysql;
  int connected;
  char *database, *host, *user, *password;
  unsigned timeout; /* MYSQL_TIMEOUT of the connection made */
  double started;   /* when the last round trip began (monotonic seconds) */
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
    if (close == NULL || CopyPart(parts->name, host + 1, (size_t)(close - host - 1)) != 0)
      return -1;
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
  for (unsigned c = 0; c < columns; ++c)
    slots[c] = Put(&text, fields[c].name, strlen(fields[c].name));
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

MYW_EXPORT void* myw_init(void) { return calloc(1, sizeof(MywContext)); }

/* Seconds from the environment variable `name`, or `fallback`. */
static unsigned Seconds(const char* name, unsigned fallback) {
  const char* text = getenv(name);
  if (text == NULL || *text == '\0' || strspn(text, "0123456789") != strlen(text) ||
      strlen(text) > 4)
    return fallback;
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
    if (count == kHostsMost || length == 0 || CopyPart(one, at, length) != 0 ||
        ParseHost(one, &parts[count]) != 0)
      return -1;
    if (end == NULL) return count + 1;
    at = end + 1;
  }
}

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void Disconnect(MywContext* ctx) {
  if (ctx->mysql != NULL) mysql_close(ctx->mysql);
  ctx->mysql = NULL;
  ctx->connected = 0;
}

/* Connects to the first host of the context's list that answers, each tried
   for at most MYSQL_CONNECT_TIMEOUT seconds; every round trip then has
   MYSQL_TIMEOUT seconds to be read and written, so a server that accepts and
   never answers holds no one for longer. */
static MywResult Open(MywContext* ctx) {
  Disconnect(ctx);
  HostParts parts[kHostsMost];
  const int count = ParseHosts(ctx->host, parts);
  if (count < 0) return Fail("bad MYSQL_HOST: expected host, host:port or /socket");
  const unsigned connectTimeout = Seconds("MYSQL_CONNECT_TIMEOUT", kConnectTimeoutSeconds);
  ctx->timeout = Seconds("MYSQL_TIMEOUT", kTimeoutSeconds);
  char failures[MYW_MESSAGE_SIZE] = "";
  for (int i = 0; i < count; ++i) {
    ctx->mysql = mysql_init(NULL);
    if (ctx->mysql == NULL) return Fail("out of memory");
    mysql_optionsv(ctx->mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_optionsv(ctx->mysql, MYSQL_OPT_READ_TIMEOUT, &ctx->timeout);
    mysql_optionsv(ctx->mysql, MYSQL_OPT_WRITE_TIMEOUT, &ctx->timeout);
    mysql_optionsv(ctx->mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    /* A server that is not the desk's (a wrong MYSQL_HOST: the host is the
       operator's, never a request's) must not be able to read the client's
       files, nor be sent the password as it is: no LOAD DATA LOCAL, and no
       clear-text password method. */
    const unsigned off = 0;
    mysql_optionsv(ctx->mysql, MYSQL_OPT_LOCAL_INFILE, &off);
    mysql_optionsv(ctx->mysql, MARIADB_OPT_RESTRICTED_AUTH,
                   "mysql_native_password,caching_sha2_password,sha256_password,client_ed25519");
    const HostParts* part = &parts[i];
    /* Found rows: an UPDATE counts the rows it matched, changed or not. */
    if (mysql_real_connect(ctx->mysql, part->name[0] != '\0' ? part->name : NULL, ctx->user,
                           ctx->password, ctx->database, part->port,
                           part->socket[0] != '\0' ? part->socket : NULL,
                           CLIENT_FOUND_ROWS) != NULL) {
      ctx->connected = 1;
      return Ok(i); /* the host's place in the list: 0 for the first */
    }
    /* One server's words as they were; with several, each after its place in the list. */
    const size_t used = strlen(failures);
    if (count == 1) {
      snprintf(failures, sizeof failures, "%s", mysql_error(ctx->mysql));
    } else {
      snprintf(failures + used, sizeof failures - used, "%shost %d: %s", used > 0 ? "; " : "",
               i + 1, mysql_error(ctx->mysql));
    }
    Disconnect(ctx);
  }
  return Fail(failures);
}

/* A copy of `text` in *copy (NULL for NULL); -1 when out of memory. */
static int Keep(char** copy, const char* text) {
  free(*copy);
  *copy = text != NULL ? strdup(text) : NULL;
  return text != NULL && *copy == NULL ? -1 : 0;
}

MYW_EXPORT MywResult myw_connect(void* context, const char* database, const char* host,
                                 const char* user, const char* password) {
  MywContext* ctx = (MywContext*)context;
  if (ctx == NULL) return Fail("no context");
  Disconnect(ctx);
  if (Keep(&ctx->database, database) != 0 || Keep(&ctx->host, host) != 0 ||
      Keep(&ctx->user, user) != 0 || Keep(&ctx->password, password) != 0) {
    return Fail("out of memory");
  }
  return Open(ctx);
}

/* What the library knows, without asking the server: a connection that went
   away is found by the statement that meets it. */
MYW_EXPORT int myw_isConnected(void* context) { return Connection(context) != NULL ? 1 : 0; }

/* The connector's last failure: its words in `result`, its error number
   (never 0) returned. */
static unsigned Failed(MywContext* ctx, MywResult* result) {
  *result = Fail(mysql_error(ctx->mysql));
  const unsigned code = mysql_errno(ctx->mysql);
  return code != 0 ? code : CR_UNKNOWN_ERROR;
}

/* Runs one statement as one round trip; 0, or the connector's error number
   with its words in `result`. */
static unsigned Query(MywContext* ctx, const char* sql, MywResult* result) {
  ctx->started = Now();
  if (mysql_real_query(ctx->mysql, sql, strlen(sql)) == 0) return 0;
  return Failed(ctx, result);
}

static void Append(MywResult* result, const char* text) {
  const size_t used = strlen(result->message);
  snprintf(result->message + used, sizeof result->message - used, "%s", text);
}

/* After a round trip failed with `code`: 1 when the call may run again on a
   new connection, made here. Only a connection that went away (the server's
   "gone away" and "lost connection") is given up, and closed, so that later
   calls fail at once; a statement the server refused leaves it as it is. A
   new one is made only when `mayRepeat` and the old one went away at once,
   not after waiting out MYSQL_TIMEOUT: a server that stops answering costs
   a request one timeout, not one per statement. */
static int Reopened(MywContext* ctx, unsigned code, int mayRepeat, MywResult* result) {
  if (code != CR_SERVER_GONE_ERROR && code != CR_SERVER_LOST) return 0;
  const int timedOut = Now() - ctx->started + 0.05 >= (double)ctx->timeout;
  Disconnect(ctx);
  if (timedOut) Append(result, " (no answer within MYSQL_TIMEOUT)");
  if (!mayRepeat || timedOut) return 0;
  const MywResult opened = Open(ctx);
  if (opened.code == 0) return 1;
  Append(result, "; connecting again: ");
  Append(result, opened.message);
  return 0;
}

static unsigned SelectOnce(MywContext* ctx, const char* sql, MywRecordSet* set, MywResult* result) {
  const unsigned code = Query(ctx, sql, result);
  if (code != 0) return code;
  MYSQL_RES* rows = mysql_store_result(ctx->mysql);
  if (rows == NULL) {
    *result = Ok(0); /* a statement without rows: an empty set */
    if (mysql_field_count(ctx->mysql) == 0) return 0;
    return Failed(ctx, result);
  }
  const int copied = CopyResult(rows, set);
  mysql_free_result(rows);
  DrainResults(ctx->mysql);
  *result = copied == 0 ? Ok(set->rowCount) : Fail("out of memory");
  return 0;
}

/* A select changes nothing, so one that met a connection gone away runs once
   more on a new one. */
MYW_EXPORT MywResult myw_select(void* context, const char* sql, MywRecordSet* set) {
  MywContext* ctx = (MywContext*)context;
  if (Connection(ctx) == NULL) return Fail("not connected");
  if (sql == NULL || set == NULL) return Fail("no statement");
  MywResult result;
  for (int repeat = 1;; repeat = 0) {
    const unsigned code = SelectOnce(ctx, sql, set, &result);
    if (code == 0 || !Reopened(ctx, code, repeat, &result)) return result;
  }
}

/* Never sent twice: a statement whose connection went away may have been
   carried out. */
MYW_EXPORT MywResult myw_exec(void* context, const char* sql) {
  MywContext* ctx = (MywContext*)context;
  if (Connection(ctx) == NULL) return Fail("not connected");
  if (sql == NULL) return Fail("no statement");
  MywResult result;
  const unsigned code = Query(ctx, sql, &result);
  if (code != 0) {
    Reopened(ctx, code, 0, &result);
    return result;
  }
  const my_ulonglong changed = mysql_affected_rows(ctx->mysql);
  DrainResults(ctx->mysql);
  return Ok(changed == (my_ulonglong)-1 ? 0 : (int64_t)changed);
}

/* TransOnce's answer for a statement that matched no row: no round trip
   failed, and nothing is to be run again. */
enum { kMatchedNoRow = 1u << 30 };

/* One try at the transaction; 0, the failing round trip's error number, or
   kMatchedNoRow when `everyMatches` and a statement matched no row (all
   rolled back, its position from 1 in the result's count). `committing` is
   set once the COMMIT is on its way. */
static unsigned TransOnce(MywContext* ctx, const char* const* sqls, int32_t count, int everyMatches,
                          MywResult* result, int* committing) {
  unsigned code = Query(ctx, "START TRANSACTION", result);
  int64_t changed = 0;
  for (int32_t i = 0; code == 0 && i < count; ++i) {
    code = Query(ctx, sqls[i] != NULL ? sqls[i] : "", result);
    if (code != 0) break;
    const my_ulonglong rows = mysql_affected_rows(ctx->mysql);
    if (rows != (my_ulonglong)-1) changed += (int64_t)rows;
    DrainResults(ctx->mysql);
    if (everyMatches && (rows == 0 || rows == (my_ulonglong)-1)) {
      char message[64];
      snprintf(message, sizeof message, "statement %d of %d matched no row", (int)i + 1,
               (int)count);
      mysql_real_query(ctx->mysql, "ROLLBACK", 8);
      *result = Result(-1, i + 1, message);
      return kMatchedNoRow;
    }
  }
  if (code == 0) {
    *committing = 1;
    code = Query(ctx, "COMMIT", result);
  }
  if (code == 0) {
    *result = Ok(changed);
  } else if (code != CR_SERVER_GONE_ERROR && code != CR_SERVER_LOST) {
    mysql_real_query(ctx->mysql, "ROLLBACK", 8);
  }
  return code;
}

/* A transaction whose connection went away before its COMMIT was sent was
   rolled back with it, and runs once more on a new connection; one that went
   away during the COMMIT may have been committed, and is not sent again. */
static MywResult ExecTrans(void* context, const char* const* sqls, int32_t count,
                           int everyMatches) {
  MywContext* ctx = (MywContext*)context;
  if (Connection(ctx) == NULL) return Fail("not connected");
  if (sqls == NULL || count <= 0) return Fail("empty transaction: nothing to commit");
  MywResult result;
  for (int repeat = 1;; repeat = 0) {
    int committing = 0;
    const unsigned code = TransOnce(ctx, sqls, count, everyMatches, &result, &committing);
    if (code == 0 || !Reopened(ctx, code, repeat && !committing, &result)) return result;
  }
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
  Disconnect(ctx);
  free(ctx->database), free(ctx->host), free(ctx->user), free(ctx->password);
  free(ctx);
}
