// Method dispatch: the method table and the call of its handler.
#ifndef ZELVORA_DISPATCH_H_
#define ZELVORA_DISPATCH_H_

#include <string>

#include "desk/DeskService.h"
#include "markup/MarkupNode.h"

// A handler of CDeskService, as the method table holds it.
using MethodHandler = void (CDeskService::*)(const CMarkupNode* params, std::string& answer);

// The handler that `method` names, compared byte for byte and case-sensitive
// with the method table in its order; null for "getOrder" (known, without
// handler) and for every name not in the table.
MethodHandler FindMethod(const std::string& method);

// The answer of the handler that `method` names, called with `params` (may
// be null) and an empty answer; "" when there is none (unknown method,
// "getOrder", an empty answer, a request the service refused).
std::string Dispatch(CDeskService& service, const std::string& method, const CMarkupNode* params);

#endif  // ZELVORA_DISPATCH_H_
