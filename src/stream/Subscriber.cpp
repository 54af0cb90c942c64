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
#include <cstdio>
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

void CSubscriber::Start(int writeTimeoutSeconds) {
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
  const timeval write = {writeTimeoutSeconds, 0};
  bufferevent_set_timeouts(events, nullptr, &write);
}

size_t CSubscriber::Send(const std::string& text) {
  bufferevent* events = evhttp_connection_get_bufferevent(Connection());
  evbuffer* output = bufferevent_get_output(events);
  if (text.empty()) return evbuffer_get_length(output);
  // The chunk's framing, when the reply is chunked (a peer of HTTP/1.1).
  char head[24] = "";
  if (request_->chunked) std::snprintf(head, sizeof head, "%zx\r\n", text.size());
  const iovec parts[] = {{head, std::strlen(head)},
                         {const_cast<char*>(text.data()), text.size()},
                         {const_cast<char*>("\r\n"), request_->chunked ? 2u : 0u}};
  // With nothing waiting, the bytes go to the socket at once: one system
  // call, where the buffered way costs three (the write and switching the
  // socket's write watch on and off). What the socket does not take waits
  // in the connection's buffer, in order, and counts as backlog.
  size_t sent = 0;
  if (evbuffer_get_length(output) == 0) {
    msghdr message = {};
    message.msg_iov = const_cast<iovec*>(parts);
    message.msg_iovlen = 3;
    const ssize_t written =
        sendmsg(bufferevent_getfd(events), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    sent = written > 0 ? static_cast<size_t>(written) : 0;
  }
  const size_t total = parts[0].iov_len + parts[1].iov_len + parts[2].iov_len;
  if (sent == total) return 0;
  for (const iovec& part : parts) {
    const size_t skip = std::min(sent, part.iov_len);
    sent -= skip;
    evbuffer_add(output, static_cast<const char*>(part.iov_base) + skip, part.iov_len - skip);
  }
  bufferevent_enable(events, EV_WRITE);
  return evbuffer_get_length(output);
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
