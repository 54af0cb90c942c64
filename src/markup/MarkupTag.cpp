#include "markup/MarkupTag.h"

#include "markup/TextCleanup.h"
#include "util/StringUtil.h"

namespace {

using Pos = std::string::size_type;

// Reads name=value pairs from `pos` to the end of the tag text.
void ReadAttributes(const std::string& tag, Pos pos, CMarkupNode& node) {
  while (pos < tag.size()) {
    const Pos equals = tag.find('=', pos);
    if (equals == std::string::npos) return;
    std::string name = tag.substr(pos, equals - pos);
    StripLineEnds(name);
    StripTabs(name);
    TrimBlanks(name);
    ToLower(name);

    Pos start = tag.find_first_not_of(' ', equals + 1);
    if (start == std::string::npos) start = tag.size();
    Pos end;
    if (start < tag.size() && tag[start] == '"') {
      ++start;
      end = tag.find('"', start);
      if (end == std::string::npos) end = tag.find('>', start);
    } else {
      end = tag.find_first_of(" >", start);
    }
    if (end == std::string::npos) end = tag.size();  // only a cut tag lacks ">"
    std::string value = tag.substr(start, end - start);
    if (!value.empty()) DecodeEntities(value);
    node.attributes[name] = value;

    pos = tag.find_first_not_of(' ', end + 1);
    if (pos == std::string::npos) return;
  }
}

// Name and attributes of a start tag; `checkSlash` tests for "/>".
void ReadStartTag(const std::string& tag, bool checkSlash, CMarkupNode& node) {
  const Pos last = tag.size() - 1;  // the final ">"
  node.selfClosing = checkSlash && last >= 2 && tag[last - 1] == '/';
  const Pos blank = tag.find(' ');
  if (blank != std::string::npos) {
    node.name = tag.substr(1, blank - 1);
    ReadAttributes(tag, blank + 1, node);
  } else {
    node.name = tag.substr(1, last - 1 - (node.selfClosing ? 1 : 0));
  }
  ToLower(node.name);
}

bool ReadComment(const std::string& tag, CMarkupNode& node) {
  const Pos first = tag.find("--");
  const Pos last = tag.rfind("--");
  if (first == std::string::npos || first >= last) return false;
  node.name = "comment";
  if (last > first + 2) node.text = tag.substr(first + 2, last - first - 2);
  TrimBlanks(node.text);
  return true;
}

}  // namespace

TagKind ReadTag(const std::string& tag, CMarkupNode& node) {
  if (tag[1] == '!') {
    const Pos doctype = tag.find("DOCTYPE");
    if (doctype != std::string::npos) {
      node.name = "doctype";
      const Pos from = doctype + 7;
      node.text = tag.substr(from, tag.size() - 1 - from);
      return TagKind::kDocType;
    }
    if (ReadComment(tag, node)) return TagKind::kComment;
    ReadStartTag(tag, false, node);
    return TagKind::kStart;
  }
  if (tag[1] == '/') {
    node.name = tag.substr(2, tag.size() - 3);
    ToLower(node.name);
    return TagKind::kEnd;
  }
  ReadStartTag(tag, true, node);
  if (node.name == "?xml") {
    node.name = "xml";
    return TagKind::kDeclaration;
  }
  return TagKind::kStart;
}
