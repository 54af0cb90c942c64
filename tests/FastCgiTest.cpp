// The persistent worker as a web server uses it, through a small FastCGI
// client of the tests' own: what clients do to it, SIGTERM, and its one
// database connection across requests on the real server.
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
#include <random>
#include <thread>
#include <tuple>

#include "support/Desk.h"

namespace {

struct Exchange {
  Lines env;
  std::string body;
  size_t cut = std::string::npos;  // close the connection after sending this many bytes
  bool read = true;                // wait for the answer
  size_t pause = 0;  // with `during`: call it, with the connection, after sending this many bytes
  std::function<void(int)> during;
  int requests = 1;   // more than one: sent one after another on one kept connection
  int trickleMs = 0;  // from `pause` on, one byte at a time, this many ms apart
};

std::string Record(int type, const std::string& content) {
  const size_t size = content.size();
  return std::string{1,
                     static_cast<char>(type),
                     0,
                     1,
                     static_cast<char>(size >> 8),
                     static_cast<char>(size & 0xff),
                     0,
                     0} +
         content;
}

// One request on a fresh connection; the answer's output and error streams as "out|err", "(no end)"
// when it never ended.
std::string Send(const CWorker& worker, const Exchange& exchange) {
  std::string request = Record(1, std::string{0, 1, exchange.requests > 1, 0, 0, 0, 0, 0}),
              pairs;  // a responder, FCGI_KEEP_CONN when more follow
  for (const std::string& var : exchange.env) {
    const std::string name = var.substr(0, var.find('=')), value = var.substr(var.find('=') + 1);
    for (size_t length : {name.size(), value.size()})
      pairs +=
          length < 128
              ? std::string(1, static_cast<char>(length))
              : std::string{static_cast<char>(0x80 | length >> 24), static_cast<char>(length >> 16),
                            static_cast<char>(length >> 8), static_cast<char>(length)};
    pairs += name + value;
  }
  request += Record(4, pairs) + Record(4, "");
  for (size_t at = 0; at < exchange.body.size(); at += 65535)
    request += Record(5, exchange.body.substr(at, 65535));
  request += Record(5, "");
  const bool tcp = worker.Socket()[0] != '/';
  const int fd = socket(tcp ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{AF_UNIX, {}};
  sockaddr_in port{AF_INET,
                   htons(static_cast<uint16_t>(tcp ? std::stoi(worker.Socket().substr(10)) : 0)),
                   {htonl(INADDR_LOOPBACK)},
                   {}};
  worker.Socket().copy(address.sun_path, sizeof address.sun_path - 1);
  if (connect(fd, tcp ? reinterpret_cast<sockaddr*>(&port) : reinterpret_cast<sockaddr*>(&address),
              tcp ? sizeof port : sizeof address) != 0)
    return close(fd), "(no connection)";
  const timeval patience = {10, 0};  // a worker that never answers fails the row instead of the run
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  const std::string sent = request.substr(0, exchange.cut),
                    first = sent.substr(
                        0, exchange.during || exchange.trickleMs ? exchange.pause : sent.size());
  std::string answers;
  for (int round = 0; round < exchange.requests; ++round) {
    std::string streams[2], answer;
    bool ended =
        send(fd, first.data(), first.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(first.size());
    if (exchange.during) exchange.during(fd);
    for (size_t at = first.size(); exchange.trickleMs && !ended && at < sent.size(); ++at)
      ended = usleep(exchange.trickleMs * 1000) != 0 || send(fd, &sent[at], 1, MSG_NOSIGNAL) != 1;
    ended = ended || (!exchange.trickleMs && sent.size() > first.size() &&
                      send(fd, sent.data() + first.size(), sent.size() - first.size(),
                           MSG_NOSIGNAL) != static_cast<ssize_t>(sent.size() - first.size()));
    char buffer[65536];
    for (ssize_t n; exchange.read && exchange.cut == std::string::npos && !ended &&
                    (n = read(fd, buffer, sizeof buffer)) > 0;) {
      answer.append(buffer, static_cast<size_t>(n));
      while (answer.size() >= 8 && !ended) {
        const size_t size = static_cast<unsigned char>(answer[4]) << 8 |
                            static_cast<unsigned char>(answer[5]),
                     whole = 8 + size + static_cast<unsigned char>(answer[6]);
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
                  kServed = std::string(kAnswerHeader) + "[]|";

TEST(FastCgiWorker, SurvivesWhatClientsDoAndAnswersTheNextRequest) {
  REQUIRE_PRIVATE_SHM();
  const std::string files = RunShell("ls /dev/shm").out;
  CWorker worker({"FCGI_TIMEOUT=1"});
  const std::string big(100000, '<');
  std::mt19937 random(20261206);
  const std::string pieces[] = {
      "<zelvora>", "<method>", "getAccount",  "getPriceBar", "</method>",
      "<params>",  "<symbol>", "<accountid>", "x",           "</",
      ">",         "<",        "&amp;",       "\xff",        std::string(1, '\0'),
      " ",         "/"};
  const struct {
    const char* what;
    Exchange exchange;
    std::string answer;
  } abuses[] = {
      {"a body over the limit",
       {{"CONTENT_LENGTH=100000", "MAX_CONTENT_LENGTH=65536"}, big},
       std::string(kBannerAnswer) + "|"},
      {"a client gone within the parameters", {RequestEnv(kAccounts), kAccounts, 30}, "(no end)"},
      {"a client gone within a body under the limit",
       {RequestEnv(big.substr(0, 60000)), big.substr(0, 60000), 30000},
       "(no end)"},
      {"a client gone before the answer",
       {RequestEnv(kAccounts), kAccounts, std::string::npos, false},
       "(no end)"},
      {"a client that stalls within a record past FCGI_TIMEOUT",
       {RequestEnv(kAccounts), kAccounts, std::string::npos, true, 3, [](int) { usleep(1500000); }},
       "|"},  // "|": the rest could not be sent
      {"a client that trickles its records past FCGI_TIMEOUT",
       {RequestEnv(kAccounts), kAccounts, std::string::npos, true, 3, nullptr, 1, 500},
       "|"},
      {"two requests on a kept connection",
       {RequestEnv(kAccounts), kAccounts, std::string::npos, true, 0, nullptr, 2},
       kServed + kServed},
      // The client hangs up unless the answer comes while it still sends the body, and its end
      // only after: the next request follows the end at once.
      {"bodies over the limit on a kept connection: answered first, the rest read before the end",
       {{"CONTENT_LENGTH=100000", "MAX_CONTENT_LENGTH=65536"},
        big,
        std::string::npos,
        true,
        2000,
        [](int fd) {
          pollfd answer = {fd, POLLIN, 0};
          char seen[4096];
          ssize_t got = poll(&answer, 1, 500) == 1 ? 0 : -1;
          if (got == 0) usleep(100000), got = recv(fd, seen, sizeof seen, MSG_PEEK);
          for (ssize_t at = 0; got < 0 || at + 8 <= got;
               at +=
               8 + (seen[at + 4] & 0xff) * 256 + (seen[at + 5] & 0xff) + (seen[at + 6] & 0xff))
            if (got < 0 || seen[at + 1] == 3) return (void)shutdown(fd, SHUT_RDWR);
        },
        2},
       std::string(kBannerAnswer) + "|" + kBannerAnswer + "|"},
  };
  for (const auto& abuse : abuses) {
    EXPECT_EQ(Send(worker, abuse.exchange), abuse.answer) << abuse.what;
    EXPECT_EQ(Send(worker, {RequestEnv(kAccounts), kAccounts}), kServed) << "after " << abuse.what;
  }
  [[maybe_unused]] const auto resident = [&] {
    return std::stol(
        RunShell("awk '/^VmRSS/ {print $2}' /proc/" + std::to_string(worker.Pid()) + "/status")
            .out);
  };
  [[maybe_unused]] const long before = resident();
  for (int n = 1; n <= 10000; ++n) {
    std::string body;
    for (int i = random() % 12; i > 0; --i)
      body += pieces[random() % std::size(pieces)] +
              (random() % 3 == 0 ? std::to_string(random()) : "");
    const Lines env = {"CONTENT_LENGTH=" + std::to_string(static_cast<int>(random() % 80) - 5),
                       "MAX_CONTENT_LENGTH=" + std::to_string(random() % 100),
                       "MYSQL_PWD=" + std::string(2000, 'p') + std::to_string(n),
                       "TZ=<" + std::string(2000, 'z') + std::to_string(n) + ">-3"};
    const std::string answer = Send(worker, {env, body});
    ASSERT_EQ(answer.rfind(kAnswerHeader, 0), 0u)
        << "request " << n << ": " << ::testing::PrintToString(body);
    ASSERT_EQ(n % 1000 != 0 ? kServed : Send(worker, {RequestEnv(kAccounts), kAccounts}), kServed)
        << "after " << n << " random requests";
  }
#ifndef ZELVORA_SANITIZED  // the address sanitizer holds freed memory back on purpose
  EXPECT_LT(resident() - before, 4096)
      << "kB kept of 10000 distinct 2 kB values of a password and of a zone";
#endif
  for (int n = 1; n <= 10000; ++n) {  // made-up accounts: no board, and no database to fall back on
    const std::string id = std::to_string(random()),
                      body = RequestBody("getAccount", "<accountid>" + id + "</accountid>");
    ASSERT_EQ(Send(worker, {RequestEnv(body), body}),
              std::string(kAnswerHeader) + "[{\"status\":1, \"data\":{\"AccountID\":" + id +
                  "}}]|ShareMemory[account." + id +
                  "] open failed.\n[2] No such file or directory\n")
        << n;
  }
  EXPECT_EQ(RunShell("ls /dev/shm").out, files)
      << "boards asked for by made-up keys leave nothing behind";
}

// A worker started with the desk's settings keeps them: a request may lower a bound, and
// changes no other setting the worker has, nor takes a zone that is no zone file.
TEST(FastCgiWorker, KeepsItsOwnSettingsAndLetsARequestOnlyLowerABound) {
  REQUIRE_PRIVATE_SHM();
  int listener = -1;  // a server of the peer's choice, which takes connections and never answers
  const int closed = FreePort(), peers = FreePort(&listener);
  const std::string key = UniqueKey("account"), id = key.substr(8), uid = std::to_string(geteuid()),
                    other = std::to_string(geteuid() + 10);
  ASSERT_EQ(WriteBoard(key, BoardImage(kAccountBoard.size, "     1    60", 0, "", 60, {"{}"})), 0);
  CWorker worker({"MAX_REQUEST_IDS=2", "SHM_OWNER=" + other,
                  "MYSQL_HOST=127.0.0.1:" + std::to_string(closed), "MYSQL_USER=desk",
                  "MYSQL_PWD=desk", "MYSQL_DB=desk", "MYSQL_CONNECT_TIMEOUT=1"});
  const std::string account = RequestBody("getAccount", "<accountid>" + id + "</accountid>"),
                    plan = RequestBody("getImplPlan", "<accountid>1</accountid>");
  const struct {
    const char* what;
    Lines env;
    std::string body, answer;
  } cases[] = {
      {"MAX_REQUEST_IDS raised by a request",
       {"MAX_REQUEST_IDS=10000"},
       RequestBody("getAccount",
                   "<accountid>a</accountid><accountid>b</accountid><accountid>c</accountid>"),
       std::string(kBannerAnswer) + "|Request refused: 3 ids, over MAX_REQUEST_IDS (n)\n"},
      {"MAX_REQUEST_IDS lowered by a request",
       {"MAX_REQUEST_IDS=1"},
       RequestBody("getAccount", "<accountid>a</accountid><accountid>b</accountid>"),
       std::string(kBannerAnswer) + "|Request refused: 2 ids, over MAX_REQUEST_IDS (n)\n"},
      {"SHM_OWNER emptied by a request",
       {"SHM_OWNER="},
       account,
       kAnswerHeader + NoAccount({id}) + "|ShareMemory[" + key +
           "] refused: segment owned by uid " + uid + ", not " + other + " (SHM_OWNER)\n"},
      {"MYSQL_HOST and a longer MYSQL_CONNECT_TIMEOUT of a request",
       {"MYSQL_HOST=127.0.0.1:" + std::to_string(peers), "MYSQL_CONNECT_TIMEOUT=3600"},
       plan,
       kServed + "Connection failed: Can't connect to server on '127.0.0.1' (n)\n"},
      {"MYSQL_WRITE_HOST of a request, the worker having its own database but no write host",
       {"MYSQL_WRITE_HOST=127.0.0.1:" + std::to_string(peers)},
       RequestBody("setImplPlan", "<accountid>1</accountid><param><symbol>A</symbol></param>"),
       std::string(kBannerAnswer) +
           "|Connection failed: Can't connect to server on '127.0.0.1' (n)\n"},
      {"a TZ that names no zone file",
       {"TZ=<" + std::string(50, 'z') + ">-3"},
       kAccounts,
       kServed + "zelvora: TZ \"<" + std::string(50, 'z') +
           ">-3\" of the request names no zone of /usr/share/zoneinfo: not taken\n"},
      {"a TZ outside the zone files",
       {"TZ=/etc/localtime"},
       kAccounts,
       kServed + "zelvora: TZ \"/etc/localtime\" of the request names no zone of "
                 "/usr/share/zoneinfo: not taken\n"},
      {"a value over 4096 bytes",
       {"MYSQL_PWD=" + std::string(4097, 'p')},
       kAccounts,
       kServed + "zelvora: MYSQL_PWD of the request is longer than 4096 bytes: not taken\n"},
      {"ZELVORA_ACCESS of a request, the worker having none",
       {"ZELVORA_ACCESS=/dev/null", "REMOTE_USER=desk"},
       kAccounts,
       "Status: 500 Internal Server Error\n" + std::string(kBannerAnswer) +
           "|zelvora: ZELVORA_ACCESS of the request is not taken: a worker's grants file is set in "
           "its own environment\nzelvora: ZELVORA_ACCESS is empty: every request refused\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Unnumbered(Send(worker, {RequestEnv(c.body, c.env), c.body})), c.answer) << c.what;
  // Who calls, and what their browser sent, come from the request alone; the grants file from the
  // worker's own.
  const std::string grants = "/tmp/zelvora-access-" + id;
  std::ofstream(grants) << "desk trade *\n";
  ASSERT_EQ(chmod(grants.c_str(), 0640), 0);
  CWorker guarded({"ZELVORA_ACCESS=" + grants, "REMOTE_USER=desk", "HTTP_X_ZELVORA_REQUEST=1"});
  const std::string forbidden =
      "Status: 403 Forbidden\n" + std::string(kBannerAnswer) + "|Access refused: ";
  for (const auto& [env, body, answer] : std::vector<std::tuple<Lines, std::string, std::string>>{
           {{}, kAccounts, forbidden + "no REMOTE_USER (the web server authenticates no one)\n"},
           {{"REMOTE_USER=carol", "ZELVORA_ACCESS=/dev/null"},
            kAccounts,
            forbidden + "user carol is not in " + grants + "\n"},
           {{"REMOTE_USER=desk"},
            RequestBody("setImplPlan", "<accountid>1</accountid><param><symbol>A</symbol></param>"),
            std::string(kBannerAnswer) + "|Access refused: setImplPlan of user desk without "
                                         "X-Zelvora-Request: 1: nothing written\n"}}) {
    EXPECT_EQ(Unnumbered(Send(guarded, {RequestEnv(body, env), body})), answer)
        << ::testing::PrintToString(env);
  }
  std::remove(grants.c_str());
  pollfd peer = {listener, POLLIN, 0};
  EXPECT_EQ(poll(&peer, 1, 0), 0) << "the server a request named was never connected to";
  close(listener);
  RemoveBoardsMarked(key);
}

// Over TCP: the peers FCGI_WEB_SERVER_ADDRS lets in, and answers with a diagnostic (two writes)
// on a kept connection without waiting for the peer's delayed acknowledgement (about 40 ms
// a request: twenty take 800 ms with it).
TEST(FastCgiWorker, ServesTheWebServersListedOverTcpWithoutDelay) {
  const std::string key = UniqueKey("account"),
                    missing =
                        RequestBody("getAccount", "<accountid>" + key.substr(8) + "</accountid>");
  const struct {
    const char* what;
    std::string addresses;  // "-": unset
    int requests;
    std::string answer;  // of each request
  } cases[] = {
      {"unset: any peer", "-", 1, kServed},
      {"empty: any peer", "", 1, kServed},
      {"another address: closed unread", "127.0.0.2", 1, "(no end)"},
      {"listed among blanks", " 10.0.0.1 , 127.0.0.1 ", 1, kServed},
      {"20 answers with a diagnostic on a kept connection", "127.0.0.1", 20,
       kAnswerHeader + NoAccount({key.substr(8)}) + "|ShareMemory[" + key +
           "] open failed.\n[2] No such file or directory\n"},
  };
  for (const auto& c : cases) {
    CWorker worker(c.addresses == "-" ? Lines{} : Lines{"FCGI_WEB_SERVER_ADDRS=" + c.addresses}, 0,
                   FreePort());
    const std::string& body = c.requests > 1 ? missing : kAccounts;
    const auto start = std::chrono::steady_clock::now();
    std::string expected;
    for (int n = 0; n < c.requests; ++n) expected += c.answer;
    EXPECT_EQ(
        Send(worker, {RequestEnv(body), body, std::string::npos, true, 0, nullptr, c.requests}),
        expected)
        << c.what;
    EXPECT_LT(MsSince(start), 600) << c.what;
  }
}

// Another web application of the host, running as the web server's user, reaches the pool's
// socket (0600, that user's) as the web server does; only the server's key names a caller.
TEST(FastCgiWorker, ServesOnlyTheWebServerHoldingItsKey) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as www-data";
  const std::string key = "k" + std::to_string(getpid()) + std::string(40, 'e');
  CWorker worker({"ZELVORA_PEER_KEY=" + key});
  ASSERT_EQ(
      RunShell("chown www-data " + worker.Socket() + " && chmod 0600 " + worker.Socket()).status,
      0);
  const std::string forbidden = "Status: 403 Forbidden\n" + std::string(kBannerAnswer) +
                                "|zelvora: request refused: ZELVORA_PEER_KEY ";
  for (const auto& [what, sent, answer] :
       std::vector<std::tuple<const char*, std::string, std::string>>{
           {"no key", "", forbidden + "missing\n"},
           {"a key one byte short", "ZELVORA_PEER_KEY=" + key.substr(1),
            forbidden + "not the worker's own\n"},
           {"another key of its length", "ZELVORA_PEER_KEY=" + std::string(key.size(), 'e'),
            forbidden + "not the worker's own\n"},
           {"the key", "ZELVORA_PEER_KEY=" + key, kServed}}) {
    Lines env = RequestEnv(kAccounts, {"REMOTE_USER=desk"});
    if (!sent.empty()) env.push_back(sent);
    const ProcessResult got =
        RunProcess({"/usr/bin/setpriv",
                    {"--reuid=www-data", "--regid=www-data", "--clear-groups", "/usr/bin/cgi-fcgi",
                     "-bind", "-connect", worker.Socket()},
                    env,
                    kAccounts});
    EXPECT_EQ(got.out + "|" + got.err, answer) << "www-data sends REMOTE_USER=desk with " << what;
  }
}

TEST(FastCgiWorker, ReadsBoardsAfreshEvenWhenTheirFeederRecreatesThemAndEndsOnAStopSignal) {
  REQUIRE_PRIVATE_SHM();
  CWorker worker;
  const std::string key = UniqueKey("pricebar"), symbol = key.substr(9),
                    body = RequestBody("getPriceBar",
                                       "<symbol>" + symbol + "</symbol><period></period>");
  const std::string envelope = std::string(kAnswerHeader) + "{\"status\":0, \"data\":[";
  const std::pair<bool, std::string> steps[] = {{false, "{\"n\":1}"},
                                                {false, "{\"n\":2}"},
                                                {true, "{\"n\":3}"},
                                                {true, "{\"n\":4}"},
                                                {false, "{\"n\":5}"}};
  // Asked for before its feeder made it, a board is read once it is there.
  EXPECT_NE(Send(worker, {RequestEnv(body), body}).find("open failed."), std::string::npos);
  int kept = -1;                    // the worker's maps of boards after the first request
  for (const auto& step : steps) {  // rewritten in place, or removed and made anew
    if (step.first) RemoveBoardsMarked(key);
    ASSERT_EQ(
        WriteBoard(key, BoardImage(kPriceBarBoard.size, "     1    20", 0, "", 20, {step.second})),
        0);
    EXPECT_EQ(Send(worker, {RequestEnv(body), body}), envelope + step.second + "]}|")
        << step.second;
    if (kept < 0) kept = ShmMaps(worker.Pid());
  }
  EXPECT_EQ(ShmMaps(worker.Pid()), kept) << "the maps of a board made anew replace the old ones";
  ASSERT_EQ(sem_unlink(key.c_str()),
            0);  // only its lock made anew, and held: the worker waits on it
  sem_t* held = sem_open(key.c_str(), O_CREAT | O_EXCL, 0600, 0);
  ASSERT_NE(held, SEM_FAILED);
  EXPECT_NE(Send(worker, {RequestEnv(body, {"SHM_LOCK_MS=100"}), body})
                .find("lock held for more than 100 ms"),
            std::string::npos)
      << "the lock kept from before is not the board's";
  sem_close(held);
  ASSERT_EQ(sem_unlink(key.c_str()), 0);  // a free lock again, and the board given to another user
  sem_close(sem_open(key.c_str(), O_CREAT | O_EXCL, 0600, 1));
  const std::string segment = "/dev/shm/shm." + key;
  const Lines owned = RequestEnv(body, {"SHM_OWNER=" + std::to_string(geteuid())});
  ASSERT_EQ(chmod(segment.c_str(), 0640), 0);
  EXPECT_EQ(Send(worker, {owned, body}), envelope + "{\"n\":5}]}|");
  ASSERT_EQ(chown(segment.c_str(), geteuid() + 10, -1), 0);
  EXPECT_NE(Send(worker, {owned, body}).find("refused: segment owned by uid"), std::string::npos)
      << "a kept board is looked at anew once its file changed hands";
  for (const int signal :
       {SIGTERM, SIGINT, SIGHUP}) {  // each ends a worker after the request in hand: the body
                                     // arrives in two parts, the signal between them
    CWorker ending;
    const std::string answer =
        Send(ending, {RequestEnv(kAccounts), kAccounts, std::string::npos, true, 200, [&](int) {
                        usleep(200000);
                        kill(ending.Pid(), signal);
                        usleep(200000);
                      }});
    EXPECT_EQ(answer, kServed) << strsignal(signal);
    EXPECT_EQ(ending.Stop(false), 0) << strsignal(signal) << ": it ends by itself";
  }
  CWorker keeping;  // the signal within the parameters of a kept connection's second request
  int round = 0;
  EXPECT_EQ(Send(keeping, {RequestEnv(kAccounts), kAccounts, std::string::npos, true, 20,
                           [&](int) {
                             ++round == 2 &&
                                 (usleep(200000), kill(keeping.Pid(), SIGTERM), usleep(200000));
                           },
                           2}),
            kServed + kServed);
  EXPECT_EQ(keeping.Stop(false), 0)
      << "a worker stopped within a kept connection's request ends by itself";
}

TEST(FastCgiWorker, KeepsBoundedMapsAndLetsRemovedBoardsGo) {
  REQUIRE_PRIVATE_SHM();
  CWorker worker;
  const std::string marker = UniqueKey("account").substr(8);
  const auto record = [&](int n) {
    return "{\"AccountID\":\"" + marker + "-" + std::to_string(n) + "\"}";
  };
  const auto ask = [&](int n) {
    const std::string body = RequestBody(
        "getAccount", "<accountid>" + marker + "-" + std::to_string(n) + "</accountid>");
    return Send(worker, {RequestEnv(body), body});
  };
  for (int n = 0; n < 300; ++n) {
    ASSERT_EQ(WriteBoard("account." + marker + "-" + std::to_string(n),
                         BoardImage(kAccountBoard.size, "     1    60", 0, "", 60, {record(n)})),
              0);
    ASSERT_EQ(ask(n), std::string(kAnswerHeader) + "[{\"status\":0, \"data\":" + record(n) + "}]|")
        << n;
  }
  EXPECT_EQ(ShmMaps(worker.Pid()), 2 * 256)
      << "a segment and a semaphore for each of the boards read last";
  RemoveBoardsMarked(marker);
  for (int n = 0; n < 300; ++n) ask(n);
  EXPECT_EQ(ShmMaps(worker.Pid()), 0) << "boards removed are let go";
}

TEST(FastCgiWorker, SurvivesABoardShrunkUnderItsMapping) {
  REQUIRE_PRIVATE_SHM();
  CWorker worker;
  const std::string key = UniqueKey("pricebar"),
                    body = RequestBody("getPriceBar",
                                       "<symbol>" + key.substr(9) + "</symbol><period></period>");
  const std::string read = std::string(kAnswerHeader) + "{\"status\":0, \"data\":[{}]}|";
  const std::string image = BoardImage(kPriceBarBoard.size, "     1172000", 0, "", 172000, {"{}"});
  ASSERT_EQ(WriteBoard(key, image), 0);
  ASSERT_EQ(Send(worker, {RequestEnv(body), body}), read);
  std::atomic<bool> done{false};
  std::thread shrinker([&] {  // a writer that ignores the lock
    while (!done)
      truncate(("/dev/shm/shm." + key).c_str(), 4096),
          truncate(("/dev/shm/shm." + key).c_str(), 176128);
  });
  std::string failed;
  for (int n = 0; n < 2000 && failed.empty(); ++n) {
    const std::string answer = Send(worker, {RequestEnv(body), body});
    if (answer.rfind(kAnswerHeader, 0) != 0)
      failed = "request " + std::to_string(n) + ": " + answer;
  }
  done = true;
  shrinker.join();
  EXPECT_EQ(failed, "")
      << "each request answered: read, refused as too short, or torn by the writer";
  std::ofstream("/dev/shm/shm." + key) << image;  // whole again
  EXPECT_EQ(Send(worker, {RequestEnv(body), body}), read) << "served again, the lock free";
}

// A database server of the test's own, whose connection count no other test moves.
ProcessResult Db(const std::string& command, int port) {
  return RunShell("ZELVORA_DB_DIR=/tmp/zelvora-fcgi-db-" + std::to_string(port) +
                  " ZELVORA_DB_PORT=" + std::to_string(port) +
                  " " ZELVORA_SOURCE_DIR "/scripts/db-local " + command);
}

TEST(FastCgiWorker, KeepsOneConnectionAcrossRequests) {
  REQUIRE_PRIVATE_SHM();
  const int port = FreePort();
  const struct Removed {
    int port;
    ~Removed() { Db("remove", port); }
  } removed{port};  // however the test ends
  ASSERT_EQ(Db("start", port).status, 0);
  ASSERT_EQ(Db("sql -e \"INSERT INTO \\`ImplPlan\\` (AccountID, Symbol, IP1) VALUES ('7', "
               "'EURUSD', '0.5')\"",
               port)
                .status,
            0);
  const std::string body = RequestBody("getImplPlan", "<accountid>7</accountid>"),
                    write = RequestBody(
                        "setImplPlan",
                        "<accountid>7</accountid><param><symbol>EURUSD</symbol></param>");
  const auto ask = [port](const CWorker& worker, const std::string& request) {
    return Send(worker, {RequestEnv(request, {"MYSQL_HOST=127.0.0.1:" + std::to_string(port),
                                              "MYSQL_USER=zelvora", "MYSQL_PWD=zelvora-local",
                                              "MYSQL_DB=zelvora"}),
                         request});
  };
  const std::string plan = kAnswerHeader + ("[" + PlanJson("EURUSD", {"0.5"}) + "]|");
  auto status = [&](const std::string& name) {
    return std::stol(
        Db("sql -N -e \"SHOW GLOBAL STATUS LIKE '" + name + "'\" | cut -f2", port).out);
  };
  CWorker workers[2];
  const long pings = status("Com_admin_commands"), before = status("Connections");
  for (int n = 0; n < 1000; ++n) ASSERT_EQ(ask(workers[n % 2], body), plan) << "request " << n;
  EXPECT_LE(status("Connections") - before, 3) << "two workers' connections and the count's own";
  EXPECT_EQ(status("Com_admin_commands") - pings, 0)
      << "no request asks the server whether its kept connection lives";
  // Restarted between two requests, the server gets one new connection from each of them, and no
  // request fails.
  ASSERT_EQ(ask(workers[0], write), std::string(kAnswerHeader) + "ok|");
  ASSERT_EQ(Db("stop", port).status, 0);
  ASSERT_EQ(Db("start", port).status, 0);
  const long restarted = status("Connections");
  EXPECT_EQ(ask(workers[0], body) + ask(workers[1], body) + ask(workers[0], write),
            plan + plan + kAnswerHeader + "ok|");
  EXPECT_EQ(status("Connections") - restarted, 4)
      << "each worker's reads, one worker's writes, and the count's own";
}

}  // namespace
