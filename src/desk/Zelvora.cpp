#include "desk/Zelvora.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "desk/BoardReader.h"
#include "ops/Facts.h"
#include "shm/BoardOwner.h"
#include "util/StringUtil.h"

CDeskService::CDeskService(CDbSlot* slot)
    : slot_(slot != nullptr ? slot : &ownSlot_),
      maxRecords_(SettingValue(kMaxAnswerRecords)),
      maxIds_(SettingValue(kMaxRequestIds)),
      lockWaitLeft_(SettingValue(kShmLockTotalMs)) {
  const char* selDb = std::getenv("SHM_SEL_DB");
  shmSelDb_ = selDb != nullptr && std::strcmp(selDb, "1") == 0;
}

bool CDeskService::WithinBound(uint64_t count, const char* what, const CSettingRange& setting,
                               int64_t bound) {
  if (count <= static_cast<uint64_t>(bound)) return true;
  std::fprintf(stderr, "Request refused: %llu %s, over %s (%lld)\n",
               static_cast<unsigned long long>(count), what, setting.name,
               static_cast<long long>(bound));
  refused_ = true;
  return false;
}

CDeskService::~CDeskService() = default;

const char* CDeskService::StatusText(int32_t code) { return code == -1 ? "1" : "0"; }

std::string CDeskService::Envelope(const char* status, const std::string& data) {
  return std::string("{\"status\":") + status + ", \"data\":" + data + "}";
}

bool CDeskService::ConnectDb(bool write) {
  if (client_ != nullptr) return client_->IsConnected(true);
  const char* writeHost = write ? std::getenv("MYSQL_WRITE_HOST") : nullptr;
  const char* names[] = {
      "MYSQL_DB", writeHost != nullptr && *writeHost != '\0' ? "MYSQL_WRITE_HOST" : "MYSQL_HOST",
      "MYSQL_USER", "MYSQL_PWD"};
  const char* values[4];
  std::string credentials;
  for (int i = 0; i < 4; ++i) {
    values[i] = std::getenv(names[i]);
    credentials.append(values[i] != nullptr ? "=" : "-")
        .append(values[i] != nullptr ? values[i] : "")
        .push_back('\0');
  }
  // The timeouts are the connection's, set when it is made: a connection
  // made under other ones is not this request's.
  for (const CSettingRange* range : {&kMysqlConnectTimeout, &kMysqlTimeout}) {
    credentials.append(std::to_string(SettingValue(*range))).push_back('\0');
  }
  CDbLink& link = write ? slot_->write : slot_->read;
  // A kept connection made with the same settings serves unless a call found
  // it gone; asking the server first would cost every request a round trip.
  if (link.client && link.credentials == credentials && link.client->IsConnected(true)) {
    client_ = link.client.get();
    return true;
  }
  // The old client goes only after the new one has loaded the library, so a
  // worker keeps it loaded; the new one is in the slot at once, so that
  // whatever Connect does, the slot closes it.
  const std::unique_ptr<CMywClient> previous = std::move(link.client);
  link.client = std::make_unique<CMywClient>();
  link.credentials = credentials;
  client_ = link.client.get();
  return client_->Connect(values[0], values[1], values[2], values[3]) == 0;
}

bool CDeskService::PingDb() {
  std::vector<uint32_t> counts;
  return ConnectDb() && client_->SelectCounts("SELECT 1 AS counts", counts, true) == 1;
}

void CDeskService::DropDb(bool write) {
  CDbLink& link = write ? slot_->write : slot_->read;
  if (client_ == link.client.get()) client_ = nullptr;
  link.client.reset();
  link.credentials.clear();
}

bool CDeskService::MayReadBoard(const std::string& key) {
  if (failedBoards_.count(key) != 0) return false;
  if (owned_ == kOwnerUnknown) owned_ = BoardOwner(owner_);
  if (owned_ >= 0) return true;
  std::fprintf(stderr, "ShareMemory[%s] refused: SHM_OWNER names no user\n",
               Printable(key).c_str());
  NoteBoardRead(kBoardRefusedOwner);
  failedBoards_.insert(key);
  return false;
}

int CDeskService::ReadBoard(const std::string& key, int32_t size, std::string& out,
                            int32_t indexSize) {
  if (!MayReadBoard(key)) return -1;
  BoardRead why = kBoardFailed;
  CBoardReader reader(owned_ > 0 ? &owner_ : nullptr, lockWaitLeft_);
  const int result = reader.ReadAll(key, size, indexSize, out, why);
  NoteBoardRead(result == 0 ? kBoardRead : why);
  if (result != 0) failedBoards_.insert(key);
  return result;
}

int CDeskService::ReadBoardByKeys(const std::string& key, int32_t size, std::string& out,
                                  int32_t indexSize, const std::vector<const CMarkupNode*>& keys) {
  if (!MayReadBoard(key)) return -1;
  std::vector<std::string> texts;
  texts.reserve(keys.size());
  for (const CMarkupNode* node : keys) texts.push_back(node->text);
  BoardRead why = kBoardFailed;
  CBoardReader reader(owned_ > 0 ? &owner_ : nullptr, lockWaitLeft_);
  const int result = reader.ReadByKeys(key, size, indexSize, texts, out, why);
  NoteBoardRead(result == 0 ? kBoardRead : why);
  if (result != 0) failedBoards_.insert(key);
  return result;
}
