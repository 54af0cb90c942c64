// Method dispatch and the regular CGI response.
#ifndef ZELVORA_DISPATCH_H_
#define ZELVORA_DISPATCH_H_

#include <string>

#include "desk/Zelvora.h"
#include "markup/MarkupNode.h"

// A handler of CDeskService, as the method table holds it.
using MethodHandler = void (CDeskService::*)(const CMarkupNode* params, std::string& answer);

// The handler that `method` names, compared byte for byte and case-sensitive
// with the method table in its order; null for "getOrder" (known, without
// handler) and for every name not in the table.
MethodHandler FindMethod(const std::string& method);

// Calls the handler that `method` names with `params` (may be null) and an
// empty answer, then writes the answer. Returns 0 when an answer was
// written, -1 when nothing was (unknown method, "getOrder", empty answer, a
// request the service refused).
int Dispatch(CDeskService& service, const std::string& method, const CMarkupNode* params);

// Writes the response header and `answer` unchanged (no line end after it,
// no printf interpretation) to standard output. Returns 0 when written, -1
// (and writes nothing) when `answer` is empty.
int WriteAnswer(const std::string& answer);

// The response header text; puts adds the line end that ends the header.
extern const char kResponseHeader[];

#endif  // ZELVORA_DISPATCH_H_
