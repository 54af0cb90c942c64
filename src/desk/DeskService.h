// CDeskService answers one request: one handler per desk method, plus the
// data-source choices they share. Created by the entry after the request
// document was accepted, used by one Dispatch call, destroyed before the
// next request. The database client lives in a CDbSlot: the service's own
// (CGI: destroying the service closes the connection and unloads the
// library), or a persistent worker's, which keeps both across requests.
//
// Every handler has one shape: the "params" node (null when the request has
// none; it must outlive the call) and the answer text, passed in empty. The
// handler leaves its whole answer in `answer`; an empty answer is its
// failure signal.
#ifndef ZELVORA_DESK_ZELVORA_H_
#define ZELVORA_DESK_ZELVORA_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/MywClient.h"
#include "desk/AccessRules.h"
#include "markup/MarkupNode.h"
#include "util/Setting.h"

// A database client with the MYSQL_* values it connected with.
struct CDbLink {
  std::unique_ptr<CMywClient> client;
  std::string credentials;
};

// Where the database clients live: one for reading, one for writes when
// MYSQL_WRITE_HOST sends them elsewhere.
struct CDbSlot {
  CDbLink read, write;
};

class CDeskService {
 public:
  // Reads SHM_SEL_DB and the request's bounds (MAX_ANSWER_RECORDS,
  // MAX_REQUEST_IDS, SHM_LOCK_TOTAL_MS); opens nothing. `slot` (null: the
  // service's own) must outlive the service.
  explicit CDeskService(CDbSlot* slot = nullptr);
  ~CDeskService();
  CDeskService(const CDeskService&) = delete;
  CDeskService& operator=(const CDeskService&) = delete;

  // "1" for -1, "0" for every other code.
  static const char* StatusText(int32_t code);

  // Every answer's envelope: {"status":S, "data":D}, or with `data2` (not
  // empty) {"status":S, "data":D, "data2":D2}; D and D2 as given.
  static std::string Envelope(const char* status, const std::string& data,
                              const std::string& data2 = "");

  // True when a usable connection exists. The first call of a request
  // connects with MYSQL_DB, MYSQL_HOST, MYSQL_USER and MYSQL_PWD (an unset
  // one absent), unless the slot holds a connection made with the same four
  // that no call has found gone; later calls answer whether the client still
  // holds its connection, so a failed connect is never retried within the
  // request. No call asks the server: a connection gone away is found by
  // the statement that meets it (see CMywClient). `write`: the connection is
  // for writes, made with MYSQL_WRITE_HOST in place of MYSQL_HOST when that
  // is set and not empty.
  bool ConnectDb(bool write = false);

  // Closes the connection ConnectDb(write) made or kept: after a failed
  // write, so that the next write starts again from the first host (a
  // replica that took over refuses writes; the primary may be back).
  void DropDb(bool write);

  // True when ConnectDb() connects and the server answers "SELECT 1".
  bool PingDb();

  // True when SHM_SEL_DB held exactly "1" at construction: the database may
  // stand in for a board that cannot be read.
  bool ShmSelDb() const { return shmSelDb_; }

  // True when `count` (records of an answer, or ids a request names) is
  // within `bound`, the value of `setting`. Otherwise false, with the reason
  // on standard error, and the request is refused.
  bool WithinBound(uint64_t count, const char* what, const CSettingRange& setting, int64_t bound);

  // True once a bound refused the request: no part of its answer may go out.
  bool Refused() const { return refused_; }

  // Who calls (REMOTE_USER, "" when unset) and, when ZELVORA_ACCESS is set,
  // the grants that decide what they may see and change (`rules` must
  // outlive the service). Without rules every account is open to everyone.
  void SetCaller(const std::string& user, const CAccessRules* rules) {
    user_ = user;
    rules_ = rules;
  }

  // Whether the caller may read, or trade (write the plans of), `account`.
  // A refusal names the user and the account on standard error.
  bool MayRead(const std::string& account) const;
  bool MayTrade(const std::string& account) const;

