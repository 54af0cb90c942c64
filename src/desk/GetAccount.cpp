// getAccount: one envelope per "accountid" child of params, from the
// account's board, or from `Account` when the board cannot be read and the
// database may stand in.
#include <algorithm>

#include "db/RecordText.h"
#include "db/SqlText.h"
#include "db/TblAccount.h"
#include "desk/Zelvora.h"
#include "shm/Board.h"
#include "util/StringUtil.h"

namespace {

const int32_t kAccountBoardSize = 1812;

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
    if (!WithinBound(static_cast<uint64_t>(ids), "ids", "MAX_REQUEST_IDS", maxIds_)) return;
    for (const auto& child : params->children) {
      if (child->name == "accountid") AppendAccount(child->text, answer);
    }
  }
  answer = "[" + answer + "]";
}

void CDeskService::AppendAccount(const std::string& id, std::string& answer) {
  std::string board;
  const std::string key = std::string(CTblAccount::TagName()) + "." + id;
  if (ReadBoard(key, kAccountBoardSize, board, 0) != -1) {
    // The board holds records of other accounts too: the closing quote of
    // the needle keeps 70 from matching 700.
    const std::string needle = "\"AccountID\":\"" + id + "\"";
    std::vector<std::string> pieces;
    SplitText(board.c_str(), "},", pieces);
    for (std::string& piece : pieces) {
      if (piece.empty() || piece.find(needle) == std::string::npos) continue;
      if (piece.back() != '}') piece += '}';
      AppendEnvelope("0", piece, answer);
      return;
    }
    return;
  }
  if (!shmSelDb_ || !ConnectDb()) {
    // The id as it came when it is a JSON number, else as a JSON string.
    AppendEnvelope("1", "{\"AccountID\":" + (IsJsonNumber(id) ? id : JsonQuoted(id)) + "}", answer);
    return;
  }
  const std::string sql =
      CSqlText("SELECT * FROM `Account`").Add(" WHERE `AccountId`=").Quoted(id).Text();
  std::vector<std::unique_ptr<CTblAccount>> accounts;
  if (client_->Select(sql, accounts, true) < 1 || accounts.empty()) return;
  AppendEnvelope("0", accounts.front()->ToJson(), answer);
}
