/* A recording stand-in for the database library, for exact-statement tests.
   Every call is appended to the file named by ZELVORA_FAKE_LOG, one line
   each ("select <sql>", "exec <sql>", "trans <n>" then one "  <sql>" line
   per statement, "connect <db>|<host>|<user>|<password>", "close").
   ZELVORA_FAKE_ROWS names a file whose first line holds the column names and
   every further line one row, cells separated by tabs: every select answers
   those rows. ZELVORA_FAKE_FAIL set to "connect", "select" or "trans" makes
   that call fail. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Myw.h"

static void Record(const char* format, const char* text) {
  const char* path = getenv("ZELVORA_FAKE_LOG");
  if (path == NULL) return;
  FILE* log = fopen(path, "a");
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

/* Splits `line` at tabs in place into `cells`; returns how many. */
static int SplitCells(char* line, char** cells, int most) {
  int count = 0;
  for (char* cell = line; cell != NULL && count < most; ++count) {
    cells[count] = cell;
    char* tab = strchr(cell, '\t');
    if (tab != NULL) *tab++ = '\0';
    cell = tab;
  }
  return count;
}

/* Fills `set` from the ZELVORA_FAKE_ROWS file; 0 rows without one. */
static int64_t LoadRows(MywRecordSet* set) {
  const char* path = getenv("ZELVORA_FAKE_ROWS");
  FILE* file = path != NULL ? fopen(path, "r") : NULL;
  if (file == NULL) return 0;
  static char text[1 << 16];
  size_t size = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[size] = '\0';
  static char* slots[4096];
  int columns = 0, filled = 0;
  int64_t rows = 0;
  for (char* line = strtok(text, "\n"); line != NULL; line = strtok(NULL, "\n")) {
    int count = SplitCells(line, slots + filled, 4096 - filled);
    if (columns == 0) {
      columns = count;
    } else {
      for (; count < columns; ++count) slots[filled + count] = "";
      ++rows;
    }
    filled += columns;
  }
  /* One malloc block, as the real library hands over. */
  size_t pointers = (size_t)filled;
  size_t bytes = pointers * sizeof(char*);
  for (int i = 0; i < filled; ++i) bytes += strlen(slots[i]) + 1;
  char* block = malloc(bytes);
  const char** copy = (const char**)block;
  char* out = block + pointers * sizeof(char*);
  for (int i = 0; i < filled; ++i) {
    copy[i] = strcpy(out, slots[i]);
    out += strlen(slots[i]) + 1;
  }
  set->columnCount = columns;
  set->rowCount = rows;
  set->names = copy;
  set->cells = copy + columns;
  set->block = block;
  return rows;
}

void* myw_init(void) {
  static int context;
  return &context;
}

MywResult myw_connect(void* context, const char* database, const char* host, const char* user,
                      const char* password) {
  (void)context;
  char line[1024];
  snprintf(line, sizeof line, "%s|%s|%s|%s", database ? database : "(null)",
           host ? host : "(null)", user ? user : "(null)", password ? password : "(null)");
  Record("connect %s\n", line);
  return Failing("connect") ? Answer(-1, 0, "fake: connection refused") : Answer(0, 0, "");
}

int myw_isConnected(void* context) {
  (void)context;
  Record("%sisConnected\n", "");
  return 1;
}

MywResult myw_select(void* context, const char* sql, MywRecordSet* set) {
  (void)context;
  Record("select %s\n", sql);
  if (Failing("select")) return Answer(-1, 0, "fake: select failed");
  const int64_t rows = LoadRows(set);
  return Answer(0, rows, "");
}

MywResult myw_exec(void* context, const char* sql) {
  (void)context;
  Record("exec %s\n", sql);
  return Answer(0, 1, "");
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

void myw_close(void* context) {
  (void)context;
  Record("%sclose\n", "");
}
