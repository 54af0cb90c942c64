#include "db/MywClient.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ops/Facts.h"
#include "util/StringUtil.h"

namespace {

// The desk's established message: fixed bytes, not to be reworded.
const char kLoadFailed[] = "Library[mysqlpp] loading failed.\n";

const char* LoaderText() {
  const char* text = dlerror();
  return text != nullptr ? text : "";
}

// `name` in the folder of the running program; "" when that is unknown.
std::string BesideProgram(const char* name) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return std::string();
  std::string folder(path, static_cast<size_t>(length));
  const auto slash = folder.rfind('/');
  if (slash == std::string::npos) return std::string();
  return folder.substr(0, slash + 1) + name;
}

}  // namespace

CMywClient::RecordSet::~RecordSet() { std::free(set.block); }

CMywClient::~CMywClient() {
  if (handle_ == nullptr) return;
  auto close = reinterpret_cast<MywCloseFn>(Resolve("myw_close"));
  if (close != nullptr && context_ != nullptr) close(context_);
  dlclose(handle_);
}

void* CMywClient::Resolve(const char* name) {
  dlerror();
  void* entry = dlsym(handle_, name);
  // Standard error: on standard output the loader's text would come before
  // the answer's header.
  if (entry == nullptr) std::fprintf(stderr, "%s\n", LoaderText());
  return entry;
}

int CMywClient::Load() {
  handle_ = dlopen(library_, RTLD_LAZY);
  if (handle_ != nullptr) return 0;
  std::string failure = LoaderText();
  if (std::strchr(library_, '/') == nullptr) {
    // A library beside the program counts only when it is there; otherwise
    // the search by name tells what went wrong.
    const std::string beside = BesideProgram(library_);
    if (!beside.empty() && access(beside.c_str(), F_OK) == 0) {
      handle_ = dlopen(beside.c_str(), RTLD_LAZY);
      if (handle_ != nullptr) return 0;
      failure = LoaderText();
    }
  }
  std::fprintf(stderr, "%s\n", failure.c_str());
  std::fputs(kLoadFailed, stderr);
  return -1;
}

int CMywClient::Connect(const char* database, const char* host, const char* user,
                        const char* password) {
  if (Load() != 0) return -1;
  // A library short of an entry point is a library that could not be
  // loaded: nothing is asked of it.
  auto init = reinterpret_cast<MywInitFn>(Resolve("myw_init"));
  auto connect = reinterpret_cast<MywConnectFn>(Resolve("myw_connect"));
  auto select = reinterpret_cast<MywSelectFn>(Resolve("myw_select"));
  auto exec = reinterpret_cast<MywExecFn>(Resolve("myw_exec"));
  auto execTrans = reinterpret_cast<MywExecTransFn>(Resolve("myw_exec_trans"));
  auto execTransMatched = reinterpret_cast<MywExecTransFn>(Resolve("myw_exec_trans_matched"));
  auto isConnected = reinterpret_cast<MywIsConnectedFn>(Resolve("myw_isConnected"));
  if (!init || !connect || !select || !exec || !execTrans || !execTransMatched || !isConnected) {
    std::fputs(kLoadFailed, stderr);
    return -1;
  }
  context_ = init();
  const MywResult result = connect(context_, database, host, user, password);
  // A connect answers the place in the host list of the host that took it.
  NoteDbConnect(result.code == 0, result.code == 0 && result.count > 0);
  if (result.code == -1) {
    // The desk's established message: fixed bytes before the library's text.
    std::fprintf(stderr, "Connection failed: %s\n", result.message);
    return result.code;
  }
  select_ = select, exec_ = exec, execTrans_ = execTrans, isConnected_ = isConnected;
  execTransMatched_ = execTransMatched;
  connected_ = result.code == 0;
  return result.code;
}

bool CMywClient::IsConnected() { return connected_; }

int32_t CMywClient::SelectSet(const std::string& sql, RecordSet& rows) {
  if (select_ == nullptr) return -1;
  if (sql.empty()) {
    std::fputs(kRefusedSqlMessage, stderr);
    return -1;
  }
  MywResult result;
  {
    const int64_t start = MonotonicMicros();
    result = select_(context_, sql.c_str(), &rows.set);
    NoteDbStatement(MonotonicMicros() - start, result.code == 0);
    if (result.code != 0) Recheck();
  }
  if (result.code != 0) {
    std::fprintf(stderr, "%s\n", Printable(result.message).c_str());
    std::free(rows.set.block);
    rows.set = MywRecordSet();
  }
  return static_cast<int32_t>(result.count);
}

int32_t CMywClient::SelectCounts(const std::string& sql, std::vector<uint32_t>& counts) {
  RecordSet rows;
  const int32_t count = SelectSet(sql, rows);
  for (int64_t r = 0; r < rows.set.rowCount; ++r) {
    counts.push_back(ReadCount(MywRow(rows.set, r), "counts"));
  }
  return count;
}

int32_t CMywClient::ExecTrans(const std::vector<std::string>& statements) {
  return RunTrans(execTrans_, statements, nullptr);
}

int32_t CMywClient::ExecTransMatched(const std::vector<std::string>& statements,
                                     int32_t& unmatched) {
  return RunTrans(execTransMatched_, statements, &unmatched);
}

int32_t CMywClient::RunTrans(MywExecTransFn run, const std::vector<std::string>& statements,
                             int32_t* unmatched) {
  if (unmatched != nullptr) *unmatched = 0;
  if (run == nullptr) return -1;
  std::vector<const char*> texts;
  texts.reserve(statements.size());
  for (const std::string& statement : statements) {
    if (statement.empty()) {
      std::fputs(kRefusedSqlMessage, stderr);
      return -1;
    }
    texts.push_back(statement.c_str());
  }
  MywResult result;
  {
    const int64_t start = MonotonicMicros();
    result = run(context_, texts.data(), static_cast<int32_t>(texts.size()));
    NoteDbStatement(MonotonicMicros() - start, result.code == 0);
    if (result.code != 0) Recheck();
  }
  if (result.code == -1) {
    std::fprintf(stderr, "%s\n", Printable(result.message).c_str());
    const bool counted = result.count > 0 && result.count <= static_cast<int64_t>(texts.size());
    if (unmatched != nullptr && counted) *unmatched = static_cast<int32_t>(result.count);
  }
  return result.code;
}

int32_t CMywClient::Exec(const std::string& sql) {
  if (exec_ == nullptr) return -1;
  if (sql.empty()) {
    std::fputs(kRefusedSqlMessage, stderr);
    return -1;
  }
  MywResult result;
  {
    const int64_t start = MonotonicMicros();
    result = exec_(context_, sql.c_str());
    NoteDbStatement(MonotonicMicros() - start, result.code == 0);
    if (result.code != 0) Recheck();
  }
  if (result.code == -1) std::fprintf(stderr, "%s\n", Printable(result.message).c_str());
  return result.code;
}
