// CStreamServer: the stream server's one event loop: the HTTP server on the
// local socket (routes and refusals), the watched boards (topics), the
// open streams (subscribers) and the timers that read, beat and check.
//
// Owns every topic and subscriber; libevent owns the requests and their
// connections, and tells the server when one closes (the subscriber then
// goes without touching its request). SIGTERM or SIGINT: every stream gets
// "bye", the listening socket closes, and Run returns once the streams'
// connections closed or 1.5 s passed.
//
// Bounds: ZELVORA_STREAM_MAX subscribers, kUserStreams of them a user,
// kMaxTopics boards watched (a topic without subscribers is not read and
// goes after kIdleMillis), kUserTopics of them watched by one user alone, CStreamAsk::kMaxIds
// accounts a request, kMaxHeaderBytes of request line and headers, sent within kHeadMillis of the
// connection (kMaxHeads connections waiting for theirs; accepting pauses beyond, and for
// kPauseMillis when accepting fails, as at the descriptor limit), ZELVORA_STREAM_BACKLOG unsent
// bytes a subscriber, ZELVORA_STREAM_WRITE_TIMEOUT_MS without progress of a write; every stream
// ends after 50 to 70 minutes.
#ifndef ZELVORA_STREAM_STREAMSERVER_H_
#define ZELVORA_STREAM_STREAMSERVER_H_

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "stream/StreamAuth.h"
#include "stream/StreamSettings.h"
#include "stream/Topic.h"

struct event;
struct event_base;
struct evhttp;
struct evhttp_bound_socket;
struct evhttp_connection;
struct evhttp_request;
struct bufferevent;
struct evconnlistener;
class CSubscriber;
struct CStreamAsk;

class CStreamServer {
 public:
  static constexpr size_t kMaxTopics = 250;
  // Boards one user may have watched for them alone: half the table, so
  // that no caller can take it from the others.
  static constexpr size_t kUserTopics = kMaxTopics / 2;
  static constexpr int kUserStreams = 32;
  static constexpr int64_t kIdleMillis = 10000;
  static constexpr int kMaxHeaderBytes = 8192;
  static constexpr size_t kMaxHeads = 256;
  static constexpr int64_t kHeadMillis = 5000;
  static constexpr int64_t kPauseMillis = 100;
  // Streams that ended, remembered for their resumes: at most this many, this long.
  static constexpr size_t kEndedStreams = 256;
  static constexpr int64_t kEndedMillis = 120000;

  // `settings` must outlive the server.
  explicit CStreamServer(const CStreamSettings& settings);
  ~CStreamServer();
  CStreamServer(const CStreamServer&) = delete;
  CStreamServer& operator=(const CStreamServer&) = delete;

  // Listens and sets the timers and signals. 0, or -1 with `error`.
  int Start(std::string& error);

  // Where Start listens: a socket's path, or what gave the socket.
  const std::string& Where() const { return where_; }

  // Serves until stopped; 0 after a clean stop, -1 when the loop failed.
  int Run();

 private:
  static void OnRequest(evhttp_request* request, void* self);
  static void OnClose(evhttp_connection* connection, void* self);
  static void OnPoll(int, short, void* self);
  static void OnBeat(int, short, void* self);
  static void OnSecond(int, short, void* self);
  static bufferevent* OnConnect(event_base* base, void* self);
  static void OnAcceptError(evconnlistener* listener, void* self);
  static void OnResume(int, short, void* self);
  static void OnStop(int, short, void* self);
  static void OnDrain(int, short, void* self);

  void Serve(evhttp_request* request);
  void Refuse(evhttp_request* request, int code, const char* reason, const std::string& text);
  // 0 with `topics` the ask's (made and read when new); otherwise a refusal's status.
  int FindTopics(const CStreamAsk& ask, const std::string& user, std::vector<CTopic*>& topics,
                 std::string& why);
  void Open(evhttp_request* request, const std::string& user, const std::vector<CTopic*>& topics);
  void Poll();
  void Beat();
  void CheckGrants();
  // Forgets the connections libevent has let go or that brought their
  // request; ends those whose request is overdue.
  void CheckHeads(int64_t now);
  // Stops accepting for kPauseMillis (then while kMaxHeads wait).
  void Pause();
  void Stop();
  // The topics every ended stream of `user` that sent id `id` carried: what
  // a resume from `id` may take up where it left off.
  std::set<std::string> Carried(const std::string& user, uint64_t id) const;
  // Takes `subscriber` out of its topics and counts, and remembers what it carried.
  void Leave(CSubscriber* subscriber);
  // Ends the stream with event `last` and destroys the subscriber.
  void EndStream(CSubscriber* subscriber, const std::string& last);
  // Closes the connection at once and destroys the subscriber.
  void Drop(CSubscriber* subscriber);
  std::vector<CSubscriber*> Subscribers() const;

  const CStreamSettings& settings_;
  CStreamAuth auth_;
  uid_t owner_ = 0;
  bool owned_ = false;
  event_base* base_ = nullptr;
  evhttp* http_ = nullptr;
  evhttp_bound_socket* socket_ = nullptr;
  std::vector<event*> events_;
  event* drain_ = nullptr;
  event* resume_ = nullptr;
  evconnlistener* listener_ = nullptr;
  std::string where_;
  int64_t loggedAt_ = -1;  // when a failed accept was last told
  // Connections waiting for their request, with a reference each on their
  // buffer (libevent's free then leaves it readable) and a deadline.
  std::vector<std::pair<bufferevent*, int64_t>> heads_;
  std::map<std::string, std::unique_ptr<CTopic>> topics_;
  // Open connections of streams: their subscriber, or null once the stream ended.
  std::unordered_map<evhttp_connection*, CSubscriber*> connections_;
  std::unordered_map<std::string, int> userStreams_;
  struct CEnded {
    std::string user;
    uint64_t firstId, lastId;
    int64_t endedAt;
    std::vector<std::string> topics;
  };
  std::deque<CEnded> ended_;  // the oldest first
  int64_t subscribers_ = 0;
  uint64_t nextId_ = 1;
  bool stopping_ = false;
  int64_t drainUntil_ = 0;
  std::mt19937_64 random_;
};

#endif  // ZELVORA_STREAM_STREAMSERVER_H_
