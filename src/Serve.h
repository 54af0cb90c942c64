// Serving one request, the same way in both modes: the body-length rules,
// reading the body from `in`, parsing, dispatching, and the banner answer
// for whatever cannot be served. Answers go to stdout, diagnostics to
// stderr, whatever those streams are for the request in hand.
#ifndef ZELVORA_SERVE_H_
#define ZELVORA_SERVE_H_

#include <cstdio>

#include "desk/Zelvora.h"

// The header and the version banner.
void WriteBannerAnswer();

// Serves the request whose body is on `in` and whose variables are in the
// environment. `slot` keeps the database client (null: the request's own).
void ServeRequest(FILE* in, CDbSlot* slot);

#endif  // ZELVORA_SERVE_H_
