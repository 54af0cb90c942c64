// The program as the desk runs it: the demo desk (scripts/demo: sample
// database, boards, feeder, lighttpd) and nginx with fcgiwrap in front of
// the same build, asked with curl over loopback. Expected answers come from
// the demo's boards and database, read here.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/Desk.h"

extern char** environ;

namespace {

const char kBanner[] = "Zelvora 1.0 - foreign-exchange desk service\n";

// ZELVORA_INSTALLED set: the installed package's files, not the build's.
const bool kInstalled = std::getenv("ZELVORA_INSTALLED") != nullptr;
const std::string kProgram = kInstalled ? "/usr/lib/cgi-bin/zelvora.cgi" : ZELVORA_BUILD_DIR "/zelvora.cgi";
const std::string kBoardTool = kInstalled ? "/usr/bin/zelvora-board" : ZELVORA_BUILD_DIR "/zelvora-board";

struct Desk {
  int port = 0, nginxPort = 0, dbPort = 0;
  std::string state, dbDir;
  pid_t fcgiwrap = -1, nginx = -1, pool = -1;
} desk;

struct Http {
  std::string status;  // the status line without its end
  std::string headers, body;
};

// POSTs `body` as HTTP/1.0 and keeps every byte of the answer.
Http Post(int port, const std::string& body, const std::string& path = "/zelvora.cgi") {
  const ProcessResult result = RunShell("curl -sS -i --http1.0 -u desk:demo -H 'Content-Type: text/xml' --data-binary @- http://127.0.0.1:" + std::to_string(port) + path, body);
  const auto head = result.out.find("\r\n\r\n"), line = result.out.find("\r\n");
  if (result.status != 0 || head == std::string::npos) return {"(no answer) " + result.err, "", ""};
  return {result.out.substr(0, line), result.out.substr(line + 2, head - line), result.out.substr(head + 4)};
}

ProcessResult Script(const std::string& command) {
  return RunShell("export PORT=" + std::to_string(desk.port) + " ZELVORA_DEMO_DIR=" + desk.state + " ZELVORA_DB_DIR=" + desk.dbDir + " ZELVORA_DB_PORT=" + std::to_string(desk.dbPort) +
                  " ZELVORA_BUILD_DIR=" ZELVORA_BUILD_DIR " ZELVORA_DIR=" + kProgram.substr(0, kProgram.rfind('/')) + " ZELVORA_STATE=" + desk.state + " ZELVORA_HTPASSWD=" + desk.state + "/htpasswd MAX_CONTENT_LENGTH=16384 SHM_SEL_DB=1 SHM_LOCK_MS=1000 SHM_OWNER=$(id -un) TZ=Asia/Tokyo; " + command);
}

// Starts a server in a process group of its own, its output in `log`.
pid_t Spawn(const std::string& command, const std::string& log) {
  ProcessLaunch launch{"/bin/sh", {"-c", "exec " + command}, {}, ""};
  for (char** var = environ; *var != nullptr; ++var) launch.env.push_back(*var);
  return StartProcess(launch, log);
}

class DeskEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    REQUIRE_PRIVATE_SHM();
    for (int* port : {&desk.port, &desk.nginxPort, &desk.dbPort}) *port = FreePort();
    desk.state = "/tmp/zelvora-e2e-" + std::to_string(getpid());
    desk.dbDir = desk.state + "-db";
    const ProcessResult start = Script(ZELVORA_SOURCE_DIR "/scripts/demo start");
    ASSERT_EQ(start.status, 0) << start.out << start.err;
    // The tests' own look at the demo's database.
    setenv("MYSQL_HOST", ("127.0.0.1:" + std::to_string(desk.dbPort)).c_str(), 1);
    setenv("MYSQL_USER", "zelvora", 1);
    setenv("MYSQL_PWD", "zelvora-local", 1);
    setenv("MYSQL_DB", "zelvora", 1);
    const std::string db = " MYSQL_HOST=$MYSQL_HOST MYSQL_USER=$MYSQL_USER MYSQL_PWD=$MYSQL_PWD MYSQL_DB=$MYSQL_DB";
    const ProcessResult config = Script("ZELVORA_USER=root ZELVORA_PORT=" + std::to_string(desk.nginxPort) + db + " " ZELVORA_SOURCE_DIR "/deploy/render " ZELVORA_SOURCE_DIR "/deploy/nginx.conf >" + desk.state + "/nginx.conf");
    ASSERT_EQ(config.status, 0) << config.err;
    desk.fcgiwrap = Spawn("/usr/sbin/fcgiwrap -c 4 -s unix:" + desk.state + "/fcgiwrap.sock", desk.state + "/fcgiwrap.log");
    // The worker pool as deploy/zelvora.service runs it, on a socket spawn-fcgi makes.
    desk.pool = Spawn("/usr/bin/spawn-fcgi -n -s " + desk.state + "/zelvora.sock -- /bin/bash -c 'for i in 1 2; do \"$0\" <&0 & done; wait' " + kProgram, desk.state + "/pool.log");
    desk.nginx = Spawn("/usr/sbin/nginx -c " + desk.state + "/nginx.conf -g 'daemon off;'", desk.state + "/nginx.log");
    for (int i = 0; i < 100 && Post(desk.nginxPort, "").status.rfind("HTTP", 0) != 0; ++i) usleep(50000);
  }
  void TearDown() override {
    // Whole groups: nginx's workers and fcgiwrap's children (which do not heed SIGTERM) go too.
    for (pid_t pid : {desk.nginx, desk.fcgiwrap, desk.pool}) {
      if (pid > 0) StopProcess(pid, 200);
    }
    Script(ZELVORA_SOURCE_DIR "/scripts/demo stop && " ZELVORA_SOURCE_DIR "/scripts/db-local remove && rm -rf " + desk.state);
    RemoveBoardsMarked("account.9999");  // asked for, never a board
  }
};

