// The program as the desk runs it: the demo desk (scripts/demo: sample
// database, boards, feeder, lighttpd) and nginx with fcgiwrap in front of
// the same build, asked over real HTTP on loopback.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

#include "shm/Board.h"
#include "shm/ShareMemory.h"
#include "support/Boards.h"
#include "support/Http.h"
#include "support/Process.h"
#include "support/Text.h"

namespace {

const char kPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
const char kBanner[] = "Zelvora 1.0 - foreign-exchange desk service\n";

struct Desk {
  int port = 0;       // lighttpd
  int nginxPort = 0;  // nginx + fcgiwrap
  int dbPort = 0;
  std::string state;  // the demo's state folder
  std::string dbDir;
  std::vector<std::string> cgiEnv;  // what both servers hand the program
  pid_t fcgiwrap = -1;
  pid_t nginx = -1;
};

Desk desk;

std::string Request(const std::string& method, const std::string& params) {
  return "<zelvora><method>" + method + "</method><params>" + params + "</params></zelvora>";
}

ProcessResult Script(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
  ProcessLaunch launch;
  launch.program = "/bin/bash";
  launch.args = args;
  launch.env = {std::string("PATH=") + kPath, "HOME=/root", "TZ=Asia/Tokyo",
              "PORT=" + std::to_string(desk.port), "ZELVORA_DEMO_DIR=" + desk.state,
              "ZELVORA_DB_DIR=" + desk.dbDir, "ZELVORA_DB_PORT=" + std::to_string(desk.dbPort),
              std::string("ZELVORA_BUILD_DIR=") + ZELVORA_BUILD_DIR};
  launch.env.insert(launch.env.end(), env.begin(), env.end());
  return RunProcess(launch);
}

// Starts a server in a process group of its own, its output in `log`.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void StartNginx() {
  std::vector<std::string> env = desk.cgiEnv;
  env.push_back("ZELVORA_PORT=" + std::to_string(desk.nginxPort));
  env.push_back("ZELVORA_STATE=" + desk.state);
  env.push_back("ZELVORA_USER=root");
  env.push_back(std::string("ZELVORA_DIR=") + ZELVORA_BUILD_DIR);
  const ProcessResult config =
      Script({std::string(ZELVORA_SOURCE_DIR) + "/deploy/render",
              std::string(ZELVORA_SOURCE_DIR) + "/deploy/nginx.conf"},
             env);
  ASSERT_EQ(config.status, 0) << config.err;
  std::ofstream(desk.state + "/nginx.conf") << config.out;
  desk.fcgiwrap = Spawn({"/usr/sbin/fcgiwrap", "-c", "4", "-s", "unix:" + desk.state + "/fcgiwrap.sock"},
                        desk.state + "/fcgiwrap.log");
  desk.nginx = Spawn({"/usr/sbin/nginx", "-c", desk.state + "/nginx.conf", "-g", "daemon off;"},
                     desk.state + "/nginx.log");
  for (int i = 0; i < 100 && !HttpPost(desk.nginxPort, "/", "").ok; ++i) usleep(50000);
}

class DeskEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    desk.port = FreePort();
    desk.nginxPort = FreePort();
    desk.dbPort = FreePort();
    desk.state = "/tmp/zelvora-e2e-" + std::to_string(getpid());
    desk.dbDir = desk.state + "-db";
    const ProcessResult start = Script({std::string(ZELVORA_SOURCE_DIR) + "/scripts/demo", "start"});
    ASSERT_EQ(start.status, 0) << start.out << start.err;
    desk.cgiEnv = {"MAX_CONTENT_LENGTH=16384", "SHM_SEL_DB=1", "TZ=Asia/Tokyo",
                   "MYSQL_HOST=127.0.0.1:" + std::to_string(desk.dbPort), "MYSQL_USER=zelvora",
                   "MYSQL_PWD=zelvora-local", "MYSQL_DB=zelvora"};
    StartNginx();
  }
  void TearDown() override {
    // Whole groups: nginx's workers and fcgiwrap's children (which do not
    // heed SIGTERM) go too.
    for (pid_t pid : {desk.nginx, desk.fcgiwrap}) {
      if (pid <= 0) continue;
      kill(-pid, SIGTERM);
      usleep(200000);
      kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    Script({std::string(ZELVORA_SOURCE_DIR) + "/scripts/demo", "stop"});
    RemoveBoardsMarked("account.9999");  // asked for, never a board
  }
};

::testing::Environment* const kDesk = ::testing::AddGlobalTestEnvironment(new DeskEnvironment);

