/* The database library's interface, shared by the library (libmysqlpp.so)
   and the program that loads it at run time.

   Only plain C types cross it, so the program (which carries its own C++
   runtime) and the library (plain C) share nothing but the C library. The
   one block the library hands over, a record set's, is a single malloc
   block that the caller gives back with free().

   MywResult, returned by value from every call:

     offset  size   field
     0       4      code     int32: 0 success, -1 failure
     4       4      (padding)
     8       8      count    int64: rows of a select (low 32 bits, signed),
                             rows an exec matched (found rows)
     16      1024   message  the server's or the library's text, NUL-ended
     1040           total
*/
#ifndef ZELVORA_MYW_H_
#define ZELVORA_MYW_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MYW_MESSAGE_SIZE 1024

typedef struct MywResult {
  int32_t code;
  int64_t count;
  char message[MYW_MESSAGE_SIZE];
} MywResult;

/* A selected result: every cell as text (SQL NULL as ""), row by row.
   `cells` holds rowCount * columnCount entries, row-major. All pointers
   point into `block`, one malloc block; free(block) releases everything.
   Zero it before a select; a failed select leaves it zero. */
typedef struct MywRecordSet {
  int32_t columnCount;
  int64_t rowCount;
  const char* const* names;
  const char* const* cells;
  void* block;
} MywRecordSet;

/* A new context for one connection, or NULL when out of memory. */
void* myw_init(void);

/* Connects; NULL arguments are absent (the client's defaults). `host` is a
   host name, "host:port", "[ipv6]:port", or an absolute unix socket path.
   The context keeps copies of the arguments: a statement that finds its
   connection gone away (the server's "gone away" or "lost connection", at
   once rather than after MYSQL_TIMEOUT) connects with them again, once, as
   each call below says. Any other failure leaves the connection as it is.
   Connected, `count` is the place in the list of the host that answered
   (0 for the first). */
MywResult myw_connect(void* context, const char* database, const char* host, const char* user,
                      const char* password);

/* Non-zero while the context holds a connection: made, and not found gone
   away since. The server is not asked. */
int myw_isConnected(void* context);

/* Runs one statement that returns rows into `set` (zeroed by the caller).
   It must change nothing: one that met a connection gone away runs again. */
MywResult myw_select(void* context, const char* sql, MywRecordSet* set);

/* Runs one statement; `count` is the rows it matched (an UPDATE counts a
   row it matched whether or not a value changed). Never sent twice. */
MywResult myw_exec(void* context, const char* sql);

/* Runs `count` statements as one transaction: all committed (code 0) or
   all rolled back (code -1, the failing statement's message). An empty list
   commits nothing and answers -1. A connection gone away before the COMMIT
   was sent rolled it back: it runs again. Gone during the COMMIT, the
   transaction may have been committed: -1, and it is not sent again. */
MywResult myw_exec_trans(void* context, const char* const* sqls, int32_t count);

/* As myw_exec_trans, and a statement that matches no row (an UPDATE whose
   WHERE finds nothing, whether or not the values would change) rolls all
   back: code -1, `count` the statement's position from 1. (Connections
   count found rows: an UPDATE's count is the rows it matched.) */
MywResult myw_exec_trans_matched(void* context, const char* const* sqls, int32_t count);

/* Closes the connection and frees the context (NULL is ignored). */
void myw_close(void* context);

typedef void* (*MywInitFn)(void);
typedef MywResult (*MywConnectFn)(void*, const char*, const char*, const char*, const char*);
typedef int (*MywIsConnectedFn)(void*);
typedef MywResult (*MywSelectFn)(void*, const char*, MywRecordSet*);
typedef MywResult (*MywExecFn)(void*, const char*);
typedef MywResult (*MywExecTransFn)(void*, const char* const*, int32_t);
typedef void (*MywCloseFn)(void*);

#ifdef __cplusplus
} /* extern "C" */
static_assert(offsetof(MywResult, code) == 0, "MywResult.code at 0");
static_assert(offsetof(MywResult, count) == 8, "MywResult.count at 8");
static_assert(offsetof(MywResult, message) == 16, "MywResult.message at 16");
static_assert(sizeof(MywResult) == 1040, "MywResult is 1040 bytes");
#else
_Static_assert(offsetof(MywResult, count) == 8, "MywResult.count at 8");
_Static_assert(sizeof(MywResult) == 1040, "MywResult is 1040 bytes");
#endif

#endif /* ZELVORA_MYW_H_ */
