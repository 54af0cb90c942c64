// Request intake of the CGI entry: the body-length rules, reading the body,
// and finding the method element in the parsed document.
#ifndef ZELVORA_REQUEST_H_
#define ZELVORA_REQUEST_H_

#include <cstdint>
#include <cstdio>

#include "markup/MarkupNode.h"

// The announced body length when the body may be read: CONTENT_LENGTH above
// 0, within 32 bits and strictly below MAX_CONTENT_LENGTH, both read with
// strtoll (base 10), an unset variable counting as 0. -1 otherwise. For a
// positive length, a limit that is unset, not wholly a number or not above
// 0 is named on standard error.
int32_t AcceptedBodyLength();

// Reads `in` byte by byte until end of input or until `length` bytes are in
// `buffer`; returns how many were read. Every byte value is body data.
int32_t ReadBody(FILE* in, char* buffer, int32_t length);

// The first "method" element (pre-order, at any depth) of a request whose
// root is named "zelvora"; null for any other root or without one.
const CMarkupNode* FindMethodNode(const CMarkupNode& root);

#endif  // ZELVORA_REQUEST_H_
