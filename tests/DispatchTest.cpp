#include "Dispatch.h"

#include <gtest/gtest.h>

#include "support/Process.h"

namespace {

TEST(FindMethod, RoutesEveryTableNameToItsOwnHandler) {
  const struct {
    const char* method;
    MethodHandler handler;
  } routes[] = {
      {"getAccount", &CDeskService::GetAccount},
      {"getOffer", &CDeskService::GetOffer},
      {"getOpenTrade", &CDeskService::GetOpenTrade},
      {"getOpenTradeA", &CDeskService::GetOpenTradeA},
      {"getClosedTrade", &CDeskService::GetClosedTrade},
      {"getReport", &CDeskService::GetReport},
      {"getImplPlan", &CDeskService::GetImplPlan},
      {"setImplPlan", &CDeskService::SetImplPlan},
      {"getPriceBar", &CDeskService::GetPriceBar},
  };
  for (const auto& route : routes) {
    EXPECT_TRUE(FindMethod(route.method) == route.handler) << "method " << route.method;
  }
}

TEST(FindMethod, ComparesWholeNamesExactly) {
  const std::string misses[] = {"getOrder",   "GETACCOUNT", "getaccount",     "getAccount ",
                                " getOffer",  "",           std::string("getOffer\0", 9),
                                "getOpenTradeAB", "getOpen", "setimplplan"};
  for (const auto& name : misses) {
    EXPECT_TRUE(FindMethod(name) == nullptr) << "method " << ::testing::PrintToString(name);
  }
}

TEST(Dispatch, WritesNothingWhenNoAnswerCameBack) {
  CDeskService service;
  for (const char* method : {"getOrder", "nope", "getPriceBar", "getOpenTradeA"}) {
    int result = 0;
    const std::string out = CaptureStream(stdout, [&] { result = Dispatch(service, method, nullptr); });
    EXPECT_EQ(result, -1) << method;
    EXPECT_EQ(out, "") << method;
  }
}

TEST(WriteAnswer, WritesHeaderThenTheAnswerVerbatim) {
  const std::string answers[] = {"{\"status\":0, \"data\":[]}", "%d %s %n 100%",
                                 std::string("a\0b\n", 4), "ok"};
  for (const auto& answer : answers) {
    int result = -1;
    const std::string out = CaptureStream(stdout, [&] { result = WriteAnswer(answer); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Content-Type: text/plain \n\n" + answer) << ::testing::PrintToString(answer);
  }
}

TEST(WriteAnswer, EmptyAnswerWritesNothing) {
  int result = 0;
  const std::string out = CaptureStream(stdout, [&] { result = WriteAnswer(""); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out, "");
}

}  // namespace
