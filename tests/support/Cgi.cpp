#include "support/Cgi.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

const char kAnswerHeader[] = "Content-Type: text/plain \n\n";

std::string RequestBody(const std::string& method, const std::string& params) {
  return "<zelvora><method>" + method + "</method><params>" + params + "</params></zelvora>";
}

std::string RequestBody(const std::string& method, const char* params) {
  if (params != nullptr) return RequestBody(method, std::string(params));
  return "<zelvora><method>" + method + "</method></zelvora>";
}

ProcessResult RunCgi(const std::string& body, const CgiOptions& options) {
  ProcessLaunch launch;
  launch.program = ZELVORA_CGI;
  launch.input = body;
  launch.env = {"CONTENT_LENGTH=" + std::to_string(body.size()), "MAX_CONTENT_LENGTH=65536",
              "TZ=Asia/Tokyo"};
  if (options.shmSelDb != nullptr) launch.env.push_back(std::string("SHM_SEL_DB=") + options.shmSelDb);
  if (options.database != nullptr) {
    const DatabaseSettings& db = *options.database;
    launch.env.push_back("MYSQL_HOST=" + (options.host.empty() ? db.host : options.host));
    launch.env.push_back("MYSQL_USER=" + db.user);
    launch.env.push_back("MYSQL_PWD=" + db.password);
    launch.env.push_back("MYSQL_DB=" + db.database);
  }
  if (!options.fakeLog.empty()) {
    launch.env.push_back(std::string("LD_LIBRARY_PATH=") + ZELVORA_FAKE_LIB_DIR);
    launch.env.push_back("ZELVORA_FAKE_LOG=" + options.fakeLog);
    if (!options.fakeRows.empty()) launch.env.push_back("ZELVORA_FAKE_ROWS=" + options.fakeRows);
    if (!options.fakeFail.empty()) launch.env.push_back("ZELVORA_FAKE_FAIL=" + options.fakeFail);
  } else if (const char* path = std::getenv("LD_LIBRARY_PATH")) {
    launch.env.push_back(std::string("LD_LIBRARY_PATH=") + path);  // the sanitized build's
  }
  launch.env.insert(launch.env.end(), options.env.begin(), options.env.end());
  return RunProcess(launch);
}

std::vector<std::string> TakeFakeLog(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream log(path);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  std::remove(path.c_str());
  return lines;
}

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  static int counter = 0;
  return std::string(dir != nullptr ? dir : "/tmp") + "/zelvora-test-" + std::to_string(getpid()) +
         "-" + std::to_string(++counter) + "-" + name;
}

std::string AnswerOf(const ProcessResult& result) {
  const std::string header = kAnswerHeader;
  if (result.out.compare(0, header.size(), header) != 0) return "(no header)";
  const std::string answer = result.out.substr(header.size());
  if (answer.compare(0, 11, "Zelvora 1.0") == 0) return "(banner)";
  return answer;
}
