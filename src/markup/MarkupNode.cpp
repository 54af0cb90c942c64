#include "markup/MarkupNode.h"

#include <utility>

CMarkupNode::~CMarkupNode() {
  // Flatten the subtree first so that each node dies childless.
  std::vector<std::unique_ptr<CMarkupNode>> pending = std::move(children);
  while (!pending.empty()) {
    std::unique_ptr<CMarkupNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children) pending.push_back(std::move(child));
    node->children.clear();
  }
}

const CMarkupNode* CMarkupNode::FindNode(const std::string& wanted) const {
  // Children are pushed in reverse so they pop in document order.
  std::vector<const CMarkupNode*> stack{this};
  while (!stack.empty()) {
    const CMarkupNode* node = stack.back();
    stack.pop_back();
    if (node->name == wanted) return node;
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
      stack.push_back(it->get());
    }
  }
  return nullptr;
}

void CMarkupNode::FindChildren(const std::string& wanted,
                               std::vector<const CMarkupNode*>& list) const {
  for (const auto& child : children) {
    if (child->name == wanted) list.push_back(child.get());
  }
}

CMarkupNode* CMarkupNode::AddChild(std::unique_ptr<CMarkupNode> child) {
  child->parent = this;
  if (children.empty()) children.reserve(4);  // a request's params: a few children, one allocation
  children.push_back(std::move(child));
  return children.back().get();
}

std::unique_ptr<CMarkupNode> CMarkupNode::TakeChild(size_t index) {
  std::unique_ptr<CMarkupNode> child = std::move(children[index]);
  children.erase(children.begin() + static_cast<std::ptrdiff_t>(index));
  child->parent = nullptr;
  return child;
}
