/* A database library with entry points left out, for the client's failure
   paths: OMIT_INIT drops myw_init; OMIT_QUERIES drops myw_select,
   myw_exec, myw_isConnected and myw_close. Its connect always succeeds. */
#include <string.h>

#include "Myw.h"

static MywResult Answer(int32_t code) {
  MywResult result;
  memset(&result, 0, sizeof result);
  result.code = code;
  return result;
}

#ifndef OMIT_INIT
void* myw_init(void) {
  static int context;
  return &context;
}
#endif

MywResult myw_connect(void* context, const char* database, const char* host, const char* user,
                      const char* password) {
  (void)context, (void)database, (void)host, (void)user, (void)password;
  return Answer(0);
}

MywResult myw_exec_trans(void* context, const char* const* sqls, int32_t count) {
  (void)context, (void)sqls, (void)count;
  return Answer(0);
}

#ifndef OMIT_QUERIES
MywResult myw_exec(void* context, const char* sql) {
  (void)context, (void)sql;
  return Answer(0);
}

MywResult myw_select(void* context, const char* sql, MywRecordSet* set) {
  (void)context, (void)sql, (void)set;
  return Answer(0);
}

int myw_isConnected(void* context) {
  (void)context;
  return 1;
}

void myw_close(void* context) { (void)context; }
#endif
