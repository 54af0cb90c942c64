#include "FastCgiAnswer.h"

#include <fastcgi.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// The longest record content that keeps a record's padding within its
// one-byte length: a multiple of 8, as the library's own records are.
constexpr size_t kRecordContent = 65528;

void AppendHeader(std::string& wire, int type, int requestId, size_t content, size_t padding) {
  const char header[FCGI_HEADER_LEN] = {FCGI_VERSION_1,
                                        static_cast<char>(type),
                                        static_cast<char>((requestId >> 8) & 0xFF),
                                        static_cast<char>(requestId & 0xFF),
                                        static_cast<char>((content >> 8) & 0xFF),
                                        static_cast<char>(content & 0xFF),
                                        static_cast<char>(padding),
                                        0};
  wire.append(header, sizeof header);
}

}  // namespace

void CFastCgiAnswer::Begin(int fd, int requestId) {
  active_ = true;
  fd_ = fd;
  requestId_ = requestId;
  failed_ = false;
  errUsed_ = false;
  out_.clear();
  err_.clear();
  wire_.clear();
}

void CFastCgiAnswer::Out(const char* bytes, size_t size) { Add(FCGI_STDOUT, out_, bytes, size); }

void CFastCgiAnswer::Err(const char* bytes, size_t size) {
  errUsed_ = errUsed_ || size != 0;
  Add(FCGI_STDERR, err_, bytes, size);
}

void CFastCgiAnswer::Add(int type, std::string& held, const char* bytes, size_t size) {
  // Taken a piece at a time: a whole answer comes in one call, and held
  // whole it would be kept three times over (buffer, records, capacity).
  while (!failed_ && size != 0) {
    const size_t piece = std::min(size, kHeldBytes - held.size());
    held.append(bytes, piece);
    bytes += piece, size -= piece;
    if (held.size() < kHeldBytes) return;
    Records(type, held);
    Send();
  }
}

void CFastCgiAnswer::Records(int type, std::string& held) {
  for (size_t at = 0; at < held.size(); at += kRecordContent) {
    const size_t content = std::min(kRecordContent, held.size() - at);
    const size_t padding = (8 - content % 8) % 8;
    AppendHeader(wire_, type, requestId_, content, padding);
    wire_.append(held, at, content).append(padding, '\0');
  }
  held.clear();
}

bool CFastCgiAnswer::Send() {
  for (size_t at = 0; !failed_ && at < wire_.size();) {
    const ssize_t wrote = write(fd_, wire_.data() + at, wire_.size() - at);
    if (wrote > 0) {
      at += static_cast<size_t>(wrote);
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else {
      failed_ = true;
    }
  }
  wire_.clear();
  if (failed_) out_.clear(), err_.clear();
  return !failed_;
}

bool CFastCgiAnswer::Flush() {
  Records(FCGI_STDERR, err_);
  Records(FCGI_STDOUT, out_);
  return Send();
}

bool CFastCgiAnswer::End(int appStatus) {
  Records(FCGI_STDERR, err_);
  if (errUsed_) AppendHeader(wire_, FCGI_STDERR, requestId_, 0, 0);
  Records(FCGI_STDOUT, out_);
  AppendHeader(wire_, FCGI_STDOUT, requestId_, 0, 0);
  AppendHeader(wire_, FCGI_END_REQUEST, requestId_, sizeof(FCGI_EndRequestBody), 0);
  const char body[sizeof(FCGI_EndRequestBody)] = {
      static_cast<char>((appStatus >> 24) & 0xFF), static_cast<char>((appStatus >> 16) & 0xFF),
      static_cast<char>((appStatus >> 8) & 0xFF), static_cast<char>(appStatus & 0xFF),
      FCGI_REQUEST_COMPLETE};
  wire_.append(body, sizeof body);
  active_ = false;
  return Send();
}
