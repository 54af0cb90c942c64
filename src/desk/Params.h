// Parameter lookups the handlers share.
#ifndef ZELVORA_DESK_PARAMS_H_
#define ZELVORA_DESK_PARAMS_H_

#include "db/SqlText.h"
#include "markup/MarkupNode.h"

// The first node named `name` below `params` (FindNode) when its text is
// not empty; null otherwise.
const CMarkupNode* FindPresent(const CMarkupNode& params, const char* name);

// Adds `clause` and the quoted text of that node when it is present.
void AddQuotedBound(const CMarkupNode& params, const char* name, const char* clause, CSqlText& sql);

#endif  // ZELVORA_DESK_PARAMS_H_
