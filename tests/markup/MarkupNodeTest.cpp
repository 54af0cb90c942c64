#include "markup/MarkupNode.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

CMarkupNode* Add(CMarkupNode& parent, const char* name, const char* text = "") {
  auto node = std::make_unique<CMarkupNode>();
  node->name = name;
  node->text = text;
  return parent.AddChild(std::move(node));
}

TEST(FindNode, SearchesWholeFirstSubtreeBeforeNextChild) {
  CMarkupNode root;
  root.name = "r";
  CMarkupNode* b = Add(root, "b");
  Add(*b, "a", "x");
  Add(root, "a", "y");
  const CMarkupNode* found = root.FindNode("a");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->text, "x");
  EXPECT_EQ(found->parent, b);
}

TEST(FindNode, TestsTheNodeItselfFirst) {
  CMarkupNode root;
  root.name = "params";
  Add(root, "params", "inner");
  EXPECT_EQ(root.FindNode("params"), &root);
}

TEST(FindNode, IsCaseSensitiveAndMayFindNothing) {
  CMarkupNode root;
  root.name = "r";
  Add(root, "method", "m");
  EXPECT_EQ(root.FindNode("Method"), nullptr);
  EXPECT_EQ(root.FindNode("none"), nullptr);
}

TEST(FindChildren, TakesDirectChildrenOnlyAndAppends) {
  CMarkupNode root;
  root.name = "params";
  Add(root, "symbol", "EURUSD");
  CMarkupNode* other = Add(root, "other");
  Add(*other, "symbol", "deep");
  Add(root, "symbol", "USDJPY");
  CMarkupNode sentinel;
  std::vector<const CMarkupNode*> list{&sentinel};
  root.FindChildren("symbol", list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0], &sentinel);
  EXPECT_EQ(list[1]->text, "EURUSD");
  EXPECT_EQ(list[2]->text, "USDJPY");
}

TEST(TakeChild, DetachesAndKeepsOrderOfTheRest) {
  CMarkupNode root;
  Add(root, "a");
  Add(root, "b");
  Add(root, "c");
  std::unique_ptr<CMarkupNode> b = root.TakeChild(1);
  EXPECT_EQ(b->name, "b");
  EXPECT_EQ(b->parent, nullptr);
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[1]->name, "c");
}

TEST(NodeLifetime, DestroysAVeryDeepTreeWithoutRecursing) {
  // A recursive destructor or search would run out of stack long before this.
  auto root = std::make_unique<CMarkupNode>();
  root->name = "r";
  CMarkupNode* tip = root.get();
  for (int i = 0; i < 1000000; ++i) tip = Add(*tip, "n");
  Add(*tip, "leaf", "t");
  const CMarkupNode* leaf = root->FindNode("leaf");
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->text, "t");
  root.reset();
}

}  // namespace
