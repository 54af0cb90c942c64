// getAccount: one envelope per "accountid" child of params, from the
// account's board, or from `Account` when the board cannot be read and the
// database may stand in.
#include <algorithm>
#include <cstring>

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "db/TblAccount.h"
#include "desk/Zelvora.h"
#include "shm/Board.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

const int32_t kAccountBoardSize = 1812;

// True when the JSON object [first, last) is the record of account `id`.
bool IsRecordOf(const char* first, const char* last, const std::string& id) {
  std::string found;
  return JsonStringMember(first, last, "AccountID", found) && found == id;
}

void AppendEnvelope(const char* status, const std::string& data, std::string& answer) {
  if (!answer.empty()) answer += ',';
  answer += CDeskService::Envelope(status, data);
}

}  // namespace

void CDeskService::GetAccount(const CMarkupNode* params, std::string& answer) {
  if (params != nullptr) {
    // Each id may cost a board's lock wait: their number is bounded before any is read.
    const auto ids = std::count_if(params->children.begin(), params->children.end(),
                                   [](const auto& child) { return child->name == "accountid"; });
    if (!WithinBound(static_cast<uint64_t>(ids), "ids", kMaxRequestIds, maxIds_)) return;
    for (const auto& child : params->children) {
      if (child->name == "accountid") AppendAccount(child->text, answer);
    }
  }
  answer = "[" + answer + "]";
}

void CDeskService::AppendAccount(const std::string& id, std::string& answer) {
  // An account the caller may not read is answered as one without a board
  // or a row: nothing tells the two apart.
  const bool readable = MayRead(id);
  std::string board;
  const std::string key = std::string(CTblAccount::TagName()) + "." + id;
  if (readable && ReadBoard(key, kAccountBoardSize, board, 0) != -1) {
    // The board holds records of other accounts too, each one JSON object
    // (the reader leaves out anything else), joined by ",": each is taken
    // whole, however its strings and nested members look.
    const char* const last = board.data() + board.size();
    for (const char* at = board.data(); at < last;) {
      const char* end = JsonValueEnd(at, last);
      if (end == nullptr) return;
      if (IsRecordOf(at, end, id)) {
        AppendEnvelope("0", std::string(at, end), answer);
        return;
      }
      // A record may end in blanks the JSON grammar allows (a tab, a line end).
      at = end + std::strspn(end, " \t\r\n");
      if (at < last && *at++ != ',') return;
    }
    return;
  }
  if (!shmSelDb_ || !ConnectDb()) {
    // The id as it came when it is a JSON number, else as a JSON string.
    AppendEnvelope("1", "{\"AccountID\":" + (IsJsonNumber(id) ? id : JsonQuoted(id)) + "}", answer);
    return;
  }
  if (!readable) return;
  const std::string sql =
      CSqlText("SELECT * FROM `Account`").Add(" WHERE `AccountId`=").Quoted(id).Text();
  std::vector<std::unique_ptr<CTblAccount>> accounts;
  if (client_->Select(sql, accounts, true) < 1 || accounts.empty()) return;
  AppendEnvelope("0", accounts.front()->ToJson(), answer);
}
