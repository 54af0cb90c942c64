#include "stream/Subscriber.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/http_struct.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <algorithm>
#include <cstring>

namespace {

// What a peer may have sent unread during a stream: only its close matters.
const size_t kReadMost = 4096;
// The system's send buffer of a stream: fixed, so that what a slow peer has
// not taken piles up where the backlog bound sees it, not in a kernel
// buffer that grows to megabytes on its own.
const int kSocketSendBytes = 64 << 10;

}  // namespace

CSubscriber::CSubscriber(evhttp_request* request, const std::string& user, int64_t endMillis)
    : request_(request), user_(user), endMillis_(endMillis) {}

evhttp_connection* CSubscriber::Connection() const {
  return request_ != nullptr ? evhttp_request_get_connection(request_) : nullptr;
}

void CSubscriber::Start(int64_t writeTimeoutMs) {
  evkeyvalq* headers = evhttp_request_get_output_headers(request_);
  evhttp_add_header(headers, "Content-Type", "text/event-stream");
  evhttp_add_header(headers, "Cache-Control", "no-cache");
  evhttp_add_header(headers, "X-Accel-Buffering", "no");
  evhttp_add_header(headers, "Connection", "close");
  evhttp_send_reply_start(request_, 200, "OK");
  bufferevent* events = evhttp_connection_get_bufferevent(Connection());
  bufferevent_setwatermark(events, EV_READ, 0, kReadMost);
  setsockopt(bufferevent_getfd(events), SOL_SOCKET, SO_SNDBUF, &kSocketSendBytes,
             sizeof kSocketSendBytes);
  const timeval write = {static_cast<time_t>(writeTimeoutMs / 1000),
                         static_cast<suseconds_t>(writeTimeoutMs % 1000 * 1000)};
  bufferevent_set_timeouts(events, nullptr, &write);
  output_ = bufferevent_get_output(events);
  fd_ = bufferevent_getfd(events);
  chunked_ = request_->chunked != 0;
  queued_ = true;  // the head waits in the buffer
}

size_t CSubscriber::Send(const std::string& text) {
  // Only a stream that had to queue looks at its buffer: a change goes to
  // every subscriber, and the buffer is one more cache miss each.
  if (queued_) queued_ = evbuffer_get_length(output_) != 0;
  if (text.empty()) return queued_ ? evbuffer_get_length(output_) : 0;
  // The chunk's framing, when the reply is chunked (a peer of HTTP/1.1).
  char head[24];
  size_t headSize = 0;
  if (chunked_) {
    char digits[16];
    size_t count = 0;
    for (size_t size = text.size(); count == 0 || size != 0; size >>= 4) {
      digits[count++] = "0123456789abcdef"[size & 15];
    }
    while (count > 0) head[headSize++] = digits[--count];
    head[headSize++] = '\r', head[headSize++] = '\n';
  }
  const iovec parts[] = {{head, headSize},
                         {const_cast<char*>(text.data()), text.size()},
                         {const_cast<char*>("\r\n"), chunked_ ? 2u : 0u}};
  // With nothing waiting, the bytes go to the socket at once: one system
  // call, where the buffered way costs three (the write and switching the
  // socket's write watch on and off). What the socket does not take waits
  // in the connection's buffer, in order, and counts as backlog.
  size_t sent = 0;
  if (!queued_) {
    msghdr message = {};
    message.msg_iov = const_cast<iovec*>(parts);
    message.msg_iovlen = 3;
    const ssize_t written = sendmsg(fd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    sent = written > 0 ? static_cast<size_t>(written) : 0;
  }
  const size_t total = parts[0].iov_len + parts[1].iov_len + parts[2].iov_len;
  if (sent == total) return 0;
  const bool first = !queued_;  // queued_ is fresh: false means the buffer is empty
  for (const iovec& part : parts) {
    const size_t skip = std::min(sent, part.iov_len);
    sent -= skip;
    evbuffer_add(output_, static_cast<const char*>(part.iov_base) + skip, part.iov_len - skip);
  }
  queued_ = true;
  // Only when the buffer was empty: enabling again would start the write
  // timeout over, and a peer that takes nothing would never time out.
  if (first) bufferevent_enable(evhttp_connection_get_bufferevent(Connection()), EV_WRITE);
  return evbuffer_get_length(output_);
}

void CSubscriber::Forget() {
  if (request_ != nullptr && evhttp_request_get_connection(request_) == nullptr) {
    evhttp_request_free(request_);
  }
  request_ = nullptr;
}

void CSubscriber::End(const std::string& last) {
  if (!last.empty()) Send(last);
  evhttp_send_reply_end(request_);
  request_ = nullptr;
}