::testing::Environment* const kDesk = ::testing::AddGlobalTestEnvironment(new DeskEnvironment);

// The records of a board, as zelvora-board shows them, joined with commas.
std::string BoardRecords(const std::string& key) {
  const ProcessResult dump = RunShell(kBoardTool + " dump " + key + " | sed -n 's/^[0-9][0-9]* //p' | paste -sd,");
  return dump.out.substr(0, dump.out.size() - (dump.out.empty() ? 0 : 1));
}

void ExpectServed(const Http& http, const std::string& body, const std::string& what) {
  EXPECT_EQ(http.status.substr(9), "200 OK") << what;
  EXPECT_NE(http.headers.find("Content-Type: text/plain"), std::string::npos) << what << http.headers;
  const bool sized = http.headers.find("Content-Length: ") == std::string::npos || http.headers.find("Content-Length: " + std::to_string(http.body.size()) + "\r\n") != std::string::npos;
  EXPECT_TRUE(sized) << what << http.headers;
  EXPECT_EQ(http.body, body) << what;
}

// A column of a query's rows, joined with commas.
std::string Column(const std::string& sql) {
  std::string joined;
  for (const std::string& row : QueryRows(sql)) joined += (joined.empty() ? "" : ",") + row;
  return joined;
}

// The values of `member` in an answer, joined with commas.
std::string Members(const std::string& answer, const std::string& member) {
  std::string joined;
  const std::string key = "\"" + member + "\":";
  for (auto at = answer.find(key); at != std::string::npos; at = answer.find(key, at + 1)) {
    size_t from = at + key.size(), to = answer.find_first_of(",}", from);
    std::string value = answer.substr(from, to - from);
    if (value.front() == '"') value = value.substr(1, value.size() - 2);
    joined += (joined.empty() ? "" : ",") + value;
  }
  return joined;
}

// Every case runs through each of these: both servers, both modes.
struct Endpoint {
  const char* name;
  const int& port;
  const char* path;
} const kEndpoints[] = {{"lighttpd CGI", desk.port, "/zelvora.cgi"}, {"lighttpd FastCGI", desk.port, "/zelvora.fcgi"}, {"nginx CGI", desk.nginxPort, "/zelvora.cgi"}, {"nginx FastCGI", desk.nginxPort, "/zelvora.fcgi"}};