// The answer the program gives when run directly with the servers' environment.
std::string DirectAnswer(const std::string& body) {
  ProcessLaunch launch;
  launch.program = std::string(ZELVORA_BUILD_DIR) + "/zelvora.cgi";
  launch.env = desk.cgiEnv;
  launch.env.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  launch.input = body;
  const std::string out = RunProcess(launch).out;
  const std::string header = "Content-Type: text/plain \n\n";
  return StartsWith(out, header) ? out.substr(header.size()) : "(unexpected) " + out;
}

// The records of a board, as zelvora-board shows them.
std::vector<std::string> BoardRecords(const std::string& key) {
  ProcessLaunch launch;
  launch.program = std::string(ZELVORA_BUILD_DIR) + "/zelvora-board";
  launch.args = {"dump", key};
  const ProcessResult dump = RunProcess(launch);
  std::vector<std::string> records;
  size_t at = 0;
  for (auto next = dump.out.find('\n'); next != std::string::npos; next = dump.out.find('\n', at)) {
    const std::string line = dump.out.substr(at, next - at);
    const auto blank = line.find(' ');
    if (!line.empty() && isdigit(static_cast<unsigned char>(line[0])) && blank != std::string::npos) {
      records.push_back(line.substr(blank + 1));
    }
    at = next + 1;
  }
  return records;
}

std::string Joined(const std::vector<std::string>& records) {
  std::string text;
  for (const auto& record : records) text += (text.empty() ? "" : ",") + record;
  return text;
}

void ExpectServed(const HttpResponse& response, const std::string& body, const std::string& what) {
  ASSERT_TRUE(response.ok) << what;
  EXPECT_EQ(response.statusLine, "HTTP/1.0 200 OK") << what;
  EXPECT_EQ(HeaderValue(response, "Content-Type"), "text/plain ") << what;
  EXPECT_EQ(HeaderValue(response, "Content-Length"), std::to_string(response.body.size())) << what;
  EXPECT_NE(HeaderValue(response, "Date"), "(none)") << what;
  EXPECT_EQ(response.body, body) << what;
}

TEST(EndToEnd, LiveMethodsAnswerFromTheDemoBoards) {
  const std::string account = Joined(BoardRecords("account.1001"));
  ASSERT_FALSE(account.empty());
  ExpectServed(HttpPost(desk.port, "/zelvora.cgi", Request("getAccount", "<accountid>1001</accountid>")),
               "[{\"status\":0, \"data\":" + account + "}]", "getAccount");
  ExpectServed(HttpPost(desk.port, "/zelvora.cgi", Request("getOpenTrade", "<accountid>1001</accountid>")),
               "{\"status\":0, \"data\":[" + Joined(BoardRecords("trade.1001")) + "]}", "getOpenTrade");
  ExpectServed(HttpPost(desk.port, "/zelvora.cgi",
                        Request("getPriceBar", "<symbol>EUR/USD</symbol><period>M1</period>")),
               "{\"status\":0, \"data\":[" + Joined(BoardRecords("pricebar.EURUSDM1")) + "]}",
               "getPriceBar");
  // An account with no board falls back to the database.
  ExpectServed(HttpPost(desk.port, "/zelvora.cgi", Request("getAccount", "<accountid>9999</accountid>")),
               "[]", "getAccount without board or row");
}

TEST(EndToEnd, EveryMethodAnswersThroughTheServerAsTheProgramDoes) {
  const char* const requests[][2] = {
      {"getAccount", "<accountid>1001</accountid><accountid>1002</accountid><accountid>2001</accountid>"},
      {"getOpenTrade", "<accountid>1002</accountid>"},
      {"getOpenTradeA", "<accountid>1002</accountid>"},
      {"getClosedTrade", "<accountid>1001</accountid><startdate>2026/01/01 00:00:00</startdate>"},
      {"getReport", "<rpttype>1</rpttype><accountid>1001</accountid><grouping><g>1</g><g>3</g></grouping>"},
      {"getReport", "<rpttype>2</rpttype><accountid>1002</accountid>"},
      {"getReport", "<rpttype>2</rpttype><accountid>1002</accountid><maxcounts>1</maxcounts>"},
      {"getReport", "<rpttype>2</rpttype><accountid>0</accountid>"},
      {"getImplPlan", "<accountid>1001</accountid>"},
      {"getPriceBar", "<symbol>USDJPY</symbol><period>H1</period>"},
  };
  for (const auto& request : requests) {
    const std::string body = Request(request[0], request[1]);
    const std::string direct = DirectAnswer(body);
    EXPECT_GT(direct.size(), 2u) << body;
    ExpectServed(HttpPost(desk.port, "/zelvora.cgi", body), direct, body);
  }
}

