// A recording stand-in for the database library, for exact-statement tests.
// Every call is appended to the file named by ZELVORA_FAKE_LOG, one line
// each ("select <sql>", "exec <sql>", "trans <n>" then one "  <sql>" line
// per statement, "connect <db>|<host>|<user>|<password>", "isConnected",
// "close"). ZELVORA_FAKE_ROWS names a file whose first line holds the column
// names and every further line one row, cells separated by tabs: every
// select answers those rows. ZELVORA_FAKE_FAIL set to "connect", "select" or
// "trans" makes that call fail; "lost" makes every select fail and
// myw_isConnected answer 0 (a connection gone away).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Myw.h"

static void Record(const char* format, const char* text) {
  const char* path = getenv("ZELVORA_FAKE_LOG");
  FILE* log = path != NULL ? fopen(path, "a") : NULL;
  if (log == NULL) return;
  fprintf(log, format, text != NULL ? text : "(null)");
  fclose(log);
}

static int Failing(const char* call) {
  const char* fail = getenv("ZELVORA_FAKE_FAIL");
  return fail != NULL && strcmp(fail, call) == 0;
}

static MywResult Answer(int32_t code, int64_t count, const char* message) {
  MywResult result;
  memset(&result, 0, sizeof result);
  result.code = code;
  result.count = count;
  snprintf(result.message, sizeof result.message, "%s", message);
  return result;
}

void* myw_init(void) {
  static int context;
  return &context;
}

MywResult myw_connect(void* context, const char* database, const char* host, const char* user,
                      const char* password) {
  (void)context;
  Record("connect %s", database), Record("|%s", host), Record("|%s", user);
  Record("|%s\n", password);
  return Failing("connect") ? Answer(-1, 0, "fake: connection refused") : Answer(0, 0, "");
}

// Fills `set` from the ZELVORA_FAKE_ROWS file (at most 64 KiB, 64 columns, 254 rows), pointing into
// buffers of its own that live until the next call; the block to free is none. A row shorter
// than the names line gets empty cells; a longer one is cut.
static int64_t LoadRows(MywRecordSet* set) {
  const char* path = getenv("ZELVORA_FAKE_ROWS");
  FILE* file = path != NULL ? fopen(path, "r") : NULL;
  if (file == NULL) return 0;
  static char text[1 << 16];
  static const char* cells[1 << 14];
  text[fread(text, 1, sizeof text - 1, file)] = '\0';
  fclose(file);
  int32_t columns = 0;
  int64_t rows = -1;
  for (char* line = strtok(text, "\n"); line != NULL && rows < 254;
       line = strtok(NULL, "\n"), ++rows) {
    int32_t count = 0;
    for (char* cell = line; cell != NULL && count < (columns == 0 ? 64 : columns); ++count) {
      cells[(rows + 1) * columns + count] = cell;
      cell = strchr(cell, '\t');
      if (cell != NULL) *cell++ = '\0';
    }
    if (columns == 0) columns = count;
    while (count < columns) cells[(rows + 1) * columns + count++] = "";
  }
  *set = (MywRecordSet){columns, rows < 0 ? 0 : rows, cells, cells + columns, NULL};
  return set->rowCount;
}

int myw_isConnected(void* context) {
  (void)context;
  Record("%sisConnected\n", "");
  return !Failing("lost");
}

MywResult myw_select(void* context, const char* sql, MywRecordSet* set) {
  (void)context;
  Record("select %s\n", sql);
  if (Failing("lost")) return Answer(-1, 0, "fake: lost connection");
  return Failing("select") ? Answer(-1, 0, "fake: select failed") : Answer(0, LoadRows(set), "");
}

MywResult myw_exec(void* context, const char* sql) {
  (void)context;
  Record("exec %s\n", sql);
  return Answer(0, 1, "");
}

void myw_close(void* context) {
  (void)context;
  Record("%sclose\n", "");
}

MywResult myw_exec_trans(void* context, const char* const* sqls, int32_t count) {
  (void)context;
  char number[16];
  snprintf(number, sizeof number, "%d", count);
  Record("trans %s\n", number);
  for (int32_t i = 0; i < count; ++i) Record("  %s\n", sqls[i]);
  if (Failing("trans")) return Answer(-1, 0, "fake: transaction failed");
  return count > 0 ? Answer(0, count, "") : Answer(-1, 0, "empty transaction: nothing to commit");
}

MywResult myw_exec_trans_matched(void* context, const char* const* sqls, int32_t count) {
  return myw_exec_trans(context, sqls, count);
}
