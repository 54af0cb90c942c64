// CTopic: one watched board and what its subscribers have been told of it.
//
// A topic reads its board (Poll) with the program's board reader: the same
// lock, owner check and sizes, a raw copy under the lock and the parsing
// after it. It never waits for the lock: a board that stays locked is
// tried again at the next read and reported as "locked" once it has been
// so for SHM_LOCK_MS. Each read compares the records' bytes with the last
// read's and makes the events the protocol names (snapshot, change, board),
// each with the next id of the process (`nextId`).
//
// Bounded: the last kKeptEvents events, and no more than kKeptBytes of
// them (the newest always), are kept for subscribers that come back; the
// records of one board read. Subscribers are not owned: the server adds and
// removes them, and must remove each before it goes.
#ifndef ZELVORA_STREAM_TOPIC_H_
#define ZELVORA_STREAM_TOPIC_H_

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class CSubscriber;

enum class TopicKind { kOffers, kAccount, kTrades, kBars };

struct CTopicDef {
  TopicKind kind;
  std::string name;   // "offers", "account:ID", "trades:ID", "bars:SYM:P"
  std::string board;  // the board's key
  std::string id;     // the account id of kAccount and kTrades
};

struct CKeptEvent {
  uint64_t id;
  std::string text;  // the whole event as it goes out
};

class CTopic {
 public:
  static constexpr size_t kKeptEvents = 256;
  static constexpr size_t kKeptBytes = 256 << 10;
  enum class State { kUnread, kOk, kMissing, kLocked, kUnreadable };

  // Ids up to `floor` came before the topic: a subscriber that saw only
  // those gets a snapshot. `owner` (null: any owner) must outlive the topic.
  CTopic(const CTopicDef& def, uint64_t floor, const uid_t* owner);
  CTopic(const CTopic&) = delete;
  CTopic& operator=(const CTopic&) = delete;

  // Reads the board once and keeps the events that read made; their number
  // (0 when nothing changed) is how many of the newest Kept() entries are new.
  size_t Poll(int64_t nowMillis, uint64_t& nextId);

  // What a new subscriber is told first: a snapshot of the records, or the
  // board's state when it has none; empty while the board was never read.
  std::string FirstEvent(uint64_t& nextId) const;

  // The kept events after `id` into `out` (appended); false when some were
  // let go, `id` came before the topic, or they are larger than a snapshot:
  // the subscriber then needs FirstEvent.
  bool KeptAfter(uint64_t id, std::vector<const CKeptEvent*>& out) const;

  const std::deque<CKeptEvent>& Kept() const { return kept_; }
  const CTopicDef& Def() const { return def_; }
  State GetState() const { return state_; }

  // Adds `subscriber` once; Remove takes it out (order is not kept). The
  // list is a plain array because every change event walks all of it; the
  // places beside it make a removal cost the same at any size.
  void Add(CSubscriber* subscriber);
  void Remove(CSubscriber* subscriber);
  const std::vector<CSubscriber*>& Subscribers() const { return subscribers_; }

  int64_t idleSince = 0;  // when the last subscriber left

 private:
  // Parses the reader's text into (key, record) pairs of this topic; false
  // when a record is not JSON or lacks its key ("gone" could not name it).
  bool TakeRecords(const std::string& text, std::vector<std::pair<std::string, std::string>>& out);
  std::string SnapshotData() const;
  std::string ChangeData(const std::vector<std::pair<std::string, std::string>>& fresh) const;
  void SetState(State state, uint64_t& nextId);
  void Keep(uint64_t& nextId, const char* name, const std::string& data);

  CTopicDef def_;
  const uid_t* owner_;
  int32_t size_ = 0, indexSize_ = 0;
  State state_ = State::kUnread;
  int64_t lockedSince_ = -1;
  std::string text_;  // the last read's records as the reader gave them
  std::vector<std::pair<std::string, std::string>> records_;
  size_t snapshotBytes_ = 0;  // SnapshotData's size, counted at each read
  std::deque<CKeptEvent> kept_;
  size_t keptBytes_ = 0;
  uint64_t floor_;  // no event after this id was let go
  std::vector<CSubscriber*> subscribers_;
  std::unordered_map<CSubscriber*, size_t> places_;  // each one's index in subscribers_
};

// The whole text of one event: "id: RUN-N", "event: NAME", "data: DATA".
std::string EventText(uint64_t id, const char* name, const std::string& data);

// The process's run: 16 hex digits drawn at start (SetRun), the prefix of every id.
void SetRun(const std::string& run);
const std::string& Run();

#endif  // ZELVORA_STREAM_TOPIC_H_
