#include "desk/Params.h"

const CMarkupNode* FindPresent(const CMarkupNode& params, const char* name) {
  const CMarkupNode* node = params.FindNode(name);
  return node != nullptr && !node->text.empty() ? node : nullptr;
}

void AddQuotedBound(const CMarkupNode& params, const char* name, const char* clause,
                    CSqlText& sql) {
  if (const CMarkupNode* bound = FindPresent(params, name)) sql.Add(clause).Quoted(bound->text);
}
