#include "desk/Zelvora.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ShmSelDb, OnlyTheExactTextOneAllowsTheDatabase) {
  const struct {
    const char* value;  // null: unset
    bool allowed;
  } cases[] = {{nullptr, false}, {"", false},   {"0", false}, {"10", false},
               {" 1", false},    {"01", false}, {"1 ", false}, {"1", true}};
  for (const auto& c : cases) {
    if (c.value == nullptr) {
      unsetenv("SHM_SEL_DB");
    } else {
      setenv("SHM_SEL_DB", c.value, 1);
    }
    CDeskService service;
    EXPECT_EQ(service.ShmSelDb(), c.allowed) << "SHM_SEL_DB=" << (c.value ? c.value : "(unset)");
  }
  unsetenv("SHM_SEL_DB");
}

TEST(StatusText, OnlyMinusOneIsFailure) {
  EXPECT_STREQ(CDeskService::StatusText(-1), "1");
  for (int32_t code : {0, 1, -2, INT32_MIN, INT32_MAX}) {
    EXPECT_STREQ(CDeskService::StatusText(code), "0") << code;
  }
}

}  // namespace
