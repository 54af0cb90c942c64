#include "Dispatch.h"

namespace {

struct MethodEntry {
  const char* name;
  MethodHandler handler;
};

const MethodEntry kMethods[] = {
    {"getAccount", &CDeskService::GetAccount},
    {"getOffer", &CDeskService::GetOffer},
    {"getOrder", nullptr},
    {"getOpenTrade", &CDeskService::GetOpenTrade},
    {"getOpenTradeA", &CDeskService::GetOpenTradeA},
    {"getClosedTrade", &CDeskService::GetClosedTrade},
    {"getReport", &CDeskService::GetReport},
    {"getImplPlan", &CDeskService::GetImplPlan},
    {"setImplPlan", &CDeskService::SetImplPlan},
    {"getPriceBar", &CDeskService::GetPriceBar},
    {"getPlanHistory", &CDeskService::GetPlanHistory},
    {"whoAmI", &CDeskService::WhoAmI},
};

}  // namespace

MethodHandler FindMethod(const std::string& method) {
  for (const MethodEntry& entry : kMethods) {
    if (method == entry.name) return entry.handler;
  }
  return nullptr;
}

std::string Dispatch(CDeskService& service, const std::string& method, const CMarkupNode* params) {
  std::string answer;
  const MethodHandler handler = FindMethod(method);
  if (handler != nullptr) (service.*handler)(params, answer);
  // A request over one of the program's bounds gets no part of its answer.
  if (service.Refused()) answer.clear();
  return answer;
}
