// CLogCap bounds what one request writes to standard error. While it lives,
// stderr is a stream of its own that passes each write on to the stream it
// replaced as long as the request's diagnostics stay within the cap, and
// counts the writes it drops; one formatted call is one write. Destroying it
// restores stderr and, when anything was dropped, writes one line saying how
// many. One per request, on the thread that serves it.
#ifndef ZELVORA_LOGCAP_H_
#define ZELVORA_LOGCAP_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

class CLogCap {
 public:
  // `limit`: the bytes the request may write. Should the stream not be
  // made, stderr stays as it was, uncapped.
  explicit CLogCap(size_t limit);
  ~CLogCap();
  CLogCap(const CLogCap&) = delete;
  CLogCap& operator=(const CLogCap&) = delete;

 private:
  static ssize_t Pass(void* cap, const char* data, size_t size);

  FILE* target_;
  FILE* capped_ = nullptr;
  size_t limit_;
  size_t written_ = 0;
  unsigned long long dropped_ = 0;
};

#endif  // ZELVORA_LOGCAP_H_
