// The tolerant markup parser behind CMarkupDoc::Parse: a byte scanner that
// cuts tags and text runs, a tree builder, and the repair pass that lifts
// unclosed elements out of a parent of the same name.
#ifndef ZELVORA_MARKUP_MARKUPPARSER_H_
#define ZELVORA_MARKUP_MARKUPPARSER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "markup/MarkupDoc.h"
#include "markup/MarkupTag.h"

class CMarkupParser {
 public:
  // `doc` must outlive the parser and be fresh.
  explicit CMarkupParser(CMarkupDoc& doc) : doc_(doc), current_(&doc.Root()) {}

  // Scans `count` bytes at `data` and builds the tree. REQUIRES: data != null.
  void Scan(const char* data, size_t count);

  // Lifts every unclosed element whose parent bears its name to the end of
  // its grandparent's children, until no such element is left.
  static void Repair(CMarkupNode& root);

 private:
  enum class Marker { kNone, kOpen, kClose };

  // Returns the position to continue at, or `count` to stop.
  size_t OnBang(const char* data, size_t count, size_t pos) const;
  void OnTag(const std::string& tag);
  void OnStartTag(std::unique_ptr<CMarkupNode> node);
  void OnEndTag(const std::string& name);
  void OnTextRun(std::string run);

  CMarkupDoc& doc_;
  CMarkupNode* current_;  // null once the root is closed
  Marker marker_ = Marker::kNone;
  size_t markerPos_ = 0;
  std::string endName_;  // the last end tag's name, kept for its storage
};

#endif  // ZELVORA_MARKUP_MARKUPPARSER_H_