  // Appends the records of board `key` (a segment of `size` bytes with an
  // index area of `indexSize` bytes) to `out`, joined by ",". The segment is
  // copied once under its semaphore and read from the copy. 0 when the board
  // was read (also when it holds no record), -1 when it could not be opened,
  // copied or understood (the reason goes to standard error); the board
  // format and what a broken board gives are drawn in shm/Board.h.
  // Lock waits draw on the request's SHM_LOCK_TOTAL_MS; once it is spent, a
  // board is read only when its lock is free. A key that failed once in the
  // request answers -1 again at once, without a wait or a diagnostic.
  int ReadBoard(const std::string& key, int32_t size, std::string& out, int32_t indexSize);

  // As ReadBoard, but appends only the records that the board's index names
  // for the texts of `keys`, in their order; a key missing from the index
  // gives nothing. No keys: 0 and nothing appended, once the board was read.
  int ReadBoardByKeys(const std::string& key, int32_t size, std::string& out, int32_t indexSize,
                      const std::vector<const CMarkupNode*>& keys);

  void GetAccount(const CMarkupNode* params, std::string& answer);
  void GetOffer(const CMarkupNode* params, std::string& answer);
  void GetOpenTrade(const CMarkupNode* params, std::string& answer);
  void GetOpenTradeA(const CMarkupNode* params, std::string& answer);
  void GetClosedTrade(const CMarkupNode* params, std::string& answer);
  void GetReport(const CMarkupNode* params, std::string& answer);
  void GetImplPlan(const CMarkupNode* params, std::string& answer);
  void SetImplPlan(const CMarkupNode* params, std::string& answer);
  void GetPriceBar(const CMarkupNode* params, std::string& answer);
  void GetPlanHistory(const CMarkupNode* params, std::string& answer);
  void WhoAmI(const CMarkupNode* params, std::string& answer);

 private:
  // Runs `sql` (with the client lock) and appends each record's JSON text to
  // `text`, joined by ","; the records are released. More records than
  // MAX_ANSWER_RECORDS append nothing and refuse the request.
  // REQUIRES: ConnectDb().
  template <typename T>
  void AppendJson(const std::string& sql, std::string& text);

  // True when setImplPlan came from a page of this site: it bears the
  // X-Zelvora-Request header, which another site's page cannot send, and
  // names no other site as its Origin. Otherwise false, with why on
  // standard error.
  bool FromDeskPage() const;

  // False, with the reason on standard error the first time, when board
  // `key` failed before in this request or SHM_OWNER names no user.
  bool MayReadBoard(const std::string& key);

  // getAccount's answer for one account id.
  void AppendAccount(const std::string& id, std::string& answer);

  // getOpenTrade's status and records (joined by ",") for the account of
  // params, which names one or none.
  void ReadOpenTrades(const CMarkupNode* params, const char*& status, std::string& trades);

  // getReport's count: the rows of a grouped (type "1") report, else the
  // "counts" of the first row; 0 when the query fails or finds nothing.
  uint32_t CountReport(const CSqlText& join, const CSqlText& where, const std::string& groupBy,
                       bool grouped);

  CDbSlot ownSlot_;
  CDbSlot* slot_;
  CMywClient* client_ = nullptr;  // the slot's, once ConnectDb ran
  bool shmSelDb_;
  bool refused_ = false;
  std::string user_;
  const CAccessRules* rules_ = nullptr;
  int64_t maxRecords_;    // MAX_ANSWER_RECORDS
  int64_t maxIds_;        // MAX_REQUEST_IDS
  int64_t lockWaitLeft_;  // milliseconds of SHM_LOCK_TOTAL_MS not yet waited
  // SHM_OWNER, resolved at the request's first board: BoardOwner's result and uid.
  static constexpr int kOwnerUnknown = -2;
  int owned_ = kOwnerUnknown;
  uid_t owner_ = 0;
  // Boards that failed in this request; no more than the ids it may name.
  std::set<std::string> failedBoards_;
};

template <typename T>
void CDeskService::AppendJson(const std::string& sql, std::string& text) {
  std::vector<std::unique_ptr<T>> records;
  client_->Select(sql, records);
  if (!WithinBound(records.size(), "records", kMaxAnswerRecords, maxRecords_)) return;
  for (const auto& record : records) {
    if (!text.empty()) text += ',';
    text += record->ToJson();
  }
}

#endif  // ZELVORA_DESK_ZELVORA_H_
