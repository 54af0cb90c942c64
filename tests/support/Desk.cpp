#include "support/Desk.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "shm/ShareMemory.h"
#include "util/TimeText.h"

namespace {

// Moves this process (and so every program it starts) to a mount namespace
// of its own with a fresh /dev/shm, before any test runs: tests running side
// by side never see each other's boards, nor a desk's. Where the kernel
// refuses, a /dev/shm that scripts/private-shm made will do.
const bool kPrivateShm = [] {
  if (unshare(CLONE_NEWNS) == 0 &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      mount("zelvora-shm", "/dev/shm", "tmpfs", 0, "mode=1777") == 0) {
    setenv("ZELVORA_PRIVATE_SHM", "1", 1);
    return true;
  }
  return std::getenv("ZELVORA_PRIVATE_SHM") != nullptr;
}();

}  // namespace

const char kAnswerHeader[] = "Content-Type: text/plain \n\n";
const char kBannerAnswer[] =
    "Content-Type: text/plain \n\nZelvora 1.0 - foreign-exchange desk service\n";

std::string UniqueKey(const std::string& prefix) {
  static int counter = 0;
  return prefix + ".zt" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::string BoardImage(int32_t size, const std::string& header, int32_t indexSize,
                       const std::string& index, int32_t recordSize, const Lines& records) {
  auto padded = [](std::string text, int32_t width) {
    return text.resize(static_cast<size_t>(width), ' '), text;
  };
  std::string image = padded(header, 12) + padded(index, indexSize);
  for (const std::string& record : records) image += padded(record, recordSize);
  image.resize(static_cast<size_t>(size), '\0');
  return image;
}

int WriteBoard(const std::string& key, const std::string& image) {
  CShareMemory memory;
  const int64_t size = static_cast<int64_t>(image.size());
  // as the project's own writers make boards
  memory.SetCreation(0640, 0660, static_cast<gid_t>(-1));
  if (memory.Open(key, size, false, false) != 0) return -1;
  if (static_cast<int64_t>(memory.Available()) < size && memory.Resize(size, true) != 0) return -1;
  return memory.Write(0, image.data(), size, true);
}

bool BoardGone(const std::string& key) {
  return access(("/dev/shm/shm." + key).c_str(), F_OK) != 0 &&
         access(("/dev/shm/sem." + key).c_str(), F_OK) != 0;
}

// Markers are letters, digits, dots and dashes: the shell takes them as they are.
void RemoveBoardsMarked(const std::string& marker) {
  RunShell("rm -f /dev/shm/shm.*" + marker + "* /dev/shm/sem.*" + marker + "*");
}

// The mariadb client's command line for the server that MYSQL_* name.
static std::string ClientCommand() {
  const std::string host = std::getenv("MYSQL_HOST"), port = host.substr(host.rfind(':') + 1);
  const std::string where = host[0] == '/'
                                ? "--socket=" + host
                                : "--host=" + host.substr(0, host.rfind(':')) + " --port=" + port;
  return "MYSQL_PWD=\"$MYSQL_PWD\" mariadb --batch --skip-column-names " + where +
         " --user=\"$MYSQL_USER\" \"$MYSQL_DB\"";
}

const std::string& DatabaseRefusal() {
  static const std::string refusal = [] {
    for (const char* name : {"MYSQL_HOST", "MYSQL_USER", "MYSQL_PWD", "MYSQL_DB"})
      if (!std::getenv(name)) return std::string("no database: run scripts/test");
    const ProcessResult marker = RunShell(
        ClientCommand(),
        "SELECT SCHEMA_COMMENT FROM information_schema.SCHEMATA WHERE SCHEMA_NAME=DATABASE();\n");
    if (marker.out == "zelvora throwaway: made by scripts/db-local\n") return std::string();
    return "MYSQL_* name no database of scripts/db-local (reset makes one): " + marker.err;
  }();
  return refusal;
}

const Lines* DatabaseEnv() {
  if (!DatabaseRefusal().empty()) return nullptr;
  static const Lines env = [] {
    Lines lines;
    for (const char* name : {"MYSQL_HOST", "MYSQL_USER", "MYSQL_PWD", "MYSQL_DB"})
      lines.push_back(std::string(name) + "=" + std::getenv(name));
    return lines;
  }();
  return &env;
}

// Runs `sql` through the mariadb client on the server that MYSQL_* name.
static ProcessResult Client(const std::string& sql) {
  if (!DatabaseRefusal().empty()) {
    ADD_FAILURE() << DatabaseRefusal();
    return ProcessResult();
  }
  const ProcessResult result = RunShell(ClientCommand(), sql);
  EXPECT_EQ(result.status, 0) << result.err << sql;
  return result;
}

void RunSql(const Lines& statements) {
  std::string script;
  for (const std::string& statement : statements) script += statement + ";\n";
  Client(script);
}

Lines QueryRows(const std::string& sql) {
  std::istringstream out(Client(sql + ";\n").out);
  Lines rows;
  for (std::string row; std::getline(out, row);)
    rows.push_back((std::replace(row.begin(), row.end(), '\t', '|'), row));
  return rows;
}

// `env` and the sanitized build's LD_LIBRARY_PATH, unless `env` has one.
static Lines WithLibraryPath(Lines env) {
  const char* path = std::getenv("LD_LIBRARY_PATH");
  for (const std::string& var : env) path = var.rfind("LD_LIBRARY_PATH=", 0) ? path : nullptr;
  if (path) env.push_back(std::string("LD_LIBRARY_PATH=") + path);
  return env;
}

CWorker::CWorker(const Lines& env, long addressLimit, int port) {
  static int counter = 0;
  socket_ = port ? "127.0.0.1:" + std::to_string(port)
                 : "/tmp/zelvora-worker-" + std::to_string(getpid()) + "-" +
                       std::to_string(++counter) + ".sock";
  const Lines args =
      port ? Lines{"-n", "-a", "127.0.0.1", "-p", std::to_string(port), "--", ZELVORA_CGI}
           : Lines{"-n", "-s", socket_, "--", ZELVORA_CGI};
  pid_ = StartProcess({"/usr/bin/spawn-fcgi", args, WithLibraryPath(env), "", addressLimit},
                      port ? "/dev/null" : socket_ + ".log");
  // A unix socket's file exists from its bind: either socket takes connections only from its
  // listen.
  const std::string listening = "ss -Hlnxt | grep -qF -- '" + socket_ + " '";
  for (int i = 0; i < 500 && RunShell(listening).status != 0; ++i) usleep(10000);
}

CWorker::~CWorker() { Stop(); }

int CWorker::Stop(bool signal) {
  const int status = pid_ > 0 ? StopProcess(pid_, 5000, signal) : -1;
  pid_ = -1;
  unlink(socket_.c_str());
  unlink((socket_ + ".log").c_str());
  return status;
}

ProcessResult RunProgram(const Lines& env, const std::string& body, const Lines& args,
                         const CWorker* worker) {
  if (worker != nullptr)
    return RunProcess({"/usr/bin/cgi-fcgi", {"-bind", "-connect", worker->Socket()}, env, body});
  return RunProcess({ZELVORA_CGI, args, WithLibraryPath(env), body});
}

std::string RequestBody(const std::string& method, const std::optional<std::string>& params) {
  return "<zelvora><method>" + method + "</method>" +
         (params ? "<params>" + *params + "</params>" : "") + "</zelvora>";
}

Lines RequestEnv(const std::string& body, Lines more) {
  more.insert(more.end(),
              {"CONTENT_LENGTH=" + std::to_string(body.size()), "MAX_CONTENT_LENGTH=65536"});
  return more;
}

std::string NoAccount(const Lines& ids) {
  std::string answer;
  for (const std::string& id : ids)
    answer += ",{\"status\":1, \"data\":{\"AccountID\":\"" + id + "\"}}";
  return "[" + answer.substr(!ids.empty()) + "]";
}

long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int ShmMaps(pid_t pid) {
  return std::stoi(
             RunShell("grep -c -e /dev/shm/ -e '\\[stack]' /proc/" + std::to_string(pid) + "/maps")
                 .out) -
         1;
}

Reply Ask(const Call& call) {
  const std::string body = RequestBody(call.method, call.params),
                    stem = "/tmp/zelvora-fake-" + std::to_string(getpid());
  Lines env = RequestEnv(body, {"TZ=Asia/Tokyo"}), db;
  if (call.selDb != nullptr) env.push_back(std::string("SHM_SEL_DB=") + call.selDb);
  if (call.db == Call::kServer && DatabaseEnv() != nullptr) db = *DatabaseEnv();
  if (call.db == Call::kFake) {
    db = {"MYSQL_HOST=fakehost:1",
          "MYSQL_USER=desk",
          "MYSQL_PWD=secret",
          "MYSQL_DB=deskdb",
          "LD_LIBRARY_PATH=" ZELVORA_FAKE_LIB_DIR,
          "ZELVORA_FAKE_LOG=" + stem + ".log",
          "ZELVORA_FAKE_ROWS=" + stem + ".tsv",
          "ZELVORA_FAKE_FAIL=" + call.fail};
    std::ofstream(stem + ".tsv") << call.rows;
  }
  for (std::string var : db) {
    if (!call.host.empty() && var.rfind("MYSQL_HOST=", 0) == 0) var = "MYSQL_HOST=" + call.host;
    env.push_back(var);
  }
  // the first of a name counts
  env.insert(env.begin(), call.env.begin(), call.env.end());
  Reply reply;
  reply.result = RunProgram(env, body, {}, call.worker);
  std::ifstream log(stem + ".log");
  for (std::string line; std::getline(log, line);) reply.log.push_back(line);
  unlink((stem + ".log").c_str());
  unlink((stem + ".tsv").c_str());
  const std::string& out = reply.result.out;
  const bool served = out.rfind(kAnswerHeader, 0) == 0;
  reply.answer = out == kBannerAnswer ? "(banner)"
                 : served             ? out.substr(std::string(kAnswerHeader).size())
                                      : "(no header)";
  EXPECT_EQ(reply.result.status, 0) << body;
  return reply;
}

std::string PlanJson(const std::string& symbol, const Lines& values) {
  std::string json = "{\"Symbol\":\"" + symbol + "\"";
  for (size_t i = 1; i <= 20; ++i)
    json +=
        ",\"IP" + std::to_string(i) + "\":\"" + (i <= values.size() ? values[i - 1] : "") + "\"";
  return json + "}";
}

std::string Param(const std::string& symbol, const std::string& inner) {
  return "<param><symbol>" + symbol + "</symbol>" + inner + "</param>";
}

std::string Unnumbered(std::string text) {
  return std::regex_replace(text, std::regex("\\(\\d+\\)"), "(n)");
}

std::string MaskNow(std::string text) {
  const int64_t now = std::time(nullptr);
  for (int64_t at = now - 60; at <= now; ++at) {
    const std::string shown = TimeText(at, 1);
    for (size_t found; (found = text.find(shown)) != std::string::npos;)
      text.replace(found, shown.size(), "NOW");
  }
  return text;
}