TEST(EndToEnd, ImplPlansAreWrittenThroughTheServer) {
  ExpectServed(HttpPost(desk.port, "/zelvora.cgi",
                        Request("setImplPlan", "<accountid>1002</accountid><param><symbol>GBPJPY</symbol>"
                                               "<ip3>7.5</ip3><loginid>e2e</loginid></param>")),
               "ok", "setImplPlan");
  const HttpResponse plans = HttpPost(desk.port, "/zelvora.cgi", Request("getImplPlan", "<accountid>1002</accountid>"));
  EXPECT_TRUE(StartsWith(plans.body, "[{\"Symbol\":\"GBPJPY\",\"IP1\":\"7.5\",\"IP2\":\"2.0\"")) << plans.body;
}

TEST(EndToEnd, RequestsThatCannotBeServedGetTheBanner) {
  const std::string bodies[] = {
      Request("getOrders", ""), "not markup at all", "<zelvora></zelvora>",
      Request("getAccount", std::string(16400, ' ')),  // over MAX_CONTENT_LENGTH
  };
  for (const std::string& body : bodies) {
    ExpectServed(HttpPost(desk.port, "/zelvora.cgi", body), kBanner, body.substr(0, 40));
  }
  // Over the server's own limit: refused before the program runs.
  const HttpResponse tooLarge = HttpPost(desk.port, "/zelvora.cgi", std::string(70000, 'x'));
  EXPECT_TRUE(StartsWith(tooLarge.statusLine, "HTTP/1.0 413")) << tooLarge.statusLine;
  // Nothing but the program is served.
  EXPECT_TRUE(StartsWith(HttpPost(desk.port, "/libmysqlpp.so", "").statusLine, "HTTP/1.0 403"));
}

TEST(EndToEnd, TheFeederMovesTheOffers) {
  const std::string body = Request("getOffer", "<symbol>EURUSD</symbol><symbol>USDJPY</symbol>");
  const HttpResponse before = HttpPost(desk.port, "/zelvora.cgi", body);
  // The feeder writes once a second; a busy machine may delay it a little.
  HttpResponse after;
  for (int wait = 0; wait < 10; ++wait) {
    usleep(1000000);
    after = HttpPost(desk.port, "/zelvora.cgi", body);
    if (after.body != before.body) break;
  }
  for (const std::string& answer : {before.body, after.body}) {
    EXPECT_TRUE(StartsWith(answer, "{\"status\":0, \"data\":[{\"OfferID\":\"1\",\"Symbol\":\"EURUSD\",")) << answer;
    EXPECT_NE(answer.find("},{\"OfferID\":\"2\",\"Symbol\":\"USDJPY\","), std::string::npos) << answer;
  }
  EXPECT_NE(before.body, after.body);
}

TEST(EndToEnd, NginxWithFcgiwrapServesTheSameAnswers) {
  for (const std::string& body :
       {Request("getAccount", "<accountid>1001</accountid>"), Request("getImplPlan", "<accountid>1001</accountid>"),
        Request("getClosedTrade", "<accountid>2001</accountid>"), std::string("not markup")}) {
    const HttpResponse lighttpd = HttpPost(desk.port, "/zelvora.cgi", body);
    const HttpResponse nginx = HttpPost(desk.nginxPort, "/zelvora.cgi", body);
    ASSERT_TRUE(nginx.ok) << body;
    EXPECT_EQ(nginx.statusLine, "HTTP/1.1 200 OK") << body;
    EXPECT_EQ(HeaderValue(nginx, "Content-Type"), "text/plain") << body;
    EXPECT_EQ(nginx.body, lighttpd.body) << body;
  }
  EXPECT_TRUE(StartsWith(HttpPost(desk.nginxPort, "/zelvora.cgi", std::string(70000, 'x')).statusLine,
                         "HTTP/1.1 413"));
  EXPECT_TRUE(StartsWith(HttpPost(desk.nginxPort, "/libmysqlpp.so", "").statusLine, "HTTP/1.1 404"));
}

TEST(EndToEnd, ApacheConfigurationPassesItsCheck) {
  std::vector<std::string> env = desk.cgiEnv;
  env.insert(env.end(), {"ZELVORA_PORT=1", "ZELVORA_STATE=" + desk.state, "ZELVORA_USER=www-data",
                         "ZELVORA_GROUP=www-data", std::string("ZELVORA_DIR=") + ZELVORA_BUILD_DIR});
  const ProcessResult config = Script({std::string(ZELVORA_SOURCE_DIR) + "/deploy/render",
                                       std::string(ZELVORA_SOURCE_DIR) + "/deploy/apache.conf"},
                                      env);
  ASSERT_EQ(config.status, 0) << config.err;
  std::ofstream(desk.state + "/apache.conf") << config.out;
  const ProcessResult check = Script({"-c", "apachectl -t -f " + desk.state + "/apache.conf"});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE((check.out + check.err).find("Syntax OK"), std::string::npos) << check.err;
}

