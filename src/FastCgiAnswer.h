// CFastCgiAnswer: a worker's answer to one FastCGI request, written as the
// protocol's records on the request's connection.
//
// The standard output and error streams are kept in buffers of their own
// and go out together: an answer that also logged a line leaves in one
// write with its stream ends and the request's end, not in one write per
// stream (each write wakes the peer, which then waits again for the rest).
// A stream's buffer is written whenever it reaches kHeldBytes, so an answer
// of any size holds less than that of each (and its records once). After a write failed the rest is
// dropped: bytes for a peer that went away are never kept for the next
// request. Owned by the worker's one serving thread.
#ifndef ZELVORA_FASTCGIANSWER_H_
#define ZELVORA_FASTCGIANSWER_H_

#include <cstddef>
#include <string>

class CFastCgiAnswer {
 public:
  static constexpr size_t kHeldBytes = 1 << 16;

  // Starts the answer to request `requestId` on connection `fd`.
  void Begin(int fd, int requestId);
  // Adds bytes of the standard output or standard error stream.
  void Out(const char* bytes, size_t size);
  void Err(const char* bytes, size_t size);
  // Writes what both streams hold now, without their ends. False when a
  // write failed (now or before).
  bool Flush();
  // Writes what is left, each stream's end (the error stream's only when
  // it carried a byte) and the request's end with `appStatus`. False when
  // a write failed (now or before).
  bool End(int appStatus);
  // True from Begin to End: a request is in hand.
  bool Active() const { return active_; }

 private:
  void Add(int type, std::string& held, const char* bytes, size_t size);
  // Appends `held` to `wire` as records of `type` and empties it.
  void Records(int type, std::string& held);
  bool Send();

  bool active_ = false;
  int fd_ = -1;
  int requestId_ = 0;
  bool failed_ = false;
  bool errUsed_ = false;
  std::string out_, err_, wire_;
};

#endif  // ZELVORA_FASTCGIANSWER_H_
