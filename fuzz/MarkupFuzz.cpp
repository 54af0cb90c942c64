// Feeds arbitrary bytes to the markup parser and walks the tree it builds,
// checking the links every reader relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "markup/MarkupDoc.h"

namespace {

constexpr size_t kMaxInput = 1 << 20;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every child points back at its parent, and the walk reaches each node once.
void WalkTree(const CMarkupNode& root) {
  std::vector<const CMarkupNode*> pending{&root};
  while (!pending.empty()) {
    const CMarkupNode* node = pending.back();
    pending.pop_back();
    for (const auto& child : node->children) {
      Check(child != nullptr);
      Check(child->parent == node);
      pending.push_back(child.get());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  CMarkupDoc doc;
  doc.Parse(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
  const CMarkupNode& root = doc.Root();
  Check(root.parent == nullptr);
  WalkTree(root);
  for (const char* name : {"method", "params", "symbol", "comment", ""}) {
    const CMarkupNode* found = root.FindNode(name);
    if (found != nullptr) {
      Check(found->name == name);
      std::vector<const CMarkupNode*> list;
      found->FindChildren(name, list);
      for (const CMarkupNode* child : list) Check(child->parent == found);
    }
  }
  if (doc.DocType() != nullptr) Check(doc.DocType()->name == "doctype");
  if (doc.Declaration() != nullptr) Check(doc.Declaration()->name == "xml");
  return 0;
}