// The demo's own entries in /dev/shm, without those of tests running beside.
std::set<std::string> SharedMemoryEntries() {
  std::set<std::string> names;
  if (DIR* dir = opendir("/dev/shm")) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.find(".zt") == std::string::npos && name.find(".zs") == std::string::npos &&
          name.find(".Z") == std::string::npos && name.find(".Q") == std::string::npos &&
          name != "." && name != "..") {
        names.insert(name);
      }
    }
    closedir(dir);
  }
  return names;
}

int ChildrenOf(pid_t parent) {
  int children = 0;
  if (DIR* dir = opendir("/proc")) {
    while (const dirent* entry = readdir(dir)) {
      std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
      std::string pid, comm, state;
      long ppid = 0;
      if (stat >> pid >> comm >> state >> ppid && ppid == parent) ++children;
    }
    closedir(dir);
  }
  return children;
}

// Rewrites the offer board, record by record under its semaphore, with one
// generation number in every record of a write.
void WriteGenerations(std::atomic<bool>& stop, std::atomic<long>& written) {
  CShareMemory memory;
  if (memory.Open("offer", 64032, false, false) != 0) return;
  const int32_t recordSize = 60;
  std::string index = "{";
  for (int i = 0; i < 12; ++i) index += (i ? ",\"S" : "\"S") + std::to_string(i) + "\":" + std::to_string(i);
  index += "}";
  index.resize(4000, ' ');
  for (long generation = 1; !stop; ++generation) {
    memory.Lock();
    memory.Write(kBoardHeaderSize, index.data(), 4000, false);
    for (int i = 0; i < 12; ++i) {
      std::string record = "{\"Symbol\":\"S" + std::to_string(i) + "\",\"Gen\":" + std::to_string(generation) + "}";
      record.resize(recordSize, ' ');
      memory.Write(kBoardHeaderSize + 4000 + i * recordSize, record.data(), recordSize, false);
    }
    memory.Write(0, FormatBoardHeader(12, recordSize).data(), kBoardHeaderSize, false);
    memory.Unlock();
    written = generation;
    usleep(200);
  }
}

// Every "Gen" in an answer; empty when the answer is not a whole envelope.
std::set<long> Generations(const std::string& body, size_t* records) {
  std::set<long> found;
  *records = 0;
  if (!StartsWith(body, "{\"status\":0, \"data\":[") || !EndsWith(body, "]}")) return found;
  for (auto at = body.find("\"Gen\":"); at != std::string::npos; at = body.find("\"Gen\":", at + 1)) {
    found.insert(std::strtol(body.c_str() + at + 6, nullptr, 10));
    ++*records;
  }
  return found;
}

TEST(EndToEndLoad, SixteenClientsNeverSeeHalfAWrite) {
  std::ifstream pidFile(desk.state + "/feeder.pid");
  pid_t feeder = 0;
  ASSERT_TRUE(pidFile >> feeder);
  kill(feeder, SIGTERM);
  usleep(300000);
  const std::set<std::string> entriesBefore = SharedMemoryEntries();

  std::atomic<bool> stop{false};
  std::atomic<long> written{0};
  std::thread writer(WriteGenerations, std::ref(stop), std::ref(written));
  const int kClients = 16, kEach = 130;
  std::atomic<int> served{0}, broken{0}, mixed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int n = 0; n < kEach; ++n) {
        const bool all = (n + c) % 2 == 0;
        const std::string body = Request("getOffer", all ? "" : "<symbol>S3</symbol><symbol>S7</symbol>");
        const HttpResponse response = HttpPost(desk.port, "/zelvora.cgi", body);
        size_t records = 0;
        const std::set<long> generations = Generations(response.body, &records);
        if (!response.ok || response.statusLine != "HTTP/1.0 200 OK" || records != (all ? 12u : 2u)) {
          ++broken;
        } else if (generations.size() != 1) {
          ++mixed;
        }
        ++served;
      }
    });
  }
  for (auto& client : clients) client.join();
  stop = true;
  writer.join();

  EXPECT_EQ(served, kClients * kEach);
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(mixed, 0);
  EXPECT_GT(written, 20);  // the board really changed underneath
  std::printf("%d requests from %d clients, %ld board writes meanwhile\n", served.load(), kClients,
              written.load());

  std::ifstream lighttpdPid(desk.state + "/lighttpd.pid");
  pid_t lighttpd = 0;
  ASSERT_TRUE(lighttpdPid >> lighttpd);
  int left = ChildrenOf(lighttpd);
  for (int i = 0; i < 50 && left > 0; ++i) {
    usleep(100000);
    left = ChildrenOf(lighttpd);
  }
  EXPECT_EQ(left, 0);
  EXPECT_EQ(SharedMemoryEntries(), entriesBefore);
}

}  // namespace
