// One element of a parsed request document.
//
// A node owns its children: destroying a node destroys its whole subtree
// (iteratively, so a hostile, very deep document cannot exhaust the stack).
// `parent` is non-owning and null for the root. Names are lower-cased by the
// parser; every lookup compares bytes exactly, so callers pass lower-case
// names. Pointers returned by the lookups live as long as the document.
#ifndef ZELVORA_MARKUP_MARKUPNODE_H_
#define ZELVORA_MARKUP_MARKUPNODE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

class CMarkupNode {
 public:
  CMarkupNode() = default;
  ~CMarkupNode();
  CMarkupNode(const CMarkupNode&) = delete;
  CMarkupNode& operator=(const CMarkupNode&) = delete;

  // The first node named `name` in this subtree, pre-order, this node tested
  // first; null when there is none.
  const CMarkupNode* FindNode(const std::string& name) const;

  // Appends every direct child named `name`, in document order, to `list`
  // (which is not cleared first). Grandchildren are not looked at.
  void FindChildren(const std::string& name, std::vector<const CMarkupNode*>& list) const;

  // Appends `child` to `children` and makes this node its parent; returns it.
  CMarkupNode* AddChild(std::unique_ptr<CMarkupNode> child);

  // Removes and returns the child at `index`; its parent becomes null.
  // REQUIRES: index < children.size().
  std::unique_ptr<CMarkupNode> TakeChild(size_t index);

  std::string name;
  std::string text;
  std::map<std::string, std::string> attributes;
  CMarkupNode* parent = nullptr;
  std::vector<std::unique_ptr<CMarkupNode>> children;
  bool closed = false;       // its end tag was seen
  bool selfClosing = false;  // "/>" ended its start tag
};

#endif  // ZELVORA_MARKUP_MARKUPNODE_H_
