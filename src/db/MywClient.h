// CMywClient: the program's side of the database library, which it loads at
// run time by name ("libmysqlpp.so"): by the ordinary loader search
// (LD_LIBRARY_PATH, ldconfig's folders) first, then beside the program. The
// program carries no run path, which would make the loader look for every
// system library in the program's folder on every start.
//
// Owns the library handle and the library's connection context from Connect
// until destruction, which closes the context and unloads the library. Not
// copyable; one request long (a worker keeps one per CDbSlot). Calls run one
// at a time on the caller's thread: the program has one thread.
//
// Where messages go: a library that cannot be loaded writes the loader's
// text and "Library[mysqlpp] loading failed." to standard error; an entry
// point that cannot be resolved writes the loader's text to standard error; a failed connect writes
// "Connection failed: " + the message, and a failed select, exec or transaction the message, to
// standard error.
#ifndef ZELVORA_DB_MYWCLIENT_H_
#define ZELVORA_DB_MYWCLIENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Myw.h"
#include "db/SqlText.h"
#include "db/TblBase.h"

class CMywClient {
 public:
  // `library` is handed to dlopen as it stands (and looked for beside the
  // program when it holds no "/").
  explicit CMywClient(const char* library = "libmysqlpp.so") : library_(library) {}
  ~CMywClient();
  CMywClient(const CMywClient&) = delete;
  CMywClient& operator=(const CMywClient&) = delete;

  // Loads the library, makes its context and connects; null arguments are
  // absent. Only when that did not answer -1 are the select, exec,
  // transaction and liveness entry points resolved. Returns the connect
  // code (0 connected), or -1 when the library or an entry point is missing.
  // REQUIRES: called once.
  int Connect(const char* database, const char* host, const char* user, const char* password);

  // True when Connect connected and no call since found the connection gone
  // (the library connects again once by itself where that is safe). Asks
  // neither the library nor the server: only a failed call asks the library
  // whether it still holds a connection.
  bool IsConnected();

  // Runs `sql` and appends one new T per row, in row order, to `records`
  // (not cleared first). Returns the library's row count; below 1 when the
  // query failed (nothing appended) or found nothing.
  // T needs a constructor from const MywRow&.
  template <typename T>
  int32_t Select(const std::string& sql, std::vector<std::unique_ptr<T>>& records);

  // As Select, taking each row's "counts" cell with a strict unsigned
  // conversion. Throws std::invalid_argument("stoul") for an empty or
  // non-numeric cell and std::out_of_range("stoul") beyond 32 bits.
  int32_t SelectCounts(const std::string& sql, std::vector<uint32_t>& counts);

  // Runs `statements` as one transaction. Returns the code: 0 when all were
  // committed, -1 otherwise (a refused, i.e. empty, statement fails the whole
  // transaction before anything is sent).
  int32_t ExecTrans(const std::vector<std::string>& statements);

  // As ExecTrans, and a statement that matches no row (found by the rows
  // the server matched, not the rows it changed) fails the whole
  // transaction: `unmatched` is then its position from 1, otherwise 0.
  int32_t ExecTransMatched(const std::vector<std::string>& statements, int32_t& unmatched);

  // Builds each record's statement with `builder` and runs them as one
  // transaction.
  template <typename T>
  int32_t ExecTrans(const std::vector<T*>& records, std::string (T::*builder)() const);

  // Runs one statement; returns the code (an empty, refused statement: -1).
  // zelvora.cgi writes only in transactions; the desk's other programs run
  // lone statements through this, which is why it stays (and why a lone
  // statement, perhaps carried out, is never sent again after a reconnection).
  int32_t Exec(const std::string& sql);

 private:
  // The selected rows as one library block, released with the set.
  struct RecordSet {
    MywRecordSet set{};
    ~RecordSet();
  };

  // Opens the library; 0, or -1 with the loader's text on standard error.
  int Load();
  // Runs a select into `rows`; returns the row count, below 1 on failure.
  int32_t SelectSet(const std::string& sql, RecordSet& rows);
  // One transaction through `run` (either transaction entry point).
  int32_t RunTrans(MywExecTransFn run, const std::vector<std::string>& statements,
                   int32_t* unmatched);
  // The entry point `name`, or null with the loader's text on standard error.
  void* Resolve(const char* name);
  // After a failed call: whether the library still holds a
  // connection.
  void Recheck() { connected_ = isConnected_(context_) != 0; }

  const char* library_;
  void* handle_ = nullptr;
  void* context_ = nullptr;
  MywSelectFn select_ = nullptr;
  MywExecFn exec_ = nullptr;
  MywExecTransFn execTrans_ = nullptr;
  MywExecTransFn execTransMatched_ = nullptr;
  MywIsConnectedFn isConnected_ = nullptr;
  bool connected_ = false;
};

template <typename T>
int32_t CMywClient::Select(const std::string& sql, std::vector<std::unique_ptr<T>>& records) {
  RecordSet rows;
  const int32_t count = SelectSet(sql, rows);
  for (int64_t r = 0; r < rows.set.rowCount; ++r) {
    records.push_back(std::make_unique<T>(MywRow(rows.set, r)));
  }
  return count;
}

template <typename T>
int32_t CMywClient::ExecTrans(const std::vector<T*>& records, std::string (T::*builder)() const) {
  std::vector<std::string> statements;
  statements.reserve(records.size());
  for (const T* record : records) statements.push_back((record->*builder)());
  return ExecTrans(statements);
}

#endif  // ZELVORA_DB_MYWCLIENT_H_
