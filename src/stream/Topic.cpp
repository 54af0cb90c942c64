#include "stream/Topic.h"

#include <cstring>
#include <unordered_map>

#include "desk/BoardReader.h"
#include "shm/Board.h"
#include "shm/ShareMemory.h"
#include "util/Json.h"

namespace {

std::string run;

// The member that tells a topic's records apart: what "gone" names.
const char* KeyMember(TopicKind kind) {
  switch (kind) {
    case TopicKind::kOffers:
      return "Symbol";
    case TopicKind::kBars:
      return "StartDate";
    case TopicKind::kAccount:
      return "AccountID";
    case TopicKind::kTrades:
      break;
  }
  return "TradeID";
}

const char* StateName(CTopic::State state) {
  switch (state) {
    case CTopic::State::kMissing:
      return "missing";
    case CTopic::State::kLocked:
      return "locked";
    case CTopic::State::kUnreadable:
      return "unreadable";
    default:
      return "back";
  }
}

std::string StateData(const std::string& topic, const char* state) {
  return "{\"topic\":" + JsonQuoted(topic) + ",\"state\":\"" + state + "\"}";
}

}  // namespace

void SetRun(const std::string& value) { run = value; }
const std::string& Run() { return run; }

std::string EventText(uint64_t id, const char* name, const std::string& data) {
  std::string text = "id: " + run + "-" + std::to_string(id) + "\nevent: " + name + "\n";
  // A line end inside a record (JSON allows one between its tokens) starts
  // another data line, which the browser joins with a line end again.
  for (size_t at = 0;;) {
    const size_t end = data.find_first_of("\r\n", at);
    text.append("data: ").append(data, at, end == std::string::npos ? end : end - at) += '\n';
    if (end == std::string::npos) break;
    at = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return text += '\n';
}

CTopic::CTopic(const CTopicDef& def, uint64_t floor, const uid_t* owner)
    : def_(def), owner_(owner), floor_(floor) {
  const BoardLayout* layout = FindBoardLayout(def.board);
  if (layout != nullptr) size_ = layout->size, indexSize_ = layout->indexSize;
}

void CTopic::Keep(uint64_t& nextId, const char* name, const std::string& data) {
  const uint64_t id = nextId++;
  kept_.push_back({id, EventText(id, name, data)});
  keptBytes_ += kept_.back().text.size();
}

void CTopic::SetState(State state, uint64_t& nextId) {
  if (state_ == state) return;
  state_ = state;
  Keep(nextId, "board", StateData(def_.name, StateName(state)));
}

void CTopic::Add(CSubscriber* subscriber) {
  if (places_.emplace(subscriber, subscribers_.size()).second) subscribers_.push_back(subscriber);
}

void CTopic::Remove(CSubscriber* subscriber) {
  const auto at = places_.find(subscriber);
  if (at == places_.end()) return;
  CSubscriber* last = subscribers_.back();
  subscribers_[at->second] = last;
  places_[last] = at->second;
  subscribers_.pop_back();
  places_.erase(subscriber);
}

size_t CTopic::Poll(int64_t nowMillis, uint64_t& nextId) {
  // Events are let go only here, so the ones the last read made stay for
  // the server to send.
  while (kept_.size() > kKeptEvents || (keptBytes_ > kKeptBytes && kept_.size() > 1)) {
    floor_ = kept_.front().id;
    keptBytes_ -= kept_.front().text.size();
    kept_.pop_front();
  }
  const size_t before = kept_.size();
  std::string text;
  BoardRead why = kBoardFailed;
  int64_t wait = 0;  // never waits: a held lock is tried again at the next read
  CBoardReader reader(owner_, wait, nullptr);
  if (size_ == 0 || reader.ReadAll(def_.board, size_, indexSize_, text, why) != 0) {
    if (why == kBoardLockTimeout) {
      if (lockedSince_ < 0) lockedSince_ = nowMillis;
      if (nowMillis - lockedSince_ >= CShareMemory::LockWaitMillis()) {
        SetState(State::kLocked, nextId);
      }
    } else {
      lockedSince_ = -1;
      SetState(why == kBoardMissing ? State::kMissing : State::kUnreadable, nextId);
    }
    return kept_.size() - before;
  }
  lockedSince_ = -1;
  if (state_ == State::kOk && text == text_) return 0;
  std::vector<std::pair<std::string, std::string>> fresh;
  if (!TakeRecords(text, fresh)) {
    SetState(State::kUnreadable, nextId);
    return kept_.size() - before;
  }
  text_.swap(text);
  if (state_ != State::kOk || def_.kind == TopicKind::kTrades) {
    if (state_ != State::kOk && state_ != State::kUnread) {
      Keep(nextId, "board", StateData(def_.name, "back"));
    }
    state_ = State::kOk;
    records_.swap(fresh);
    Keep(nextId, "snapshot", SnapshotData());
  } else {
    const std::string data = ChangeData(fresh);
    records_.swap(fresh);
    if (!data.empty()) Keep(nextId, "change", data);
  }
  // {"topic":T,"records":[R,R]}: 23 bytes besides T, the records and their commas.
  snapshotBytes_ = 23 + JsonQuoted(def_.name).size() + (records_.empty() ? 0 : records_.size() - 1);
  for (const auto& record : records_) snapshotBytes_ += record.second.size();
  return kept_.size() - before;
}

bool CTopic::TakeRecords(const std::string& text,
                         std::vector<std::pair<std::string, std::string>>& out) {
  const char* const last = text.data() + text.size();
  for (const char* at = text.data(); at < last;) {
    const char* end = JsonValueEnd(at, last);
    std::string key;
    if (end == nullptr || !JsonStringMember(at, end, KeyMember(def_.kind), key)) return false;
    if (def_.kind != TopicKind::kAccount || key == def_.id)
      out.emplace_back(key, std::string(at, end));
    at = end + std::strspn(end, " \t\r\n");
    if (at < last && *at++ != ',') return false;
  }
  return true;
}

std::string CTopic::SnapshotData() const {
  std::string data = "{\"topic\":" + JsonQuoted(def_.name) + ",\"records\":[";
  for (size_t i = 0; i < records_.size(); ++i) {
    if (i > 0) data += ',';
    data += records_[i].second;
  }
  return data += "]}";
}

std::string CTopic::ChangeData(
    const std::vector<std::pair<std::string, std::string>>& fresh) const {
  std::unordered_map<std::string, const std::string*> old;
  for (const auto& record : records_) old[record.first] = &record.second;
  std::string changed, gone;
  for (const auto& record : fresh) {
    const auto found = old.find(record.first);
    if (found == old.end() || *found->second != record.second) {
      changed.append(changed.empty() ? "" : ",").append(record.second);
    }
    if (found != old.end()) old.erase(found);
  }
  for (const auto& record : records_) {
    if (old.erase(record.first) != 0) {
      gone.append(gone.empty() ? "" : ",").append(JsonQuoted(record.first));
    }
  }
  if (changed.empty() && gone.empty()) return std::string();
  return "{\"topic\":" + JsonQuoted(def_.name) + ",\"records\":[" + changed + "],\"gone\":[" +
         gone + "]}";
}

std::string CTopic::FirstEvent(uint64_t& nextId) const {
  if (state_ == State::kUnread) return std::string();
  const uint64_t id = nextId++;
  if (state_ == State::kOk) return EventText(id, "snapshot", SnapshotData());
  return EventText(id, "board", StateData(def_.name, StateName(state_)));
}

bool CTopic::KeptAfter(uint64_t id, std::vector<const CKeptEvent*>& out) const {
  if (id < floor_) return false;
  size_t bytes = 0;
  const size_t first = out.size();
  for (const CKeptEvent& event : kept_) {
    if (event.id <= id) continue;
    out.push_back(&event);
    bytes += event.text.size();
  }
  // Catching up must not cost more than starting again.
  if (state_ == State::kOk && bytes > snapshotBytes_ + 64) {
    out.resize(first);
    return false;
  }
  return true;
}
