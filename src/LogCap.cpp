#include "LogCap.h"

CLogCap::CLogCap(size_t limit) : target_(stderr), limit_(limit) {
  capped_ = fopencookie(this, "w", {nullptr, Pass, nullptr, nullptr});
  if (capped_ == nullptr) return;
  // Unbuffered: each formatted call reaches Pass whole, and is kept or
  // dropped whole.
  std::setvbuf(capped_, nullptr, _IONBF, 0);
  stderr = capped_;
}

CLogCap::~CLogCap() {
  if (capped_ == nullptr) return;
  stderr = target_;
  std::fclose(capped_);
  if (dropped_ > 0)
    std::fprintf(target_, "zelvora: %llu more diagnostics of this request dropped\n", dropped_);
}

ssize_t CLogCap::Pass(void* cap, const char* data, size_t size) {
  CLogCap& self = *static_cast<CLogCap*>(cap);
  if (self.dropped_ > 0 || self.written_ + size > self.limit_) {
    ++self.dropped_;
  } else {
    self.written_ += size;
    std::fwrite(data, 1, size, self.target_);
  }
  return static_cast<ssize_t>(size);
}
