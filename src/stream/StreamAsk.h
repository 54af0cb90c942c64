// CStreamAsk: what one stream request asks for, from its path and query.
//
//   /stream/offers                                 offers
//   /stream/account?id=ID                          account:ID, trades:ID
//   /stream/bars?symbol=SYM&period=P               bars:SYM:P
//   /stream/desk?accounts=ID,ID&symbol=SYM&period=P
//                                                  offers, each account's two, bars when asked
//
// Account ids are those of the grants grammar; a symbol is letters, digits
// and ". _ - /" (its board's key drops the "/"), a period letters and
// digits, each at most 32 bytes. At most kMaxIds accounts a request.
#ifndef ZELVORA_STREAM_STREAMASK_H_
#define ZELVORA_STREAM_STREAMASK_H_

#include <string>
#include <vector>

#include "stream/Topic.h"

struct CStreamAsk {
  static constexpr size_t kMaxIds = 100;

  std::vector<CTopicDef> topics;
  std::vector<std::string> accounts;  // the ids whose right the caller needs
  bool bars = false;                  // a bars topic, whose board must exist

  // 0 with the topics filled; otherwise the HTTP status (404 unknown path,
  // 400 bad parameters) with `why`, a line for the refusal's body.
  int Parse(const char* path, const char* query, std::string& why);
};

#endif  // ZELVORA_STREAM_STREAMASK_H_