TEST(EndToEnd, LiveMethodsAnswerFromTheDemoBoards) {
  ASSERT_FALSE(BoardRecords("account.1001").empty());
  for (const Endpoint& e : kEndpoints) {
    ExpectServed(Post(e.port, RequestBody("getAccount", "<accountid>1001</accountid>"), e.path), "[{\"status\":0, \"data\":" + BoardRecords("account.1001") + "}]", e.name);
    ExpectServed(Post(e.port, RequestBody("getOpenTrade", "<accountid>1001</accountid>"), e.path), "{\"status\":0, \"data\":[" + BoardRecords("trade.1001") + "]}", e.name);
    ExpectServed(Post(e.port, RequestBody("getPriceBar", "<symbol>EUR/USD</symbol><period>M1</period>"), e.path), "{\"status\":0, \"data\":[" + BoardRecords("pricebar.EURUSDM1") + "]}", e.name);
    ExpectServed(Post(e.port, RequestBody("getAccount", "<accountid>9999</accountid>"), e.path), "[]", e.name);  // no board, no row
    const std::string offers = Post(e.port, RequestBody("getOffer", ""), e.path).body;
    EXPECT_EQ(Members(offers, "Symbol"), Column("SELECT Symbol FROM `Offer` ORDER BY OfferID")) << e.name;
  }
}

TEST(EndToEnd, DatabaseMethodsReadAndWriteTheSampleDesk) {
  const std::string trades = Column("SELECT count(*) FROM `Trade` WHERE AccountID='1002'");
  for (const Endpoint& e : kEndpoints) {
    EXPECT_EQ(Members(Post(e.port, RequestBody("getClosedTrade", "<accountid>1001</accountid>"), e.path).body, "TradeID"), Column("SELECT TradeID FROM `Trade` WHERE AccountID='1001' AND CloseOrderID!='' ORDER BY TradeID")) << e.name;
    ExpectServed(Post(e.port, RequestBody("getReport", "<rpttype>2</rpttype><accountid>1002</accountid><maxcounts>" + std::to_string(std::stoi(trades) - 1) + "</maxcounts>"), e.path), "msg_counts_over", e.name);
    const std::string open = Post(e.port, RequestBody("getOpenTradeA", "<accountid>1002</accountid>"), e.path).body;
    EXPECT_EQ(Members(open.substr(open.find("\"data2\"")), "TradeID"), Column("SELECT Ts.TradeID FROM `Trade` T, `TsContext` Ts WHERE T.AccountId=Ts.AccountId AND T.TradeID=Ts.TradeID AND T.AccountId='1002' AND T.CloseOrderID='' AND Ts.TradeMethodName!=''")) << e.name;
    // Plans written through the server are in the table and come back.
    const std::string value = std::to_string(&e - kEndpoints) + ".5";
    ExpectServed(Post(e.port, RequestBody("setImplPlan", "<accountid>1002</accountid><param><symbol>GBPJPY</symbol><ip3>" + value + "</ip3><loginid>e2e</loginid></param>"), e.path), "ok", e.name);
    EXPECT_EQ(Column("SELECT CONCAT(IP1, '|', upd_user_id) FROM `ImplPlan` WHERE AccountID='1002' AND Symbol='GBPJPY'"), value + "|e2e") << e.name;
    EXPECT_NE(Post(e.port, RequestBody("getImplPlan", "<accountid>1002</accountid>"), e.path).body.find("{\"Symbol\":\"GBPJPY\",\"IP1\":\"" + value + "\""), std::string::npos) << e.name;
  }
}

TEST(EndToEnd, RequestsThatCannotBeServedGetTheBanner) {
  for (const Endpoint& e : kEndpoints) {
    for (const std::string& body : {RequestBody("getOrders", ""), std::string("not markup at all"), std::string("<zelvora></zelvora>"), RequestBody("getAccount", std::string(16400, ' '))}) {
      ExpectServed(Post(e.port, body, e.path), kBanner, std::string(e.name) + " " + body.substr(0, 40));
    }
    EXPECT_EQ(Post(e.port, std::string(70000, 'x'), e.path).status.substr(9, 3), "413") << e.name << ": over the server's own limit";
    const std::string anonymous = "curl -s -o /dev/null -w '%{http_code}' --data-binary @- http://127.0.0.1:" + std::to_string(e.port) + e.path;
    EXPECT_EQ(RunShell(anonymous, RequestBody("getImplPlan", "<accountid>1001</accountid>")).out, "401") << e.name << ": who calls must say who they are";
  }
  EXPECT_EQ(Post(desk.port, "", "/libmysqlpp.so").status.substr(9, 3), "403") << "nothing but the program is served";
  EXPECT_EQ(Post(desk.nginxPort, "", "/libmysqlpp.so").status.substr(9, 3), "404");
}

