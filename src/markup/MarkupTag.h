// Reading of one tag text, "<" to ">" inclusive, into a fresh node.
#ifndef ZELVORA_MARKUP_MARKUPTAG_H_
#define ZELVORA_MARKUP_MARKUPTAG_H_

#include <string>

#include "markup/MarkupNode.h"

enum class TagKind { kStart, kEnd, kDocType, kComment, kDeclaration };

// Reads `tag` into `node`, which must be fresh:
//   kStart       name (lower-cased), attributes, selfClosing
//   kEnd         name (lower-cased; a blank before ">" stays in it)
//   kDocType     name "doctype", text after the first "DOCTYPE" up to ">"
//   kComment     name "comment", text between the first and last "--", trimmed
//   kDeclaration name "xml", attributes
// Never fails. REQUIRES: tag.size() >= 2, tag[0] == '<', tag.back() == '>'.
TagKind ReadTag(const std::string& tag, CMarkupNode& node);

#endif  // ZELVORA_MARKUP_MARKUPTAG_H_
