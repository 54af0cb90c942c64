#include "stream/StreamServer.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <event2/listener.h>
#include <event2/util.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "shm/BoardOwner.h"
#include "shm/Semaphore.h"
#include "shm/ShmKeeper.h"
#include "stream/LocalSocket.h"
#include "stream/StreamAsk.h"
#include "stream/Subscriber.h"
#include "util/Json.h"

namespace {

const int64_t kLifeMillis = 50 * 60 * 1000, kLifeJitterMillis = 20 * 60 * 1000;
const int64_t kDrainMillis = 1500;

// The server that listens: libevent hands an accept error the listener's own
// argument (the HTTP server's), not one of ours.
CStreamServer* listening = nullptr;

int64_t Now() { return CSemaphore::NowMillis(); }

timeval Interval(int64_t millis) {
  return {static_cast<time_t>(millis / 1000), static_cast<suseconds_t>(millis % 1000 * 1000)};
}

// The N of "RUN-N" when RUN is this run's and N an id it gave; 0 otherwise.
uint64_t ResumeId(const char* given, uint64_t nextId) {
  const std::string prefix = Run() + "-";
  if (given == nullptr || std::strncmp(given, prefix.c_str(), prefix.size()) != 0) return 0;
  const char* digits = given + prefix.size();
  char* end = nullptr;
  const unsigned long long id = std::strtoull(digits, &end, 10);
  if (*digits < '0' || *digits > '9' || *end != '\0' || id >= nextId) return 0;
  return id;
}

}  // namespace

CStreamServer::CStreamServer(const CStreamSettings& settings)
    : settings_(settings),
      auth_(settings.key, settings.hasAccess ? &settings.access : nullptr),
      random_(std::random_device()()) {}

CStreamServer::~CStreamServer() {
  if (listening == this) listening = nullptr;
  // The connections first: their close tells subscribers that still hold topics.
  if (http_ != nullptr) evhttp_free(http_);
  for (const auto& head : heads_) bufferevent_decref(head.first);
  for (CSubscriber* subscriber : Subscribers()) delete subscriber;
  for (event* timer : events_) event_free(timer);
  if (base_ != nullptr) event_base_free(base_);
}

