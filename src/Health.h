// The two answers a web server asks for by location rather than by body:
// the balancer's health check and the pool's metrics.
//
// The health check answers 200 with {"status":"ok",...} when the host can
// serve, else 503 with {"status":"unavailable","reason":"..."}: the offer
// board missing, refused, locked past SHM_LOCK_MS or unreadable; its
// records unchanged for longer than OFFER_STALE_SECONDS (the feeder
// stopped); or, where the host uses a database (MYSQL_HOST or MYSQL_DB
// set), no answer to "SELECT 1" within a second. It names no account.
//
// "Unchanged" is measured on the board's records, not on its file: each
// check (and each scrape of the metrics) reads the offer board as getOffer
// does and digests its records, and the process remembers the last digest
// and when it first saw it. Only what the process itself read counts: no
// file another process could write (the scoreboard included) moves the
// verdict. A worker's first check finds the board changed; a CGI process,
// which remembers nothing, can tell only whether the board is readable.
//
// A verdict is answered again for a second after it was reached, so a crowd
// of checks costs each worker one check a second: one board read, waiting
// at most SHM_LOCK_MS for its lock, and at most a second for the database.
#ifndef ZELVORA_HEALTH_H_
#define ZELVORA_HEALTH_H_

#include <cstdio>

#include "desk/DeskService.h"
#include "ops/Scoreboard.h"

// Writes the health check's answer to `out`, header included; the outcome
// counted.
// `slot`: non-null in a worker, which keeps a connection of its own for the
// checks, apart from the one its requests use.
Outcome WriteHealthAnswer(FILE* out, CDbSlot* slot);

// Writes the metrics of RequestScoreboard() to `out`, or a 503 without one.
Outcome WriteMetricsAnswer(FILE* out);

#endif  // ZELVORA_HEALTH_H_
