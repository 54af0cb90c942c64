// Serving one request, the same way in both modes: who calls and whether
// they may (ZELVORA_ACCESS), the body-length rules, reading the body from
// `in`, parsing, dispatching, and the banner answer (with a Status line for
// a caller refused whole) for whatever cannot be served; the health check
// and the metrics where the web server asks for them (ZELVORA_PROBE); and
// the request's count in the scoreboard and line in the request log.
// The body is read from `in` and the answer written to `out` (src/Response),
// so the CGI program (stdin, stdout), the FastCGI worker (the request's own
// streams) and the fuzzer (memory streams) call the same function.
// Diagnostics go to stderr, whatever that stream is for the request in hand:
// they are written from every layer (the database client, the board reader,
// the handlers, the settings), so a worker points the process's stderr at
// the request's error stream for the request, and a fuzzer at /dev/null,
// rather than pass a stream through every call for diagnostics only.
#ifndef ZELVORA_SERVE_H_
#define ZELVORA_SERVE_H_

#include <cstdio>

#include "desk/DeskService.h"

// Serves the request whose body is on `in` and whose variables are in the
// environment, its answer written to `out`. `slot` keeps the database client, and is null only in a
// process that serves one request (CGI): the client is the request's own,
// and of the grants file only the caller's grants are kept.
void ServeRequest(FILE* in, FILE* out, CDbSlot* slot);

#endif  // ZELVORA_SERVE_H_
