#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "markup/MarkupDoc.h"
#include "markup/MarkupParser.h"

namespace {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// name[attr="v",...]="text"{child child}
std::string Dump(const CMarkupNode& node) {
  std::string out = node.name;
  if (!node.attributes.empty()) {
    out += "[";
    for (const auto& attribute : node.attributes) {
      if (out.back() != '[') out += ",";
      out += attribute.first + "=" + Quote(attribute.second);
    }
    out += "]";
  }
  if (!node.text.empty()) out += "=" + Quote(node.text);
  if (!node.children.empty()) {
    out += "{";
    for (const auto& child : node.children) {
      if (out.back() != '{') out += " ";
      out += Dump(*child);
    }
    out += "}";
  }
  return out;
}

std::string ParseDump(const std::string& body) {
  CMarkupDoc doc;
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  return Dump(doc.Root());
}

struct TreeCase {
  const char* body;
  const char* tree;
};

void ExpectTrees(const std::vector<TreeCase>& cases) {
  for (const auto& c : cases) EXPECT_EQ(ParseDump(c.body), c.tree) << "body: " << c.body;
}

TEST(ParseTree, BuildsRequestDocuments) {
  ExpectTrees({
      {"<zelvora><method>getAccount</method><params><accountid> 12 </accountid></params>"
       "</zelvora>",
       "zelvora{method=\"getAccount\" params{accountid=\"12\"}}"},
      {"<Root><METHOD>x</METHOD></Root>", "root{method=\"x\"}"},
      {"<r><A>x</A></r>", "r{a=\"x\"}"},
      {"<a>x<b>y</b>z</a>", "a=\"xz\"{b=\"y\"}"},
      {"<?xml version=\"1.0\"?>\n<zelvora>\n  <method>getOffer</method>\n</zelvora>\n",
       "zelvora{method=\"getOffer\"}"},
  });
}

TEST(ParseTree, VoidAndSelfClosingElements) {
  ExpectTrees({
      {"<r><a>x<br>y</a></r>", "r{a=\"x\\ny\"{br}}"},
      {"<r><p>a<hr>b</p></r>", "r{p=\"a\\nb\"{hr}}"},
      {"<r><a><x/>t</a></r>", "r{a=\"t\"{x}}"},
      {"<r><a><x />t</a></r>", "r{a=\"t\"{x}}"},
      {"<r><a><img src=x>t</a></r>", "r{a=\"t\"{img[src=\"x\"]}}"},
      {"<r><a><input><col><area><basefont>t</a></r>", "r{a=\"t\"{input col area basefont}}"},
      // Directly under the root a void element becomes current.
      {"<r><br><m>t</m></r>", "r{br{m=\"t\"}}"},
      {"<r/>", "r"},
  });
}

TEST(ParseTree, EndTagsCloseTheNearestMatch) {
  ExpectTrees({
      {"<a><b>t</a>", "a{b=\"t\"}"},
      {"<r><a>x</b>y</a></r>", "r{a=\"xy\"}"},
      {"<r>x</r><s>y</s>", "r=\"x\""},
      {"<r><a>x</a ><b>y</b></r>", "r{a=\"x\"{b=\"y\"}}"},
  });
}

TEST(ParseTree, RepairLiftsUnclosedNamesakes) {
  ExpectTrees({
      {"<r><p>a<p>b</r>", "r{p=\"a\" p=\"b\"}"},
      {"<r><li>1<li>2<li>3</r>", "r{li=\"1\" li=\"2\" li=\"3\"}"},
      {"<r><p><p>x</p></r>", "r{p{p=\"x\"}}"},
      {"<p><p>x</q>", "p{p=\"x\"}"},
  });
}

TEST(ParseTree, HeadChildrenStaySiblings) {
  ExpectTrees({
      {"<html><head><meta><link><title>x</title></head><body>y</body></html>",
       "html{head{meta link title=\"x\"} body=\"y\"}"},
  });
}

TEST(ParseTree, CommentsAndDeclarations) {
  ExpectTrees({
      {"<!-- note --><r>t</r>", "r=\"t\"{comment=\"note\"}"},
      {"<r>a<!-- c -->b</r>", "r=\"ab\"{comment=\"c\"}"},
      {"<r><!-- a <b>x</b> --></r>", "r{comment=\"a <b>x</b>\"}"},
      {"<r><!----></r>", "r{comment}"},
      {"<r><a>x</a><!-- cut <b>y</b>", "r{a=\"x\"}"},
      {"<r><!---></r><b>x</b>", "r"},
      {"<!-- c -->junk<r>t</r>", "r=\"t\"{comment=\"c\"}"},
      {"<r><![CDATA[x]]></r>", "r{![cdata[x]]}"},
      {"<!DOCTYPE html><html>x</html>", "html=\"x\""},
  });
}

TEST(ParseTree, TextRunsAreCutAtMarkers) {
  ExpectTrees({
      {"hello<r>x</r>", "r=\"x\""},
      {"<r>a>b</r>", "r=\"b\""},
      {"<r><a <b>t</b></r>", "r{b=\"t\"}"},
      {"<r>x</r>tail", "r=\"x\""},
      {"<r><>t</r>", "r{=\"t\"}"},
      {"<r><script> if (a<b) x; </script></r>", "r{script=\" if (a\"}"},
      {"<r><comment> a  </comment></r>", "r{comment=\" a  \"}"},
  });
}

TEST(ParseText, TrimsBlanksThenStripsLineEndsAndTabs) {
  ExpectTrees({
      {"<r><a>\n  abc  \n</a></r>", "r{a=\"  abc  \"}"},
      {"<r><a>\r\nx\n</a></r>", "r{a=\"x\\n\"}"},
      {"<r><a> \r\n x \r\n </a></r>", "r{a=\" x \"}"},
      {"<r><a>\tx\t\t</a></r>", "r{a=\"x\"}"},
      {"<r><a>x\ny</a></r>", "r{a=\"x\\ny\"}"},
      {"<r><a>\r\n\r\n</a></r>", "r{a}"},
      {"<r><a>\r\r\n\n</a></r>", "r{a=\"\\r\\r\\n\\n\"}"},
      {"<r><a>  </a></r>", "r{a}"},
  });
}

TEST(ParseText, DecodesEntitiesRowByRow) {
  ExpectTrees({
      {"<a>A&amp;B &lt;C&gt;</a>", "a=\"A&B &lt;C&gt;\""},
      {"<a>1&nbsp;2</a>", "a=\"1 2\""},
      {"<r><a>C:&yen;x</a></r>", "r{a=\"C:\\\\x\"}"},
      {"<r><a>&quot;q&#34;</a></r>", "r{a=\"\\\"q&#34;\"}"},
      {"<r><a>&amp;times;|&amp;quot;</a></r>", "r{a=\"X|&quot;\"}"},
      {"<r><a>&#38;|&#160;&#215;</a></r>", "r{a=\"&| X\"}"},
      {"<r><a>&amp;&#38;</a></r>", "r{a=\"&&#38;\"}"},
      {"<r><a>&AMP;&#x26;</a></r>", "r{a=\"&AMP;&#x26;\"}"},
  });
}

TEST(ParseText, DecodesTheWholeTextAgainAfterEachRun) {
  ExpectTrees({
      {"<r><a>&amp;amp;</a></r>", "r{a=\"&amp;\"}"},
      {"<r><a>&amp;amp;<b/>x</a></r>", "r{a=\"&x\"{b}}"},
      {"<r><a>&am<b/>p;x</a></r>", "r{a=\"&x\"{b}}"},
  });
}

TEST(ParseTag, ReadsAttributes) {
  ExpectTrees({
      {"<r href=\"x\" HREF=\"y\"/>", "r[href=\"y\"]"},
      {"<r a=\"x>", "r[a=\"x\"]"},
      {"<r a='y' b=2 checked>", "r[a=\"'y'\",b=\"2\"]"},
      {"<r a=\"x&amp;y\" B = \"v\">", "r[a=\"x&y\",b=\"v\"]"},
      {"<r a=1/>", "r[a=\"1/\"]"},
      {"<r a=>", "r[a=\"\"]"},
      {"<r x y=1>", "r[x y=\"1\"]"},
      {"<r \n\ta\t=1>", "r[a=\"1\"]"},
      {"<r a=\"1\"b=2>", "r[a=\"1\",b=\"2\"]"},
  });
}

TEST(ParseTag, NamesEndOnlyAtABlank) {
  ExpectTrees({
      {"<a\tb>t</a\tb>", "a\tb=\"t\""},
      {"<R\x82" "A>t</R\x82" "A>", "r\x82" "A=\"t\""},
  });
}

TEST(ParseDoc, KeepsDeclarationAndDocTypeOutOfTheTree) {
  CMarkupDoc doc;
  const std::string body =
      "<!DOCTYPE html><?xml version=\"1.0\" encoding=\"UTF-8\"?><r><!DOCTYPE zz>t</r>";
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  EXPECT_EQ(Dump(doc.Root()), "r=\"t\"");
  ASSERT_NE(doc.DocType(), nullptr);
  EXPECT_EQ(doc.DocType()->name, "doctype");
  EXPECT_EQ(doc.DocType()->text, " zz");  // the last one wins
  ASSERT_NE(doc.Declaration(), nullptr);
  EXPECT_EQ(Dump(*doc.Declaration()), "xml[encoding=\"UTF-8\",version=\"1.0\"]");
}

TEST(ParseDoc, SetsFlags) {
  CMarkupDoc doc;
  const std::string body = "<r><a>x</a><b><c/></r>";
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  const CMarkupNode& root = doc.Root();
  EXPECT_TRUE(root.closed);
  EXPECT_TRUE(root.FindNode("a")->closed);
  EXPECT_FALSE(root.FindNode("b")->closed);
  EXPECT_TRUE(root.FindNode("c")->selfClosing);
  EXPECT_EQ(root.FindNode("c")->parent, root.FindNode("b"));
  EXPECT_EQ(root.FindNode("b")->parent, &root);
}

TEST(ParseDoc, NothingToReadLeavesAnEmptyDocument) {
  const char body[] = "<r>x</r>";
  for (int32_t count : {0, -1, -100}) {
    CMarkupDoc doc;
    doc.Parse(body, count);
    EXPECT_EQ(Dump(doc.Root()), "") << "count " << count;
  }
  CMarkupDoc doc;
  doc.Parse(nullptr, 8);
  EXPECT_EQ(Dump(doc.Root()), "");
}

TEST(ParseBounds, EveryPrefixParsesWithinItsBytes) {
  // Each prefix sits in a buffer of exactly its size, so a read past the
  // count shows up under the address sanitizer.
  const std::string body =
      "<!DOCTYPE x><?xml v=\"1\"?><zelvora a=\"q&amp;\" b=c><!-- k --><method>getOffer</method>"
      "<params><symbol> EUR/USD </symbol><br/><p>a<p>b&nbsp;<![CDATA[z]]><x y=\"1>"
      "</params><!--- -></zelvora>";
  for (size_t size = 0; size <= body.size(); ++size) {
    std::vector<char> bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
    CMarkupDoc doc;
    doc.Parse(bytes.data(), static_cast<int32_t>(size));
    Dump(doc.Root());
  }
  EXPECT_EQ(ParseDump(body),
            "zelvora[a=\"q&\",b=\"c\"]{comment=\"k\" method=\"getOffer\" params=\"\\n\"{symbol=\"EUR/USD\" "
            "br p=\"a\" p=\"b \"{![cdata[z]]{x[y=\"1\"]}}}}");
}

TEST(ParseBounds, SurvivesVeryDeepNesting) {
  std::string body = "<r>";
  for (int i = 0; i < 200000; ++i) body += "<a><b>";
  body += "<m>deep</m>";
  CMarkupDoc doc;
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  const CMarkupNode* m = doc.Root().FindNode("m");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->text, "deep");
}

