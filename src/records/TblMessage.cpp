#include "records/TblMessage.h"

#include <ctime>

#include "db/RecordText.h"
#include "util/StringUtil.h"

namespace {

const char* const kContentTypeNames[] = {
    "Plain message.",   "Trading hours.", "Questions.", "Information.", "Market conditions.",
    "Software update.", "Emergency.",     "System.",    "Email."};  // codes 1 to 9
const char* const kTypeNames[] = {"Plane message.", "Popup message(doesn't require the answer).",
                                  "Popup message(requires the answer).", "POP3.",
                                  "SMTP."};  // codes 0 to 4

}  // namespace

CTblMessage::CTblMessage(const std::string& from, const std::string& to, const std::string& cc,
                         const std::string& subject, const std::string& text)
    : contentType_(kEmailContent),
      type_(kSmtp),
      from_(from),
      to_(to),
      cc_(cc),
      subject_(subject),
      time_(std::time(nullptr)),
      text_(text) {}

std::string CTblMessage::ContentTypeName(int32_t contentType) {
  if (contentType < 1 || contentType > 9) return std::string();
  return kContentTypeNames[contentType - 1];
}

std::string CTblMessage::TypeName(int32_t type) {
  if (type < 0 || type > 4) return std::string();
  return kTypeNames[type];
}

std::string CTblMessage::ToText() const {
  return CTextDump("\n>>>> [Message] <<<<")
      .Text("ContentType", IntToText(contentType_) + "(" + ContentTypeName(contentType_) + ")")
      .Text("Type", IntToText(type_) + "(" + TypeName(type_) + ")")
      .Text("From", from_)
      .Text("TO", to_)
      .Text("CC", cc_)
      .Text("BCC", bcc_)
      .Text("Subject", subject_)
      .Time("Time", time_)
      .Text("Text", text_)
      .Close();
}
