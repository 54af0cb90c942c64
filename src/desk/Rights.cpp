// What the caller may see and change, and whoAmI, which tells the page.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "db/TblBase.h"
#include "desk/DeskService.h"
#include "util/Json.h"
#include "util/StringUtil.h"

namespace {

// One account id of the `Account` table.
struct CAccountId {
  explicit CAccountId(const MywRow& row) : id(ReadText(row, "AccountID")) {}
  std::string id;
};

// ["a","b"] of `accounts` in their order.
std::string JsonList(const std::set<std::string>& accounts) {
  std::string list = "[";
  for (const std::string& account : accounts) {
    if (list.size() > 1) list += ',';
    list += JsonQuoted(account);
  }
  return list + "]";
}

// True when `origin` ("scheme://host[:port]", as browsers send it) is this
// site's: its host and port exactly the request's non-empty `host`, its
// scheme https, or http when the request did not come over TLS.
bool ThisSite(const char* origin, const char* host, bool tls) {
  if (host == nullptr || *host == '\0') return false;
  const char* authority = nullptr;
  if (std::strncmp(origin, "https://", 8) == 0) {
    authority = origin + 8;
  } else if (!tls && std::strncmp(origin, "http://", 7) == 0) {
    authority = origin + 7;
  }
  return authority != nullptr && strcasecmp(authority, host) == 0;
}

// `accounts` with "*" replaced by every account of `known`.
void Expand(std::set<std::string>& accounts, const std::set<std::string>& known) {
  if (accounts.erase("*") != 0) accounts.insert(known.begin(), known.end());
}

}  // namespace

bool CDeskService::MayRead(const std::string& account) const {
  if (rules_ == nullptr || rules_->MayRead(user_, account)) return true;
  std::fprintf(stderr, "Access refused: user %s may not read account %s\n",
               Printable(user_).c_str(), Printable(account).c_str());
  return false;
}

bool CDeskService::MayTrade(const std::string& account) const {
  if (rules_ == nullptr || rules_->MayTrade(user_, account)) return true;
  std::fprintf(stderr, "Access refused: user %s may not trade account %s: nothing written\n",
               Printable(user_).c_str(), Printable(account).c_str());
  return false;
}

bool CDeskService::FromDeskPage() const {
  if (rules_ == nullptr) return true;
  // A form or a simple request of another site's page cannot carry a header
  // of its own; a script there could, only with this server's consent.
  const char* marked = std::getenv("HTTP_X_ZELVORA_REQUEST");
  if (marked == nullptr || std::strcmp(marked, "1") != 0) {
    std::fprintf(
        stderr,
        "Access refused: setImplPlan of user %s without X-Zelvora-Request: 1: nothing written\n",
        Printable(user_).c_str());
    return false;
  }
  // Browsers name the origin of every cross-site write; a request without
  // one came from no other site's page.
  const char* origin = std::getenv("HTTP_ORIGIN");
  if (origin == nullptr) return true;
  const char* host = std::getenv("HTTP_HOST");
  const char* https = std::getenv("HTTPS");
  if (ThisSite(origin, host, https != nullptr && strcasecmp(https, "on") == 0)) return true;
  std::fprintf(stderr,
               "Access refused: setImplPlan of user %s from Origin %s, not this site (%s): nothing "
               "written\n",
               Printable(user_).c_str(), Printable(origin).c_str(),
               Printable(host ? host : "no Host").c_str());
  return false;
}

void CDeskService::WhoAmI(const CMarkupNode*, std::string& answer) {
  std::set<std::string> read{"*"}, trade{"*"};
  if (rules_ != nullptr) {
    read = rules_->Readable(user_);
    trade = rules_->Tradable(user_);
  }
  const char* status = "0";
  if (read.count("*") != 0 || trade.count("*") != 0) {
    // "*" stands for the accounts the database knows; without it, only the
    // accounts the file names can be told.
    std::vector<std::unique_ptr<CAccountId>> rows;
    if (!ConnectDb() || client_->Select("SELECT `AccountID` FROM `Account`", rows) < 1) {
      status = "1";
    }
    if (!WithinBound(rows.size(), "records", kMaxAnswerRecords, maxRecords_)) return;
    std::set<std::string> known;
    for (const auto& row : rows) known.insert(row->id);
    Expand(read, known);
    Expand(trade, known);
  }
  answer = Envelope(status, "{\"User\":" + JsonQuoted(user_) + ",\"Read\":" + JsonList(read) +
                                ",\"Trade\":" + JsonList(trade) + "}");
}
