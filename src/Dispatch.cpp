#include "Dispatch.h"

#include <cstdio>

const char kResponseHeader[] = "Content-Type: text/plain \n";

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

int Dispatch(CDeskService& service, const std::string& method, const CMarkupNode* params) {
  std::string answer;
  const MethodHandler handler = FindMethod(method);
  if (handler != nullptr) (service.*handler)(params, answer);
  // A request over one of the program's bounds gets no part of its answer.
  if (service.Refused()) return -1;
  return WriteAnswer(answer);
}

int WriteAnswer(const std::string& answer) {
  if (answer.empty()) return -1;
  std::puts(kResponseHeader);
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  return 0;
}
