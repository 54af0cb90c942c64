#include "markup/MarkupParser.h"

#include <cstring>
#include <utility>
#include <vector>

#include "markup/TextCleanup.h"
#include "util/StringUtil.h"

namespace {

// `text` is exactly `name`: sizes first, since most names differ in theirs.
template <size_t N>
bool Is(const std::string& text, const char (&name)[N]) {
  return text.size() == N - 1 && std::memcmp(text.data(), name, N - 1) == 0;
}

bool IsVoid(const CMarkupNode& node) {
  const std::string& name = node.name;
  return node.selfClosing || Is(name, "hr") || Is(name, "br") || Is(name, "basefont") ||
         Is(name, "img") || Is(name, "area") || Is(name, "input") || Is(name, "col");
}

bool AddsLineFeed(const std::string& name) { return Is(name, "hr") || Is(name, "br"); }

bool KeepsRawText(const std::string& name) { return Is(name, "script") || Is(name, "comment"); }

// The bytes the scan stops at.
struct CMarks {
  bool of[256] = {};
  CMarks() {
    of[static_cast<unsigned char>('<')] = of[static_cast<unsigned char>('>')] =
        of[static_cast<unsigned char>('!')] = true;
  }
};
const CMarks kMarks;

}  // namespace

void CMarkupDoc::Parse(const char* data, int32_t count) {
  if (data == nullptr || count <= 0) return;
  CMarkupParser parser(*this);
  parser.Scan(data, static_cast<size_t>(count));
  CMarkupParser::Repair(root_);
}

void CMarkupParser::Scan(const char* data, size_t count) {
  size_t pos = 0;
  while (pos < count && current_ != nullptr) {
    // Only "<", ">" and a "!" just after "<" mean anything to the scan.
    while (pos < count && !kMarks.of[static_cast<unsigned char>(data[pos])]) ++pos;
    if (pos == count) break;
    const char c = data[pos];
    if (c == '<') {
      if (marker_ == Marker::kClose) {
        OnTextRun(std::string(data + markerPos_ + 1, pos - markerPos_ - 1));
      }
      marker_ = Marker::kOpen;
      markerPos_ = pos++;
    } else if (c == '!' && marker_ == Marker::kOpen && pos == markerPos_ + 1) {
      pos = OnBang(data, count, pos);
    } else if (c == '>') {
      if (marker_ == Marker::kOpen) OnTag(std::string(data + markerPos_, pos - markerPos_ + 1));
      marker_ = Marker::kClose;
      markerPos_ = pos++;
    } else {
      ++pos;
    }
  }
}

size_t CMarkupParser::OnBang(const char* data, size_t count, size_t pos) const {
  if (pos + 2 < count && data[pos + 1] == '-' && data[pos + 2] == '-') {
    // The closing "-->" may begin no earlier than the third byte after "!",
    // so "<!--->" stays open. Resume on its ">" so it completes the tag.
    const size_t from = pos + 3;
    if (from >= count) return count;
    const void* found = memmem(data + from, count - from, "-->", 3);
    if (found == nullptr) return count;
    return static_cast<size_t>(static_cast<const char*>(found) - data) + 2;
  }
  return pos + 3;
}

void CMarkupParser::OnTag(const std::string& tag) {
  if (tag[1] == '/') {  // an end tag names a node, and makes none
    endName_.assign(tag, 2, tag.size() - 3);
    ToLower(endName_);
    OnEndTag(endName_);
    return;
  }
  auto node = std::make_unique<CMarkupNode>();
  switch (ReadTag(tag, *node)) {
    case TagKind::kStart:
      OnStartTag(std::move(node));
      break;
    case TagKind::kEnd:
      OnEndTag(node->name);
      break;
    case TagKind::kDocType:
      doc_.SetDocType(std::move(node));
      break;
    case TagKind::kComment:
      current_->AddChild(std::move(node));
      break;
    case TagKind::kDeclaration:
      doc_.SetDeclaration(std::move(node));
      break;
  }
}

void CMarkupParser::OnStartTag(std::unique_ptr<CMarkupNode> node) {
  CMarkupNode* const current = current_;
  CMarkupNode* const parent = current->parent;
  if (parent != nullptr && Is(parent->name, "head")) {
    current_ = parent->AddChild(std::move(node));
    return;
  }
  if (parent != nullptr && IsVoid(*node)) {
    const bool lineFeed = AddsLineFeed(node->name);
    current->AddChild(std::move(node));
    if (lineFeed) current->text += '\n';
    return;
  }
  if (parent == nullptr && current->name.empty()) {
    // The first start tag names the root; earlier text is dropped, earlier
    // comments stay.
    current->name = std::move(node->name);
    current->attributes = std::move(node->attributes);
    current->closed = node->closed;
    current->selfClosing = node->selfClosing;
    current->text.clear();
    return;
  }
  current_ = current->AddChild(std::move(node));
}

void CMarkupParser::OnEndTag(const std::string& name) {
  // The current element or its nearest ancestor of that name is closed;
  // elements in between stay open. No match: the tag is ignored.
  for (CMarkupNode* node = current_; node != nullptr; node = node->parent) {
    if (node->name == name) {
      node->closed = true;
      current_ = node->parent;
      return;
    }
  }
}

void CMarkupParser::OnTextRun(std::string run) {
  if (KeepsRawText(current_->name)) {
    current_->text = std::move(run);
    return;
  }
  if (run.empty()) return;  // most runs: between an end tag and the next tag
  run = CleanTextRun(std::move(run));
  if (run.empty()) return;
  if (current_->text.empty()) {
    current_->text = std::move(run);
  } else {
    current_->text += run;
  }
  DecodeEntities(current_->text);
}

void CMarkupParser::Repair(CMarkupNode& root) {
  // One pre-order walk gives the same result as restarting from the root
  // after every move: a move changes only the moved element's parent, so
  // nothing already passed can start to match, and the moved element is met
  // again (and tested again) at its new place at the end of its grandparent.
  struct Frame {
    CMarkupNode* node;
    size_t next;
  };
  std::vector<Frame> path{{&root, 0}};
  while (!path.empty()) {
    CMarkupNode* const parent = path.back().node;
    const size_t index = path.back().next;
    if (index >= parent->children.size()) {
      path.pop_back();
      continue;
    }
    CMarkupNode* const child = parent->children[index].get();
    if (parent->parent != nullptr && !child->closed && child->name == parent->name) {
      parent->parent->AddChild(parent->TakeChild(index));
      continue;
    }
    path.back().next = index + 1;
    path.push_back({child, 0});
  }
}
