// CTblMessage: a message to a desk user (a notice, a pop-up or an e-mail).
// It has no table: nothing selects or stores it.
// Only the desk's other programs use it; zelvora.cgi does not link it.
#ifndef ZELVORA_RECORDS_TBLMESSAGE_H_
#define ZELVORA_RECORDS_TBLMESSAGE_H_

#include <cstdint>
#include <string>

#include "db/TblBase.h"

class CTblMessage : public CTblBase {
 public:
  enum ContentType { kEmailContent = 9 };
  enum Type { kSmtp = 4 };

  // An e-mail notice stamped with the current time: content type 9
  // ("Email."), type 4 ("SMTP."); BCC stays empty.
  CTblMessage(const std::string& from, const std::string& to, const std::string& cc,
              const std::string& subject, const std::string& text);

  // The names of the codes; "" for a code without one.
  static std::string ContentTypeName(int32_t contentType);
  static std::string TypeName(int32_t type);

  int64_t RecordTime() const override { return time_; }
  std::string ToText() const override;

  int32_t ContentTypeCode() const { return contentType_; }
  int32_t TypeCode() const { return type_; }
  void SetCodes(int32_t contentType, int32_t type) {
    contentType_ = contentType;
    type_ = type;
  }

 private:
  int32_t contentType_;
  int32_t type_;
  std::string from_, to_, cc_, bcc_, subject_;
  int64_t time_;
  std::string text_;
};

#endif  // ZELVORA_RECORDS_TBLMESSAGE_H_