int CStreamServer::Start(std::string& error) {
  uid_t uid;
  const int owner = BoardOwner(uid);
  if (owner < 0) {
    error = "SHM_OWNER names no user";
    return -1;
  }
  owned_ = owner > 0, owner_ = uid;
  CShmKeeper::Enable();
  base_ = event_base_new();
  http_ = base_ != nullptr ? evhttp_new(base_) : nullptr;
  if (http_ == nullptr) {
    error = "cannot make the event loop";
    return -1;
  }
  evhttp_set_max_headers_size(http_, kMaxHeaderBytes);
  evhttp_set_max_body_size(http_, 0);
  evhttp_set_timeout(http_, 10);  // to send a request; a stream sets its own
  evhttp_set_allowed_methods(http_, EVHTTP_REQ_GET | EVHTTP_REQ_HEAD | EVHTTP_REQ_POST |
                                        EVHTTP_REQ_PUT | EVHTTP_REQ_DELETE | EVHTTP_REQ_OPTIONS);
  evhttp_set_gencb(http_, OnRequest, this);
  evhttp_set_bevcb(http_, OnConnect, this);
  // systemd's socket unit hands the listening socket over as standard
  // input; otherwise the server makes its own at ZELVORA_STREAM_SOCKET.
  int fd = TakeGivenSocket(error);
  if (fd == -2) return -1;
  if (fd == 0) {
    where_ = "the socket on standard input";
  } else if (settings_.socket.empty()) {
    error = "no socket: ZELVORA_STREAM_SOCKET is not set and standard input is no listening socket";
    return -1;
  } else if ((fd = ListenAt(settings_.socket, error)) < 0) {
    return -1;
  } else {
    where_ = settings_.socket;
  }
  evconnlistener* local = evconnlistener_new(base_, nullptr, nullptr,
                                             LEV_OPT_CLOSE_ON_FREE | LEV_OPT_CLOSE_ON_EXEC, 0, fd);
  if (local == nullptr) close(fd);
  socket_ = local != nullptr ? evhttp_bind_listener(http_, local) : nullptr;
  if (socket_ == nullptr) {
    error = "cannot take connections on the socket";
    return -1;
  }
  listener_ = evhttp_bound_socket_get_listener(socket_);
  listening = this;
  evconnlistener_set_error_cb(listener_, OnAcceptError);
  resume_ = event_new(base_, -1, 0, OnResume, this);
  if (resume_ == nullptr) {
    error = "cannot set the timers";
    return -1;
  }
  events_.push_back(resume_);
  const struct {
    int signal;
    int64_t millis;
    event_callback_fn call;
  } timers[] = {{-1, settings_.intervalMs, OnPoll},
                {-1, settings_.heartbeatMs, OnBeat},
                {-1, 1000, OnSecond},
                {SIGTERM, 0, OnStop},
                {SIGINT, 0, OnStop}};
  for (const auto& timer : timers) {
    event* made = event_new(base_, timer.signal, EV_PERSIST | (timer.signal >= 0 ? EV_SIGNAL : 0),
                            timer.call, this);
    const timeval every = Interval(timer.millis);
    if (made == nullptr || event_add(made, timer.signal >= 0 ? nullptr : &every) != 0) {
      error = "cannot set the timers";
      return -1;
    }
    events_.push_back(made);
  }
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

int CStreamServer::Run() { return event_base_dispatch(base_) < 0 ? -1 : 0; }

void CStreamServer::OnRequest(evhttp_request* request, void* self) {
  static_cast<CStreamServer*>(self)->Serve(request);
}

bufferevent* CStreamServer::OnConnect(event_base* base, void* self) {
  auto* server = static_cast<CStreamServer*>(self);
  const int64_t now = Now();
  // No descriptor yet: libevent sets it, and closes it itself.
  bufferevent* events = bufferevent_socket_new(base, -1, 0);
  if (events == nullptr) return nullptr;
  // Checked before this one joins: libevent sets its callbacks only after.
  if (server->heads_.size() + 1 >= kMaxHeads) server->CheckHeads(now);
  bufferevent_incref(events);
  server->heads_.emplace_back(events, now + kHeadMillis);
  if (server->heads_.size() >= kMaxHeads) server->Pause();
  return events;
}

void CStreamServer::CheckHeads(int64_t now) {
  for (size_t i = 0; i < heads_.size();) {
    bufferevent* events = heads_[i].first;
    bufferevent_data_cb read = nullptr;
    bufferevent_getcb(events, &read, nullptr, nullptr, nullptr);
    if (read != nullptr) {  // libevent still has it
      // Its peer hears the end, and libevent reads it and lets the connection go.
      if (now >= heads_[i].second) shutdown(bufferevent_getfd(events), SHUT_RDWR);
      ++i;
      continue;
    }
    bufferevent_decref(events);
    heads_[i] = heads_.back();
    heads_.pop_back();
  }
}

void CStreamServer::Pause() {
  const timeval pause = Interval(kPauseMillis);
  if (listener_ != nullptr) evconnlistener_disable(listener_);
  event_add(resume_, &pause);
}

void CStreamServer::OnResume(int, short, void* self) {
  auto* server = static_cast<CStreamServer*>(self);
  server->CheckHeads(Now());
  if (server->listener_ == nullptr) return;
  if (server->heads_.size() >= kMaxHeads) return server->Pause();
  evconnlistener_enable(server->listener_);
}

void CStreamServer::OnAcceptError(evconnlistener*, void*) {
  // Out of descriptors, the socket stays ready: accepting at once again
  // would spin and log without end. Told once a minute at most.
  CStreamServer* server = listening;
  if (server == nullptr) return;
  const int error = errno;
  const int64_t now = Now();
  if (server->loggedAt_ < 0 || now - server->loggedAt_ >= 60000) {
    server->loggedAt_ = now;
    std::fprintf(stderr, "zelvora-stream: cannot accept a connection (%s); pausing\n",
                 std::strerror(error));
  }
  server->Pause();
}

void CStreamServer::Refuse(evhttp_request* request, int code, const char* reason,
                           const std::string& text) {
  evkeyvalq* headers = evhttp_request_get_output_headers(request);
  // A connection that would wait for another request is not held.
  evhttp_add_header(headers, "Connection", "close");
  evhttp_add_header(headers, "Content-Type", "text/plain; charset=utf-8");
  if (code == 503) evhttp_add_header(headers, "Retry-After", "5");
  evbuffer* body = evbuffer_new();
  if (body != nullptr) evbuffer_add(body, text.data(), text.size());
  evhttp_send_reply(request, code, reason, body);
  if (body != nullptr) evbuffer_free(body);
}

void CStreamServer::Serve(evhttp_request* request) {
  evhttp_connection* connection = evhttp_request_get_connection(request);
  bufferevent* events =
      connection != nullptr ? evhttp_connection_get_bufferevent(connection) : nullptr;
  for (auto& head : heads_) {
    if (head.first != events) continue;
    bufferevent_decref(events);  // libevent holds its own
    head = heads_.back();
    heads_.pop_back();
    break;
  }
  if (connection != nullptr && connections_.count(connection) != 0)
    return;  // a stream's own failure
  if (stopping_) return Refuse(request, 503, "Service Unavailable", "stopping\n");
  if (evhttp_request_get_command(request) != EVHTTP_REQ_GET) {
    return Refuse(request, 405, "Method Not Allowed", "GET only\n");
  }
  evkeyvalq* headers = evhttp_request_get_input_headers(request);
  // Given twice, a key or a user is one a web server passed on besides its own.
  int users = 0, keys = 0;
  for (const evkeyval* header = headers->tqh_first; header != nullptr;
       header = header->next.tqe_next) {
    users += evutil_ascii_strcasecmp(header->key, "X-Zelvora-User") == 0 ? 1 : 0;
    keys += evutil_ascii_strcasecmp(header->key, "X-Zelvora-Stream-Key") == 0 ? 1 : 0;
  }
  if (users > 1 || keys > 1) {
    return Refuse(request, 403, "Forbidden", "a key or a user given twice\n");
  }
  if (!auth_.KeyMatches(evhttp_find_header(headers, "X-Zelvora-Stream-Key"))) {
    return Refuse(request, 403, "Forbidden", "no key or a wrong key\n");
  }
  const char* user = evhttp_find_header(headers, "X-Zelvora-User");
  if (!CStreamAuth::IsUser(user))
    return Refuse(request, 403, "Forbidden", "no user or a bad one\n");
  if (!auth_.Admits(user)) return Refuse(request, 403, "Forbidden", "not a user of the grants\n");
  const evhttp_uri* uri = evhttp_request_get_evhttp_uri(request);
  CStreamAsk ask;
  std::string why;
  const int code = ask.Parse(evhttp_uri_get_path(uri), evhttp_uri_get_query(uri), why);
  if (code != 0) return Refuse(request, code, code == 404 ? "Not Found" : "Bad Request", why);
  for (const std::string& account : ask.accounts) {
    if (!auth_.MayRead(user, account)) return Refuse(request, 403, "Forbidden", "no right\n");
  }
  if (subscribers_ >= settings_.maxSubscribers) {
    return Refuse(request, 503, "Service Unavailable", "the host's streams are all taken\n");
  }
  const auto streams = userStreams_.find(user);
  if (streams != userStreams_.end() && streams->second >= kUserStreams) {
    return Refuse(request, 503, "Service Unavailable", "this user's streams are all taken\n");
  }
  std::vector<CTopic*> topics;
  const int found = FindTopics(ask, user, topics, why);
  if (found != 0) {
    return Refuse(request, found, found == 404 ? "Not Found" : "Service Unavailable", why);
  }
  Open(request, user, topics);
}

int CStreamServer::FindTopics(const CStreamAsk& ask, const std::string& user,
                              std::vector<CTopic*>& topics, std::string& why) {
  size_t fresh = 0, alone = 0;
  for (const CTopicDef& def : ask.topics) fresh += topics_.count(def.name) == 0 ? 1 : 0;
  for (const auto& entry : topics_) {
    const auto& watchers = entry.second->Subscribers();
    alone += !watchers.empty() &&
             std::all_of(watchers.begin(), watchers.end(),
                         [&user](const CSubscriber* s) { return s->User() == user; });
  }
  if (alone + fresh > kUserTopics) {
    why = "this user watches too many boards alone\n";
    return 503;
  }
  // Topics no one watches go first, the longest idle first: they cost a
  // refusal nothing but a read when they are asked for again.
  std::vector<std::pair<int64_t, std::string>> idle;
  for (const auto& entry : topics_) {
    if (entry.second->Subscribers().empty())
      idle.emplace_back(entry.second->idleSince, entry.first);
  }
  std::sort(idle.begin(), idle.end());
  for (size_t i = 0; i < idle.size() && topics_.size() + fresh > kMaxTopics; ++i) {
    const bool asked = std::any_of(ask.topics.begin(), ask.topics.end(), [&](const CTopicDef& def) {
      return def.name == idle[i].second;
    });
    if (!asked) topics_.erase(idle[i].second);
  }
  if (topics_.size() + fresh > kMaxTopics) {
    why = "too many boards watched\n";
    return 503;
  }
  for (const CTopicDef& def : ask.topics) {
    std::unique_ptr<CTopic>& topic = topics_[def.name];
    if (!topic) {
      topic = std::make_unique<CTopic>(def, nextId_, owned_ ? &owner_ : nullptr);
      topic->idleSince = Now();
      topic->Poll(Now(), nextId_);
    }
    topics.push_back(topic.get());
  }
  // Bars are watched only for a board that exists: a caller cannot fill the
  // table with boards of made-up symbols. An account's board may be missing
  // (its topic says so, and "back" when it comes): the ids are bounded by
  // the rights and the user's share, and one account without a board must
  // not take the whole page's stream away.
  for (CTopic* topic : topics) {
    if (topic->Def().kind == TopicKind::kBars && topic->GetState() == CTopic::State::kMissing) {
      for (CTopic* made : topics) {
        if (made->Subscribers().empty()) topics_.erase(made->Def().name);
      }
      why = "no such board\n";
      return 404;
    }
  }
  return 0;
}

void CStreamServer::Open(evhttp_request* request, const std::string& user,
                         const std::vector<CTopic*>& topics) {
  const int64_t now = Now();
  const int64_t life = kLifeMillis + static_cast<int64_t>(random_() % kLifeJitterMillis);
  auto* subscriber = new CSubscriber(request, user, now + life);
  evhttp_connection* connection = evhttp_request_get_connection(request);
  connections_[connection] = subscriber;
  evhttp_connection_set_closecb(connection, OnClose, this);
  ++subscribers_;
  ++userStreams_[user];
  subscriber->Start(settings_.writeTimeoutMs);
  const uint64_t resume = ResumeId(
      evhttp_find_header(evhttp_request_get_input_headers(request), "Last-Event-ID"), nextId_);
  // A resume takes up only the topics the stream it resumes carried: of
  // another, the client has seen nothing, whatever the id.
  const std::set<std::string> carried =
      resume != 0 ? Carried(user, resume) : std::set<std::string>();
  std::vector<const CKeptEvent*> kept;
  std::vector<CTopic*> fresh;
  for (CTopic* topic : topics) {
    topic->Add(subscriber);
    subscriber->topics.push_back(topic);
    if (carried.count(topic->Def().name) == 0 || !topic->KeptAfter(resume, kept)) {
      fresh.push_back(topic);
    }
  }
  // Kept events in the order they were made, then the snapshots: the last
  // id a subscriber sees is the newest it has.
  std::sort(kept.begin(), kept.end(),
            [](const CKeptEvent* a, const CKeptEvent* b) { return a->id < b->id; });
  size_t backlog = 0;
  for (const CKeptEvent* event : kept) {
    backlog = subscriber->Send(event->text);
    subscriber->Sent(event->id);
  }
  for (CTopic* topic : fresh) {
    const std::string first = topic->FirstEvent(nextId_);
    if (!first.empty()) backlog = subscriber->Send(first), subscriber->Sent(nextId_ - 1);
  }
  // The first burst is held to the bound as every later one.
  if (backlog > static_cast<size_t>(settings_.backlog)) Drop(subscriber);
}

std::set<std::string> CStreamServer::Carried(const std::string& user, uint64_t id) const {
  std::set<std::string> carried;
  bool found = false;
  for (const CEnded& stream : ended_) {
    if (stream.user != user || id < stream.firstId || id > stream.lastId) continue;
    std::set<std::string> both;
    for (const std::string& name : stream.topics) {
      if (!found || carried.count(name) != 0) both.insert(name);
    }
    carried.swap(both);
    found = true;
  }
  return carried;
}

void CStreamServer::OnClose(evhttp_connection* connection, void* self) {
  auto* server = static_cast<CStreamServer*>(self);
  const auto found = server->connections_.find(connection);
  if (found == server->connections_.end()) return;
  CSubscriber* subscriber = found->second;
  server->connections_.erase(found);
  if (subscriber == nullptr) return;  // its stream had ended
  subscriber->Forget();
  server->Leave(subscriber);
  delete subscriber;
}

void CStreamServer::Leave(CSubscriber* subscriber) {
  const int64_t now = Now();
  while (!ended_.empty() &&
         (ended_.size() >= kEndedStreams || now - ended_.front().endedAt >= kEndedMillis)) {
    ended_.pop_front();
  }
  CEnded ended{subscriber->User(), subscriber->FirstId(), subscriber->LastId(), now, {}};
  for (CTopic* topic : subscriber->topics) {
    ended.topics.push_back(topic->Def().name);
    topic->Remove(subscriber);
    if (topic->Subscribers().empty()) topic->idleSince = now;
  }
  if (ended.firstId != 0) ended_.push_back(std::move(ended));
  subscriber->topics.clear();
  --subscribers_;
  const auto streams = userStreams_.find(subscriber->User());
  if (streams != userStreams_.end() && --streams->second <= 0) userStreams_.erase(streams);
}

void CStreamServer::EndStream(CSubscriber* subscriber, const std::string& last) {
  subscriber->Sent(nextId_ - 1);  // `last`, made just before
  connections_[subscriber->Connection()] = nullptr;
  Leave(subscriber);
  subscriber->End(last);
  delete subscriber;
}

void CStreamServer::Drop(CSubscriber* subscriber) {
  evhttp_connection* connection = subscriber->Connection();
  std::fprintf(stderr, "zelvora-stream: dropped a stream of %s: %zu bytes unsent\n",
               subscriber->User().c_str(), subscriber->Send(std::string()));
  connections_.erase(connection);
  Leave(subscriber);
  delete subscriber;
  evhttp_connection_free(connection);
}

std::vector<CSubscriber*> CStreamServer::Subscribers() const {
  std::vector<CSubscriber*> open;
  for (const auto& entry : connections_) {
    if (entry.second != nullptr) open.push_back(entry.second);
  }
  return open;
}

void CStreamServer::OnPoll(int, short, void* self) { static_cast<CStreamServer*>(self)->Poll(); }

void CStreamServer::Poll() {
  const int64_t now = Now();
  std::vector<CSubscriber*> behind;
  for (auto at = topics_.begin(); at != topics_.end();) {
    CTopic& topic = *at->second;
    if (topic.Subscribers().empty()) {
      at = now - topic.idleSince >= kIdleMillis ? topics_.erase(at) : std::next(at);
      continue;
    }
    const size_t made = topic.Poll(now, nextId_);
    const auto& kept = topic.Kept();
    for (CSubscriber* subscriber : topic.Subscribers()) {
      for (size_t i = kept.size() - made; i < kept.size(); ++i) {
        subscriber->Sent(kept[i].id);
        if (subscriber->Send(kept[i].text) > static_cast<size_t>(settings_.backlog)) {
          behind.push_back(subscriber);
          break;
        }
      }
    }
    ++at;
  }
  std::sort(behind.begin(), behind.end());
  behind.erase(std::unique(behind.begin(), behind.end()), behind.end());
  for (CSubscriber* subscriber : behind) Drop(subscriber);
}

void CStreamServer::OnBeat(int, short, void* self) { static_cast<CStreamServer*>(self)->Beat(); }

void CStreamServer::Beat() {
  const int64_t now = Now();
  for (CSubscriber* subscriber : Subscribers()) {
    if (now >= subscriber->EndMillis()) {
      EndStream(subscriber, EventText(nextId_++, "bye", "{}"));
    } else if (subscriber->Send("event: heartbeat\ndata: {}\n\n") >
               static_cast<size_t>(settings_.backlog)) {
      Drop(subscriber);
    }
  }
}

void CStreamServer::OnSecond(int, short, void* self) {
  auto* server = static_cast<CStreamServer*>(self);
  server->CheckHeads(Now());
  server->CheckGrants();
}

void CStreamServer::CheckGrants() {
  if (!auth_.Refresh(Now())) return;
  for (CSubscriber* subscriber : Subscribers()) {
    for (const CTopic* topic : subscriber->topics) {
      const CTopicDef& def = topic->Def();
      const std::string& user = subscriber->User();
      if (auth_.Admits(user) && (def.id.empty() || auth_.MayRead(user, def.id))) continue;
      EndStream(subscriber,
                EventText(nextId_++, "refused", "{\"topic\":" + JsonQuoted(def.name) + "}"));
      break;
    }
  }
}

void CStreamServer::OnStop(int, short, void* self) { static_cast<CStreamServer*>(self)->Stop(); }

void CStreamServer::Stop() {
  if (stopping_) return;
  stopping_ = true;
  if (socket_ != nullptr) evhttp_del_accept_socket(http_, socket_);
  socket_ = nullptr, listener_ = nullptr;
  for (CSubscriber* subscriber : Subscribers()) {
    EndStream(subscriber, EventText(nextId_++, "bye", "{}"));
  }
  drainUntil_ = Now() + kDrainMillis;
  drain_ = event_new(base_, -1, EV_PERSIST, OnDrain, this);
  const timeval every = Interval(10);
  if (drain_ == nullptr || event_add(drain_, &every) != 0) {
    event_base_loopexit(base_, nullptr);
    return;
  }
  events_.push_back(drain_);
}

void CStreamServer::OnDrain(int, short, void* self) {
  auto* server = static_cast<CStreamServer*>(self);
  if (server->connections_.empty() || Now() >= server->drainUntil_) {
    event_base_loopexit(server->base_, nullptr);
  }
}
