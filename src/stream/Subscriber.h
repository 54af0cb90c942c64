// CSubscriber: one open stream: its request, its caller and its topics.
//
// The request belongs to libevent; the subscriber only writes to it, until
// End, or until the server learns the connection closed (the server must
// then Forget the request and destroy the subscriber without touching it).
// What was written and not yet taken by the peer is the backlog; the
// server drops a subscriber whose backlog passes its bound, so one slow
// reader costs the others nothing and holds a bounded amount of memory.
#ifndef ZELVORA_STREAM_SUBSCRIBER_H_
#define ZELVORA_STREAM_SUBSCRIBER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct evbuffer;
struct evhttp_request;
struct evhttp_connection;
class CTopic;

class CSubscriber {
 public:
  // `endMillis`: when the stream reaches its lifetime.
  CSubscriber(evhttp_request* request, const std::string& user, int64_t endMillis);
  CSubscriber(const CSubscriber&) = delete;
  CSubscriber& operator=(const CSubscriber&) = delete;

  // Starts the reply: status 200 and the stream's headers. The connection
  // closes after the stream, which ends only by End or by a drop. Its
  // system send buffer is fixed at 64 KiB (128 KiB as the system counts). Reading
  // stops at a few kilobytes from the peer (nothing is read during a stream
  // but the peer's close), and a write that makes no progress for
  // `writeTimeoutMs` ends the connection.
  void Start(int64_t writeTimeoutMs);

  // Appends `text` to the stream. The bytes not yet sent afterwards.
  size_t Send(const std::string& text);

  // Sends `last` (when not empty) and ends the reply; the request is not
  // touched again.
  void End(const std::string& last);

  // The connection closed: the request is never touched again. A peer that
  // left in the middle of the stream makes libevent detach the request and
  // hand it over; it is freed here then (not while the server is torn down,
  // when libevent still holds and frees it).
  void Forget();

  evhttp_connection* Connection() const;
  const std::string& User() const { return user_; }
  int64_t EndMillis() const { return endMillis_; }

  // Notes that the event with id `id` went out on this stream.
  void Sent(uint64_t id) {
    firstId_ = firstId_ == 0 ? id : firstId_;
    lastId_ = id > lastId_ ? id : lastId_;
  }
  // The ids this stream sent, from the first to the last; 0 for none.
  uint64_t FirstId() const { return firstId_; }
  uint64_t LastId() const { return lastId_; }

  std::vector<CTopic*> topics;

 private:
  evhttp_request* request_;
  // Taken at Start: a change goes to every subscriber, and following the
  // request to its socket costs a cache miss a step.
  evbuffer* output_ = nullptr;
  int fd_ = -1;
  bool chunked_ = false;
  bool queued_ = false;  // bytes went to output_ (and may still wait there)
  std::string user_;
  int64_t endMillis_;
  uint64_t firstId_ = 0, lastId_ = 0;
};

#endif  // ZELVORA_STREAM_SUBSCRIBER_H_
