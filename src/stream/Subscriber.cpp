#include "stream/Subscriber.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <sys/socket.h>
#include <sys/time.h>

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
  evbuffer* chunk = evbuffer_new();
  if (chunk != nullptr) {
    evbuffer_add(chunk, text.data(), text.size());
    evhttp_send_reply_chunk(request_, chunk);
    evbuffer_free(chunk);
  }
  return evbuffer_get_length(
      bufferevent_get_output(evhttp_connection_get_bufferevent(Connection())));
}

void CSubscriber::End(const std::string& last) {
  if (!last.empty()) Send(last);
  evhttp_send_reply_end(request_);
  request_ = nullptr;
}
