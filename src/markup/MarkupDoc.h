// A parsed request document: the root element and its subtree, plus the last
// document type and XML declaration seen (which are not part of the tree).
//
// The document owns every node; pointers into it stay valid until it is
// destroyed. It lives for one request.
#ifndef ZELVORA_MARKUP_MARKUPDOC_H_
#define ZELVORA_MARKUP_MARKUPDOC_H_

#include <cstdint>
#include <memory>

#include "markup/MarkupNode.h"

class CMarkupDoc {
 public:
  CMarkupDoc() = default;
  CMarkupDoc(const CMarkupDoc&) = delete;
  CMarkupDoc& operator=(const CMarkupDoc&) = delete;

  // Builds the tree from `count` bytes at `data`. Tolerant: never fails and
  // never reads outside the range; malformed input yields some tree. A null
  // `data` or a count of 0 or less leaves the document empty. The bytes need
  // not be zero-terminated and are not kept. Call once, on a fresh document.
  void Parse(const char* data, int32_t count);

  // The root takes the name, attributes and flags of the first start tag;
  // its name is empty when there was none.
  const CMarkupNode& Root() const { return root_; }
  CMarkupNode& Root() { return root_; }

  // Last "<!...DOCTYPE...>" seen (name "doctype"), or null.
  const CMarkupNode* DocType() const { return docType_.get(); }
  void SetDocType(std::unique_ptr<CMarkupNode> node) { docType_ = std::move(node); }

  // Last "<?xml ...>" seen (name "xml"), or null.
  const CMarkupNode* Declaration() const { return declaration_.get(); }
  void SetDeclaration(std::unique_ptr<CMarkupNode> node) { declaration_ = std::move(node); }

 private:
  CMarkupNode root_;
  std::unique_ptr<CMarkupNode> docType_;
  std::unique_ptr<CMarkupNode> declaration_;
};

#endif  // ZELVORA_MARKUP_MARKUPDOC_H_
