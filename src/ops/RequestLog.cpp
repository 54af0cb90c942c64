#include "ops/RequestLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "ops/Facts.h"
#include "util/StringUtil.h"

namespace {

int logFile = -1;
std::string logName, failedName;
time_t checkedAt = 0;

void Fail(const char* name, const char* what) {
  if (failedName == name) return;
  failedName = name;
  std::fprintf(stderr, "zelvora: ZELVORA_REQUEST_LOG %s cannot be %s: %s\n",
               Printable(std::string(name).substr(0, 200)).c_str(), what, LastErrorText().c_str());
}

// The descriptor of log `name`, opened when it is not the one kept or when
// the kept file no longer bears the name; -1 when it cannot be opened.
int LogFile(const char* name) {
  const time_t now = std::time(nullptr);
  if (logFile >= 0 && logName == name) {
    if (now == checkedAt) return logFile;
    checkedAt = now;
    struct stat named, kept;
    if (stat(name, &named) == 0 && fstat(logFile, &kept) == 0 && named.st_ino == kept.st_ino &&
        named.st_dev == kept.st_dev) {
      return logFile;
    }
  }
  if (logFile >= 0) close(logFile);
  logName = name;
  checkedAt = now;
  // Who asked for what is the pool's user's alone: 0600 with or without
  // the unit's UMask=0077.
  logFile = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
  if (logFile < 0) Fail(name, "opened");
  return logFile;
}

// Appends `text` quoted, each byte that could end or shape the line escaped.
void Quoted(std::string& line, const char* text) {
  line += '"';
  const size_t length = strnlen(text, kLogUserBytes);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      line += escaped;
    } else {
      line += static_cast<char>(c);
    }
  }
  line += '"';
}

const char* Answered(uint32_t answered, uint32_t failed) {
  if (answered + failed == 0) return "none";
  if (failed == 0) return "answered";
  return answered == 0 ? "failed" : "partly";
}

}  // namespace

void LogRequest(Outcome outcome, int64_t micros) {
  const char* name = std::getenv("ZELVORA_REQUEST_LOG");
  if (name == nullptr || *name == '\0') return;
  const int file = LogFile(name);
  if (file < 0) return;
  const CRequestFacts& facts = RequestFacts();
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char head[96];
  const size_t stamp = std::strftime(head, sizeof head, "time=%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(head + stamp, sizeof head - stamp, ".%06ldZ user=", now.tv_nsec / 1000);
  std::string line;
  line.reserve(kLogLineBytes);
  line += head;
  // The health check asks for no password: a name there is anyone's claim.
  const char* user = facts.method == kMethodHealth ? nullptr : std::getenv("REMOTE_USER");
  if (user == nullptr) {
    line += '-';
  } else {
    Quoted(line, user);
  }
  char rest[256];
  std::snprintf(rest, sizeof rest, " method=%s ids=%u outcome=%s us=%lld boards=%s db=%s\n",
                kMetricMethodNames[facts.method], facts.ids,
                kOutcomeNames[static_cast<int>(outcome)], static_cast<long long>(micros),
                Answered(facts.boardsRead, facts.boardsFailed),
                Answered(facts.dbAnswered, facts.dbFailed));
  line += rest;
  if (write(file, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    Fail(name, "written");
  }
}
