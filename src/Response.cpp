#include "Response.h"

namespace {

// The header of the regular and the banner answer; the blank before the
// line end is the desk's own.
const char kResponseHeader[] = "Content-Type: text/plain \n";
const char kBanner[] = "Zelvora 1.0 - foreign-exchange desk service\n";

}  // namespace

void WriteResponse(FILE* out, const std::string& head, const std::string& body) {
  std::fwrite(head.data(), 1, head.size(), out);
  std::fputc('\n', out);
  std::fwrite(body.data(), 1, body.size(), out);
}

int WriteAnswer(FILE* out, const std::string& answer) {
  if (answer.empty()) return -1;
  WriteResponse(out, kResponseHeader, answer);
  return 0;
}

void WriteBannerAnswer(FILE* out) { WriteResponse(out, kResponseHeader, kBanner); }

void WriteRefusal(FILE* out, const char* status) {
  WriteResponse(out, std::string(status) + kResponseHeader, kBanner);
}
