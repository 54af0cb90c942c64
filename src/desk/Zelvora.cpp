#include "desk/Zelvora.h"

#include <cstdlib>
#include <cstring>

CDeskService::CDeskService() {
  const char* selDb = std::getenv("SHM_SEL_DB");
  shmSelDb_ = selDb != nullptr && std::strcmp(selDb, "1") == 0;
}

const char* CDeskService::StatusText(int32_t code) { return code == -1 ? "1" : "0"; }

// The method handlers are filled in as their data sources arrive; until then
// each leaves its answer empty, which the dispatcher reports as no answer.
void CDeskService::GetAccount(const CMarkupNode*, std::string&) {}
void CDeskService::GetOffer(const CMarkupNode*, std::string&) {}
void CDeskService::GetOpenTrade(const CMarkupNode*, std::string&) {}
void CDeskService::GetOpenTradeA(const CMarkupNode*, std::string&) {}
void CDeskService::GetClosedTrade(const CMarkupNode*, std::string&) {}
void CDeskService::GetReport(const CMarkupNode*, std::string&) {}
void CDeskService::GetImplPlan(const CMarkupNode*, std::string&) {}
void CDeskService::SetImplPlan(const CMarkupNode*, std::string&) {}
void CDeskService::GetPriceBar(const CMarkupNode*, std::string&) {}
