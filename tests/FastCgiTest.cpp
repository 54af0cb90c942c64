// The persistent worker as a web server uses it, through a small FastCGI
// client of the tests' own: what clients do to it, its own settings, its
// peers, its maps of boards, and the stop signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "support/Desk.h"

namespace {

struct Exchange {
  Lines env;
  std::string body;
  size_t pause = -1;                // the bytes sent before `during` and the rest; with `during`,
                                    // at most all but the last: the request's end comes after it
  std::function<void(int)> during;  // called, with the connection, after the first `pause` bytes
  int requests = 1;                 // more than one: sent one after another on one kept connection
  int trickleMs = 0;                // from `pause` on, one byte at a time, this many ms apart
};

std::string Record(int type, const std::string& content) {
  const size_t size = content.size();
  return std::string{1, char(type), 0, 1, char(size >> 8), char(size), 0, 0} + content;
}

bool Sent(int fd, const std::string& bytes) {
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// One request on a fresh connection; the answer's output and error streams as "out|err", "(no end)"
// when it never ended. Names and values of its parameters are under 128 bytes each.
std::string Send(const CWorker& worker, const Exchange& exchange) {
  std::string request = Record(1, {0, 1, exchange.requests > 1, 0, 0, 0, 0, 0}),
              pairs;  // a responder, FCGI_KEEP_CONN when more follow
  for (const std::string& var : exchange.env) {
    const size_t is = var.find('=');
    pairs +=
        std::string{char(is), char(var.size() - is - 1)} + var.substr(0, is) + var.substr(is + 1);
  }
  request += Record(4, pairs) + Record(4, "");
  for (size_t at = 0; at < exchange.body.size(); at += 65535)
    request += Record(5, exchange.body.substr(at, 65535));
  request += Record(5, "");
  const bool tcp = worker.Socket()[0] != '/';
  const int fd = socket(tcp ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un path{AF_UNIX, {}};
  sockaddr_in port{AF_INET,
                   htons(tcp ? std::stoi(worker.Socket().substr(10)) : 0),
                   {htonl(INADDR_LOOPBACK)},
                   {}};
  worker.Socket().copy(path.sun_path, sizeof path.sun_path - 1);
  if (connect(fd, tcp ? reinterpret_cast<sockaddr*>(&port) : reinterpret_cast<sockaddr*>(&path),
              tcp ? sizeof port : sizeof path) != 0)
    return close(fd), "(no connection)";
  const timeval patience = {10, 0};  // a worker that never answers fails the row instead of the run
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  const size_t first = std::min(exchange.pause, request.size() - bool(exchange.during)),
               step = exchange.trickleMs ? 1 : request.size();
  std::string answers;
  for (int round = 0; round < exchange.requests; ++round) {
    std::string streams[2], answer;
    bool ended = !Sent(fd, request.substr(0, first));
    if (exchange.during) exchange.during(fd);
    for (size_t at = first; !ended && at < request.size(); at += step)
      ended = usleep(exchange.trickleMs * 1000) != 0 || !Sent(fd, request.substr(at, step));
    char buffer[65536];
    for (ssize_t n; !ended && (n = read(fd, buffer, sizeof buffer)) > 0;) {
      answer.append(buffer, n);
      while (answer.size() >= 8 && !ended) {
        const size_t size = uint8_t(answer[4]) << 8 | uint8_t(answer[5]),
                     whole = 8 + size + uint8_t(answer[6]);
        if (answer.size() < whole) break;
        if (answer[1] == 6 || answer[1] == 7) streams[answer[1] - 6] += answer.substr(8, size);
        ended = answer[1] == 3;
        answer.erase(0, whole);
      }
    }
    answers += ended ? streams[0] + "|" + streams[1] : "(no end)";
  }
  close(fd);
  return answers;
}

const std::string kAccounts = RequestBody("getAccount", "<symbol>x</symbol>"),
                  kServed = kAnswerHeader + std::string("[]|"),
                  kRefused = kBannerAnswer + std::string("|");
// `body` with its length and MAX_CONTENT_LENGTH after `env`, on a fresh connection.
std::string Post(const CWorker& worker, const std::string& body, const Lines& env = {}) {
  return Send(worker, {RequestEnv(body, env), body});
}

TEST(FastCgiWorker, SurvivesWhatClientsDoAndAnswersTheNextRequest) {
  REQUIRE_PRIVATE_SHM();
  CWorker worker({"FCGI_TIMEOUT=1"});
  const std::string big(100000, '<'), part = big.substr(0, 60000);
  const Lines env = RequestEnv(kAccounts);
  const auto hangUp = [](int fd) { shutdown(fd, SHUT_RDWR); };
  const struct {
    const char* what;
    Exchange exchange;
    // "|": the rest could not be sent. For a client that hangs up that is its own doing, so
    // what such a row shows is the next request served by the same worker (below).
    std::string answer;
  } abuses[] = {
      {"a client gone within the parameters", {env, kAccounts, 30, hangUp}, "|"},
      {"a client gone within a body under the limit", {RequestEnv(part), part, 30000, hangUp}, "|"},
      // The worker has the whole body, and answers only after the request's end.
      {"a client gone before the answer", {env, kAccounts, size_t(-1), hangUp}, "|"},
      // Each read short, the request's deadline as a whole.
      {"a client that trickles its records past FCGI_TIMEOUT",
       {env, kAccounts, 3, nullptr, 1, 500},
       "|"},
      // Refused at once, the rest of the body read and dropped: the next request on the kept
      // connection starts after it.
      {"bodies over the limit on a kept connection",
       {{"CONTENT_LENGTH=100000", "MAX_CONTENT_LENGTH=65536"}, big, size_t(-1), nullptr, 2},
       kRefused + kRefused},
  };
  for (const auto& abuse : abuses) {
    EXPECT_EQ(Send(worker, abuse.exchange), abuse.answer) << abuse.what;
    EXPECT_EQ(Post(worker, kAccounts), kServed) << "after " << abuse.what;
  }
}

// A worker started with the desk's settings keeps them: a request may lower a bound, and
// changes no other setting the worker has.
TEST(FastCgiWorker, KeepsItsOwnSettingsAndLetsARequestOnlyLowerABound) {
  REQUIRE_PRIVATE_SHM();
  int listener = -1;  // a server of the peer's choice, which takes connections and never answers
  const int closed = FreePort(), peers = FreePort(&listener);
  const std::string key = UniqueKey("account"), id = key.substr(8),
                    other = std::to_string(geteuid() + 10),
                    peer = "127.0.0.1:" + std::to_string(peers),
                    unreached = "Connection failed: Can't connect to server on '127.0.0.1' (n)\n";
  ASSERT_EQ(WriteBoard(key, BoardImage(kAccountBoard.size, "     1    60", 0, "", 60, {"{}"})), 0);
  CWorker worker({"MAX_REQUEST_IDS=2", "SHM_OWNER=" + other,
                  "MYSQL_HOST=127.0.0.1:" + std::to_string(closed), "MYSQL_USER=desk",
                  "MYSQL_PWD=desk", "MYSQL_DB=desk", "MYSQL_CONNECT_TIMEOUT=1"});
  const struct {
    const char* what;
    Lines env;
    std::string body, answer;
  } cases[] = {
      {"MAX_REQUEST_IDS raised by a request",
       {"MAX_REQUEST_IDS=10000"},
       RequestBody("getOffer", "<symbol>a</symbol><symbol>b</symbol><symbol>c</symbol>"),
       kRefused + "Request refused: 3 ids, over MAX_REQUEST_IDS (n)\n"},
      {"MAX_REQUEST_IDS lowered by a request",
       {"MAX_REQUEST_IDS=1"},
       RequestBody("getAccount", "<accountid>a</accountid><accountid>b</accountid>"),
       kRefused + "Request refused: 2 ids, over MAX_REQUEST_IDS (n)\n"},
      {"SHM_OWNER emptied by a request",
       {"SHM_OWNER="},
       RequestBody("getAccount", "<accountid>" + id + "</accountid>"),
       kAnswerHeader + NoAccount({id}) + "|ShareMemory[" + key +
           "] refused: segment owned by uid " + std::to_string(geteuid()) + ", not " + other +
           " (SHM_OWNER)\n"},
      {"MYSQL_HOST of a request",
       {"MYSQL_HOST=" + peer},
       RequestBody("getImplPlan", "<accountid>1</accountid>"),
       kServed + unreached},
      {"MYSQL_WRITE_HOST of a request, the worker having its own database but no write host",
       {"MYSQL_WRITE_HOST=" + peer},
       RequestBody("setImplPlan", "<accountid>1</accountid>" + Param("A")),
       kRefused + unreached},
      {"ZELVORA_ACCESS of a request, the worker having none",
       {"ZELVORA_ACCESS=/dev/null", "REMOTE_USER=desk"},
       kAccounts,
       "Status: 500 Internal Server Error\n" + kRefused +
           "zelvora: ZELVORA_ACCESS of the request is not taken: a worker's grants file is set in "
           "its own environment\nzelvora: ZELVORA_ACCESS is empty: every request refused\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Unnumbered(Post(worker, c.body, c.env)), c.answer) << c.what;
  pollfd listened = {listener, POLLIN, 0};
  EXPECT_EQ(poll(&listened, 1, 0), 0) << "the server a request named was never connected to";
  close(listener);
  RemoveBoardsMarked(key);
}

// Over TCP: only the peers FCGI_WEB_SERVER_ADDRS lists, when it is set.
TEST(FastCgiWorker, ServesTheWebServersListedOverTcp) {
  const std::pair<std::string, std::string> cases[] = {
      {"", kServed}, {"127.0.0.2", "(no end)"}, {" 10.0.0.1 , 127.0.0.1 ", kServed}};
  for (const auto& [addresses, answer] : cases) {
    CWorker worker(addresses.empty() ? Lines{} : Lines{"FCGI_WEB_SERVER_ADDRS=" + addresses}, 0,
                   FreePort());
    EXPECT_EQ(Post(worker, kAccounts), answer) << "FCGI_WEB_SERVER_ADDRS=" << addresses;
  }
}

// Another web application of the host, running as the web server's user, reaches the pool's
// socket (0600, that user's) as the web server does; only the server's key names a caller.
TEST(FastCgiWorker, ServesOnlyTheWebServerHoldingItsKey) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as www-data";
  const std::string key = "k" + std::to_string(getpid()) + std::string(40, 'e'),
                    refused = "Status: 403 Forbidden\n" + kRefused +
                              "zelvora: request refused: ZELVORA_PEER_KEY ",
                    other = refused + "not the worker's own\n";
  CWorker worker({"ZELVORA_PEER_KEY=" + key});
  ASSERT_EQ(
      RunShell("chown www-data " + worker.Socket() + " && chmod 0600 " + worker.Socket()).status,
      0);
  // No key ("-"), one byte more, another of its length, the key.
  const std::pair<std::string, std::string> cases[] = {{"-", refused + "missing\n"},
                                                       {key + "e", other},
                                                       {std::string(key.size(), 'e'), other},
                                                       {key, kServed}};
  for (const auto& [sent, answer] : cases) {
    Lines env = {"REMOTE_USER=desk", "ZELVORA_PEER_KEY=" + sent};
    if (sent == "-") env.pop_back();
    const ProcessResult got =
        RunProcess({"/usr/bin/setpriv",
                    {"--reuid=www-data", "--regid=www-data", "--clear-groups", "/usr/bin/cgi-fcgi",
                     "-bind", "-connect", worker.Socket()},
                    RequestEnv(kAccounts, env),
                    kAccounts});
    EXPECT_EQ(got.out + "|" + got.err, answer)
        << "www-data sends REMOTE_USER=desk with key " << sent;
  }
}

TEST(FastCgiWorker, ReadsBoardsAfreshSurvivesOneShrunkAndEndsOnAStopSignal) {
  REQUIRE_PRIVATE_SHM();
  CWorker worker;
  const std::string key = UniqueKey("pricebar"), segment = "/dev/shm/shm." + key,
                    body = RequestBody("getPriceBar",
                                       "<symbol>" + key.substr(9) + "</symbol><period></period>"),
                    envelope = kAnswerHeader + std::string("{\"status\":0, \"data\":[");
  // Asked for before its feeder made it, a board is read once it is there; one shrunk under the
  // worker's map by a writer that ignores the lock is read, refused as too short or torn by the
  // writer, never a crash.
  EXPECT_NE(Post(worker, body).find("open failed."), std::string::npos);
  const std::string image = BoardImage(kPriceBarBoard.size, "     1172000", 0, "", 172000, {"{}"});
  ASSERT_EQ(WriteBoard(key, image), 0);
  ASSERT_EQ(Post(worker, body), envelope + "{}]}|");
  std::atomic<bool> done{false};
  std::thread shrinker([&] {
    while (!done) truncate(segment.c_str(), 4096), truncate(segment.c_str(), 176128);
  });
  int answered = 0;
  while (answered < 2000 && Post(worker, body).rfind(kAnswerHeader, 0) == 0) ++answered;
  done = true;
  shrinker.join();
  EXPECT_EQ(answered, 2000) << "each request answered";
  std::ofstream(segment) << image;  // whole again
  EXPECT_EQ(Post(worker, body), envelope + "{}]}|") << "served again, the lock free";
  int kept = -1;  // the worker's maps of boards after the first request
  // Rewritten in place, or (3 and 4) removed and made anew; 4 while the worker waits for a
  // request's first byte on a connection it took.
  for (int n = 1; n <= 5; ++n) {
    const std::string record = "{\"n\":" + std::to_string(n) + "}";
    const auto remake = [&](int) {
      if (n == 4) usleep(100000);
      if (n == 3 || n == 4) RemoveBoardsMarked(key);
      EXPECT_EQ(
          WriteBoard(key, BoardImage(kPriceBarBoard.size, "     1    20", 0, "", 20, {record})), 0);
      if (n == 4) usleep(100000);
    };
    if (n != 4) remake(-1);
    EXPECT_EQ(n == 4 ? Send(worker, {RequestEnv(body), body, 0, remake}) : Post(worker, body),
              envelope + record + "]}|")
        << record;
    if (kept < 0) kept = ShmMaps(worker.Pid());
  }
  EXPECT_EQ(ShmMaps(worker.Pid()), kept) << "the maps of a board made anew replace the old ones";
  // Only its lock made anew, and held: the worker waits on it.
  ASSERT_EQ(sem_unlink(key.c_str()), 0);
  sem_t* held = sem_open(key.c_str(), O_CREAT | O_EXCL, 0600, 0);
  ASSERT_NE(held, SEM_FAILED);
  EXPECT_NE(Post(worker, body, {"SHM_LOCK_MS=100"}).find("lock held for more than 100 ms"),
            std::string::npos)
      << "the lock kept from before is not the board's";
  sem_close(held);
  ASSERT_EQ(sem_unlink(key.c_str()), 0);  // a free lock again, and the board given to another user
  sem_close(sem_open(key.c_str(), O_CREAT | O_EXCL, 0600, 1));
  const Lines owned = {"SHM_OWNER=" + std::to_string(geteuid())};
  ASSERT_EQ(chmod(segment.c_str(), 0640), 0);
  EXPECT_EQ(Post(worker, body, owned), envelope + "{\"n\":5}]}|");
  ASSERT_EQ(chown(segment.c_str(), geteuid() + 10, -1), 0);
  EXPECT_NE(Post(worker, body, owned).find("refused: segment owned by uid"), std::string::npos)
      << "a kept board is looked at anew once its file changed hands";
  const auto ask = [&](int n) {
    std::string asked = body;
    return Post(worker, asked.insert(asked.find("</symbol>"), std::to_string(n)));
  };
  for (int n = 0; n < 300; ++n) {
    ASSERT_EQ(WriteBoard(key + std::to_string(n), image), 0);
    ASSERT_EQ(ask(n), envelope + "{}]}|") << n;
  }
  EXPECT_EQ(ShmMaps(worker.Pid()), 2 * 256) << "a segment and a lock for each board read last";
  RemoveBoardsMarked(key.substr(9));
  for (int n = 0; n < 300; ++n) ask(n);
  EXPECT_EQ(ShmMaps(worker.Pid()), 0) << "boards removed are let go";
  // A stop signal ends a worker after the request in hand: on a kept connection, sent within
  // the second request's parameters.
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    CWorker ending;
    int round = 0;
    EXPECT_EQ(Send(ending, {RequestEnv(kAccounts), kAccounts, 20,
                            [&](int) {
                              if (++round == 2)
                                usleep(200000), kill(ending.Pid(), signal), usleep(200000);
                            },
                            2}),
              kServed + kServed)
        << strsignal(signal) << " in the second request: both answered";
    EXPECT_EQ(ending.Stop(false), 0) << strsignal(signal) << " in a request: it ends by itself";
  }
}

}  // namespace
