#include "stream/StreamAsk.h"

#include <event2/http.h>
#include <event2/keyvalq_struct.h>

#include <algorithm>
#include <cstring>

#include "desk/AccessRules.h"
#include "shm/Board.h"
#include "util/StringUtil.h"

namespace {

// True when `text` is 1 to 32 bytes of letters, digits and `others`.
bool IsWord(const std::string& text, const char* others) {
  return !text.empty() && text.size() <= 32 &&
         std::all_of(text.begin(), text.end(), [others](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c != '\0' && std::strchr(others, c) != nullptr);
         });
}

// The query's values by name (the first of a name given twice); null for
// a query that does not parse.
class CQuery {
 public:
  explicit CQuery(const char* query) {
    pairs_.tqh_first = nullptr;
    pairs_.tqh_last = &pairs_.tqh_first;
    ok_ = evhttp_parse_query_str(query != nullptr ? query : "", &pairs_) == 0;
  }
  ~CQuery() { evhttp_clear_headers(&pairs_); }
  CQuery(const CQuery&) = delete;
  CQuery& operator=(const CQuery&) = delete;
  bool Ok() const { return ok_; }
  const char* Find(const char* name) { return evhttp_find_header(&pairs_, name); }

 private:
  evkeyvalq pairs_;
  bool ok_;
};

void AddAccount(const std::string& id, CStreamAsk& ask) {
  if (std::find(ask.accounts.begin(), ask.accounts.end(), id) != ask.accounts.end()) return;
  ask.accounts.push_back(id);
  ask.topics.push_back({TopicKind::kAccount, "account:" + id, BoardKey(kAccountBoard, id), id});
  ask.topics.push_back({TopicKind::kTrades, "trades:" + id, BoardKey(kTradeBoard, id), id});
}

// The bars topic of `symbol` and `period`; false when either is not a word.
bool AddBars(const char* symbol, const char* period, CStreamAsk& ask) {
  if (symbol == nullptr || period == nullptr || !IsWord(symbol, "._-/") || !IsWord(period, "")) {
    return false;
  }
  // EUR/USD and EURUSD name the same board.
  std::string plain = symbol;
  ReplaceAll(plain, "/", "");
  if (plain.empty()) return false;
  ask.topics.push_back({TopicKind::kBars, "bars:" + plain + ":" + period,
                        BoardKey(kPriceBarBoard, plain + period), ""});
  ask.bars = true;
  return true;
}

}  // namespace

int CStreamAsk::Parse(const char* path, const char* query, std::string& why) {
  const std::string route = path != nullptr ? path : "";
  CQuery values(query);
  why = "bad parameters\n";
  if (!values.Ok()) return 400;
  if (route == "/stream/offers") {
    topics.push_back({TopicKind::kOffers, "offers", BoardKey(kOfferBoard), ""});
    return 0;
  }
  if (route == "/stream/account") {
    const char* id = values.Find("id");
    if (id == nullptr || !CAccessRules::IsAccountId(id)) return 400;
    AddAccount(id, *this);
    return 0;
  }
  if (route == "/stream/bars")
    return AddBars(values.Find("symbol"), values.Find("period"), *this) ? 0 : 400;
  if (route != "/stream/desk") {
    why = "unknown path\n";
    return 404;
  }
  topics.push_back({TopicKind::kOffers, "offers", BoardKey(kOfferBoard), ""});
  const char* symbol = values.Find("symbol");
  const char* period = values.Find("period");
  if ((symbol != nullptr || period != nullptr) && !AddBars(symbol, period, *this)) return 400;
  const char* list = values.Find("accounts");
  if (list == nullptr) return 0;
  std::vector<std::string> ids;
  SplitAny(list, ",", ids);
  if (ids.empty() || ids.size() > kMaxIds) return 400;
  for (const std::string& id : ids) {
    if (!CAccessRules::IsAccountId(id)) return 400;
    AddAccount(id, *this);
  }
  return 0;
}
