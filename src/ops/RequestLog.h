// The request log: one line per request, appended to the file
// ZELVORA_REQUEST_LOG names (no log when it is unset or empty), in logfmt:
//
//   time=2026-12-07T13:50:17.123456Z user=alice method=getOffer ids=2 outcome=answered us=412
//   boards=answered db=none
//
// `user` is REMOTE_USER ("-" when there is none, and for the health check,
// whose location checks no password), cut at kLogUserBytes and
// quoted with every byte that is not printable ASCII, and `"` and `\`,
// written as \xHH (so no request byte can end a line or make a field);
// `method` is one of the counted names (any other is "none"); `ids` the
// children of the request's params; `boards` and `db` say whether the
// request's board reads and database calls were none, all "answered", all
// "failed", or "partly". A line is at most kLogLineBytes and goes out in
// one write to a file opened O_APPEND, so the lines of a pool's processes
// never mix. The file is opened once (made 0600 when missing) and kept
// open; once a second at most its name is looked at again, and a file
// renamed away (rotated) or replaced is let go for the new one. A file
// that cannot be opened or written is said on standard error once per name.
#ifndef ZELVORA_OPS_REQUESTLOG_H_
#define ZELVORA_OPS_REQUESTLOG_H_

#include <cstddef>
#include <cstdint>

#include "ops/Scoreboard.h"

constexpr size_t kLogLineBytes = 512;
constexpr size_t kLogUserBytes = 64;

// Logs the request in hand (RequestFacts) with its `outcome` and `micros`.
void LogRequest(Outcome outcome, int64_t micros);

#endif  // ZELVORA_OPS_REQUESTLOG_H_
