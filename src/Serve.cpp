#include "Serve.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "Dispatch.h"
#include "Health.h"
#include "LogCap.h"
#include "Request.h"
#include "Response.h"
#include "desk/AccessFile.h"
#include "markup/MarkupDoc.h"
#include "ops/Facts.h"
#include "ops/RequestLog.h"
#include "util/Setting.h"
#include "util/StringUtil.h"

namespace {

// The grants file, kept by a worker between requests.
CAccessFile accessFile;

// Who calls, and under which rules. 0 with `user` and `rules` set (rules
// null when ZELVORA_ACCESS is unset: no access control); -1 when the
// request may not be served at all, its refusal written. `persistent`: a
// worker, which keeps the file's grants for the requests to come.
int Admit(FILE* out, bool persistent, std::string& user, const CAccessRules*& rules) {
  const char* caller = std::getenv("REMOTE_USER");
  user = caller != nullptr ? caller : "";
  rules = nullptr;
  const char* path = std::getenv("ZELVORA_ACCESS");
  if (path == nullptr) return 0;
  std::string error = "zelvora: ZELVORA_ACCESS is empty";
  if (*path != '\0') rules = accessFile.Rules(path, persistent ? nullptr : &user, error);
  if (rules == nullptr) {
    std::fprintf(stderr, "%s: every request refused\n", error.c_str());
    WriteRefusal(out, "Status: 500 Internal Server Error\n");
    return -1;
  }
  if (caller == nullptr || !rules->Knows(user)) {
    if (caller == nullptr) {
      std::fputs("Access refused: no REMOTE_USER (the web server authenticates no one)\n", stderr);
    } else {
      std::fprintf(stderr, "Access refused: user %s is not in %s\n", Printable(user).c_str(),
                   Printable(path).c_str());
    }
    WriteRefusal(out, "Status: 403 Forbidden\n");
    return -1;
  }
  return 0;
}

// Serves a parsed request, or writes the banner answer when it cannot.
Outcome Serve(FILE* out, const CMarkupDoc& doc, CDbSlot* slot, const std::string& user,
              const CAccessRules* rules) {
  const CMarkupNode* method = FindMethodNode(doc.Root());
  if (method == nullptr) {
    WriteBannerAnswer(out);
    return Outcome::kBanner;
  }
  auto service = std::make_unique<CDeskService>(slot);
  service->SetCaller(user, rules);
  const CMarkupNode* params = doc.Root().FindNode("params");
  const std::string name = method->text;
  RequestFacts().method = MetricMethod(name);
  RequestFacts().ids = params != nullptr ? static_cast<uint32_t>(params->children.size()) : 0;
  if (WriteAnswer(out, Dispatch(*service, name, params)) == 0) return Outcome::kAnswered;
  WriteBannerAnswer(out);
  return service->Refused() ? Outcome::kRefused : Outcome::kBanner;
}

// The answers a web server asks for by location: ZELVORA_PROBE, which only
// the server sets (no header becomes it), names one for a GET (or a HEAD,
// as some balancers check: the web server sends no body then).
enum class Probe { kNone, kHealth, kMetrics, kWrong };

Probe AskedProbe() {
  const char* probe = std::getenv("ZELVORA_PROBE");
  if (probe == nullptr || *probe == '\0') return Probe::kNone;
  const char* method = std::getenv("REQUEST_METHOD");
  if (method == nullptr || (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)) {
    return Probe::kWrong;
  }
  if (std::strcmp(probe, "health") == 0) return Probe::kHealth;
  return std::strcmp(probe, "metrics") == 0 ? Probe::kMetrics : Probe::kWrong;
}

// Reads, parses and serves the request on `in`.
Outcome ServeBody(FILE* in, FILE* out, CDbSlot* slot) {
  const Probe probe = AskedProbe();
  RequestFacts().method = probe == Probe::kHealth    ? kMethodHealth
                          : probe == Probe::kMetrics ? kMethodMetrics
                                                     : kMethodNone;
  // The health location is open to anyone: nothing else is served there.
  if (probe == Probe::kHealth) return WriteHealthAnswer(out, slot);
  if (probe == Probe::kWrong) {
    WriteRefusal(out, "Status: 405 Method Not Allowed\n");
    return Outcome::kRefused;
  }
  std::string user;
  const CAccessRules* rules = nullptr;
  if (Admit(out, slot != nullptr, user, rules) != 0) return Outcome::kRefused;
  if (probe == Probe::kMetrics) return WriteMetricsAnswer(out);
  const int32_t length = AcceptedBodyLength();
  if (length < 0) {
    WriteBannerAnswer(out);
    return Outcome::kBanner;
  }
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(length)));
  if (buffer == nullptr) {
    // Fixed bytes, file name and line number included (the desk's
    // established diagnostic): not this file's place.
    std::fprintf(stderr, "filename[%s], line[%d] malloc error. %s\n", "src/Main", 90,
                 LastErrorText().c_str());
    WriteBannerAnswer(out);
    return Outcome::kBanner;
  }
  std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);  // freed on a throw too
  // A body shorter than announced is a cut upload, or one still on its way:
  // the tolerant parser would make a request of what came (a plan write cut
  // inside a value would clear the rest of the plan).
  const int32_t got = ReadBody(in, buffer, length);
  if (got < length) {
    std::fprintf(stderr, "Request refused: body of %d bytes where CONTENT_LENGTH announced %d\n",
                 static_cast<int>(got), static_cast<int>(length));
    WriteBannerAnswer(out);
    return Outcome::kBanner;
  }
  auto doc = std::make_unique<CMarkupDoc>();
  doc->Parse(buffer, got);
  owned.reset();
  return Serve(out, *doc, slot, user, rules);
}

}  // namespace

void ServeRequest(FILE* in, FILE* out, CDbSlot* slot) {
  // Whatever a request throws (memory it may not have, above all) ends that
  // request only. Nothing of the answer has gone out then: it is written
  // only once whole, after everything that could throw. The reason is
  // written after the cap on the request's diagnostics, which must not be
  // what drops it; it is kept in place, since memory may be what ran out.
  char failure[160] = "";
  const int64_t start = MonotonicMicros();
  Outcome outcome = Outcome::kError;
  {
    const CLogCap cap(static_cast<size_t>(SettingValue(kMaxLogBytes)));
    BeginRequest(AttachScoreboard());
    try {
      outcome = ServeBody(in, out, slot);
    } catch (const std::exception& error) {
      std::snprintf(failure, sizeof failure, "%s", error.what());
    } catch (...) {
      std::snprintf(failure, sizeof failure, "unknown exception");
    }
  }
  if (failure[0] != '\0') {
    std::fprintf(stderr, "zelvora: request not served: %s\n", failure);
    WriteBannerAnswer(out);
  }
  const int64_t micros = MonotonicMicros() - start;
  if (CScoreboard* board = RequestScoreboard()) {
    CountRequest(*board, RequestFacts().method, outcome, micros);
  }
  LogRequest(outcome, micros);
}