TEST(EndToEnd, ApacheAndSystemdConfigurationsPassTheirChecks) {
  const ProcessResult check = Script("ZELVORA_PORT=1 ZELVORA_USER=www-data ZELVORA_GROUP=www-data MYSQL_HOST=h MYSQL_USER=u MYSQL_PWD=p MYSQL_DB=d " ZELVORA_SOURCE_DIR "/deploy/render " ZELVORA_SOURCE_DIR "/deploy/apache.conf >" + desk.state +
                                     "/apache.conf && apachectl -t -f " + desk.state + "/apache.conf");
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE((check.out + check.err).find("Syntax OK"), std::string::npos) << check.err;
  const std::string units = "ZELVORA_STATE=/run/zelvora ZELVORA_DIR=/usr/lib/cgi-bin ZELVORA_USER=www-data ZELVORA_GROUP=www-data ZELVORA_ENV_FILE=/etc/zelvora/zelvora.env; for unit in zelvora.socket zelvora.service; do " ZELVORA_SOURCE_DIR "/deploy/render " ZELVORA_SOURCE_DIR "/deploy/$unit >" + desk.state + "/$unit || exit 1; done; ";
  if (RunShell("command -v systemd-analyze").status != 0) GTEST_SKIP() << "no systemd-analyze here";
  const ProcessResult verify = Script("export " + units + "systemd-analyze verify " + desk.state + "/zelvora.socket " + desk.state + "/zelvora.service");
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

TEST(EndToEnd, OffersMoveAndNothingIsLeftBehind) {
  const std::string body = RequestBody("getOffer", "<symbol>EURUSD</symbol><symbol>USDJPY</symbol>");
  const std::string shm = "ls /dev/shm | grep -v '[.]z' || true", entries = RunShell(shm).out, before = Post(desk.port, body).body;
  std::string after = before;
  for (int wait = 0; wait < 10 && after == before; ++wait) {  // the feeder writes once a second; a busy machine may delay it
    usleep(1000000);
    after = Post(desk.port, body).body;
  }
  for (const std::string& answer : {before, after}) {
    EXPECT_EQ(answer.rfind("{\"status\":0, \"data\":[{\"OfferID\":\"1\",\"Symbol\":\"EURUSD\",", 0), 0u) << answer;
    EXPECT_NE(answer.find("},{\"OfferID\":\"2\",\"Symbol\":\"USDJPY\","), std::string::npos) << answer;
  }
  EXPECT_NE(before, after) << "the feeder moves the offers";
  for (const Endpoint& e : kEndpoints) {
    std::string urls;  // fifty at once
    for (int n = 0; n < 50; ++n) urls += " -o /dev/null http://127.0.0.1:" + std::to_string(e.port) + e.path;
    EXPECT_EQ(RunShell("curl -sS -Z --http1.0 -u desk:demo -w '%{http_code} ' --data-binary @-" + urls, body).out, RunShell("printf '200 %.0s' $(seq 50)").out) << e.name;
  }
  // No CGI process is left under lighttpd, only its two FastCGI workers; no board entry leaked.
  const std::string children = "pgrep -P $(cat " + desk.state + "/lighttpd.pid) | wc -l";
  std::string left = RunShell(children).out;
  for (int i = 0; i < 50 && left != "2\n"; ++i, usleep(100000)) left = RunShell(children).out;
  EXPECT_EQ(left, "2\n");
  EXPECT_EQ(RunShell(shm).out, entries) << "the demo's own entries, without those of tests beside";
}

}  // namespace
