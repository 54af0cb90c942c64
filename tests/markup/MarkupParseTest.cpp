// The tolerant parser: each request shape with a readable dump of the tree
// it must give, and inputs that would overflow a recursive parser or read
// past the end.
#include <gtest/gtest.h>

#include "markup/MarkupDoc.h"

namespace {

// name[attr="v",...]="text"{child child}
std::string Dump(const CMarkupNode& node) {
  std::string out = node.name, attributes, children;
  for (const auto& attribute : node.attributes)
    attributes += (attributes.empty() ? "" : ",") + attribute.first + "=" +
                  ::testing::PrintToString(attribute.second);
  for (const auto& child : node.children) children += (children.empty() ? "" : " ") + Dump(*child);
  return out + (attributes.empty() ? "" : "[" + attributes + "]") +
         (node.text.empty() ? "" : "=" + ::testing::PrintToString(node.text)) +
         (children.empty() ? "" : "{" + children + "}");
}

std::string ParseDump(const std::string& body) {
  CMarkupDoc doc;
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  return Dump(doc.Root());
}

TEST(Parse, BuildsTheTreeEveryRequestShapeGives) {
  const char* const cases[][2] = {
      // Names fold to lower case; text around children joins; a declaration and blanks outside are
      // skipped.
      {"<zelvora><method>getAccount</method><params><accountid> 12 </accountid></params></zelvora>",
       "zelvora{method=\"getAccount\" params{accountid=\"12\"}}"},
      {"<Root><METHOD>x</METHOD>y</Root>", "root=\"y\"{method=\"x\"}"},
      {"<?xml version=\"1.0\"?>\n<zelvora>\n  <method>getOffer</method>\n</zelvora>\n",
       "zelvora{method=\"getOffer\"}"},
      // Empty elements: <br> is a line break; none takes children.
      {"<r><br><m>t</m></r>", "r{br{m=\"t\"}}"},
      // Unclosed and stray tags, and what lies outside the root.
      {"<zelvora ><method> getAccount </method>", "zelvora{method=\"getAccount\"}"},
      {"hello<r>x</r>tail<s>y</s>", "r=\"x\""},
      {"<r><p>a<p>b</r>", "r{p=\"a\" p=\"b\"}"},
      {"<r><a <b>t</b></r>", "r{b=\"t\"}"},
      // Comments.
      {"<!-- note --><r>t</r>", "r=\"t\"{comment=\"note\"}"},
      {"<r><!-- a <b>x</b> --></r>", "r{comment=\"a <b>x</b>\"}"},
      {"<r><a>x</a><!-- cut <b>y</b>", "r{a=\"x\"}"},
      // Entities: the named ones the desk uses, decoded once.
      {"<a>A&amp;B &lt;C&gt;</a>", "a=\"A&B &lt;C&gt;\""},
      // Attributes (no request has any): an unclosed value; entities, blanks and case.
      {"<r a=\"x>", "r[a=\"x\"]"},
      {"<r a=\"x&amp;y\"\n\tB\t= \"v\"c=2>", "r[a=\"x&y\",b=\"v\",c=\"2\"]"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDump(c[0]), c[1]) << "body: " << c[0];
  // Element a's contents, in <r><a>..</a></r>: what follows "r{a" in the dump.
  const char* const inA[][2] = {
      // Empty elements and a stray end tag.
      {"x<br>y", "=\"x\\ny\"{br}"},
      {"<x/>t", "=\"t\"{x}"},
      {"x</b>y", "=\"xy\""},
      // Blanks: a text is trimmed of blanks and line ends on both sides, one line end at a time.
      {"\n  abc  \n", "=\"  abc  \""},
      {"\r\nx\n", "=\"x\\n\""},
      {"\tx\t\t", "=\"x\""},
      {"\r\r\n\n", "=\"\\r\\r\\n\\n\""},
      {"  ", ""},
      // Entities.
      {"C:&yen;x", "=\"C:\\\\x\""},
      {"&quot;q&#34;", "=\"\\\"q&#34;\""},
      {"&#38;|&#160;&#215;", "=\"&| X\""},
      {"&amp;amp;", "=\"&amp;\""},
  };
  for (const auto& c : inA)
    EXPECT_EQ(ParseDump(std::string("<r><a>") + c[0] + "</a></r>"), std::string("r{a") + c[1] + "}")
        << "in a: " << c[0];
}

TEST(Parse, SurvivesDeepNestingAndLongUnclosedChainsAndFreesDeepTrees) {
  std::string deep = "<r>", chain = "<r>";
  for (int i = 0; i < 200000; ++i) deep += "<a><b>";
  for (int i = 0; i < 50000; ++i) chain += "<p>x";
  CMarkupDoc deepDoc,
      chainDoc;  // 400,000 open levels: parsed, searched and freed without recursing
  deepDoc.Parse((deep + "<m>deep</m>").data(), static_cast<int32_t>(deep.size() + 11));
  ASSERT_NE(deepDoc.Root().FindNode("m"), nullptr);
  EXPECT_EQ(deepDoc.Root().FindNode("m")->text, "deep");
  chainDoc.Parse(chain.data(), static_cast<int32_t>(chain.size()));
  EXPECT_EQ(chainDoc.Root().children.size(), 50000u);
}

}  // namespace