TEST(ParseBounds, FlattensALongUnclosedChain) {
  std::string body = "<r>";
  for (int i = 0; i < 50000; ++i) body += "<p>x";
  CMarkupDoc doc;
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  EXPECT_EQ(doc.Root().children.size(), 50000u);
}

// The repair rule as written: restart from the root after every move.
void NaiveRepair(CMarkupNode& root) {
  for (;;) {
    std::vector<CMarkupNode*> order{&root};
    CMarkupNode* found = nullptr;
    while (!order.empty() && found == nullptr) {
      CMarkupNode* node = order.back();
      order.pop_back();
      CMarkupNode* parent = node->parent;
      if (parent != nullptr && parent->parent != nullptr && !node->closed &&
          node->name == parent->name) {
        found = node;
      }
      for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
        order.push_back(it->get());
      }
    }
    if (found == nullptr) return;
    CMarkupNode* parent = found->parent;
    for (size_t i = 0; i < parent->children.size(); ++i) {
      if (parent->children[i].get() == found) {
        parent->parent->AddChild(parent->TakeChild(i));
        break;
      }
    }
  }
}

TEST(ParseRepair, OnePassMatchesRestartingFromTheRoot) {
  const char* const tokens[] = {"<a>", "<a>", "<b>", "</a>", "</b>", "<p>",  "<p>",
                                "</p>", "x",  "<br>", "<head>", "</head>", "<a/>", "<r>"};
  std::mt19937 random(20261205);
  std::uniform_int_distribution<size_t> pick(0, sizeof tokens / sizeof tokens[0] - 1);
  std::uniform_int_distribution<int> length(1, 40);
  for (int round = 0; round < 3000; ++round) {
    std::string body = "<r>";
    for (int n = length(random); n > 0; --n) body += tokens[pick(random)];
    CMarkupDoc scanned;
    CMarkupParser(scanned).Scan(body.data(), body.size());
    NaiveRepair(scanned.Root());
    ASSERT_EQ(ParseDump(body), Dump(scanned.Root())) << "body: " << body;
  }
}

}  // namespace
