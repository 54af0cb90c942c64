// Number texts and what a diagnostic shows of a request's text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "util/StringUtil.h"

namespace {

// Numbers are written and read without printf and strtod: every text must
// still be theirs, ties at the sixth decimal (m/128), signs of zero, the
// extremes, and random doubles of every exponent.
TEST(StringUtil, NumbersAreTheTextsOfPrintfAndStrtod) {
  const double d = std::numeric_limits<double>::denorm_min();
  std::vector<double> values{0.0,
                             -0.0,
                             1.0 / 128,
                             3.0 / 128,
                             2.5e-7,
                             -4e-7,
                             1e300,
                             d,
                             HUGE_VAL,
                             NAN,
                             1000250.5,
                             9.2e18,
                             std::nextafter(9.2e18, 0.0),
                             -std::nextafter(9.2e18, 0.0)};
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(i % 2 == 0 ? value : std::ldexp(static_cast<double>(bits >> 11), i % 90 - 80));
  }
  const char* cells[] = {" 1.5",  "+2", "0x10", "1e999", "4.9e-324",
                         "12abc", "",   "-",    "nan",   "1.0000000000000001"};
  std::vector<char> printed(400);
  for (const double value : values) {
    std::snprintf(printed.data(), printed.size(), "%lf", value);
    ASSERT_EQ(DoubleToText(value), printed.data()) << "written";
    const double back = TextToDouble(printed.data());
    const double expected = std::strtod(printed.data(), nullptr);
    ASSERT_TRUE(std::memcmp(&back, &expected, sizeof back) == 0 || std::isnan(expected))
        << "read: " << printed.data();
  }
  std::vector<std::string> texts(std::begin(cells), std::end(cells));
  for (int decimals = 0; decimals <= 23; ++decimals) {  // every power of ten the reader divides by
    std::string digits = std::to_string(random() % 1000000000000000u);
    digits.insert(
        0, decimals + 1 > static_cast<int>(digits.size()) ? decimals + 1 - digits.size() : 0, '0');
    texts.push_back((decimals % 2 ? "-" : "") + digits.insert(digits.size() - decimals, "."));
  }
  for (const std::string& text : texts) {
    const char* cell = text.c_str();
    const double back = TextToDouble(cell), expected = std::strtod(cell, nullptr);
    EXPECT_TRUE(std::memcmp(&back, &expected, sizeof back) == 0 || std::isnan(expected)) << cell;
  }
}

// What a diagnostic shows of a request's text: nothing that can end or forge
// a log line, or garble its encoding.
TEST(StringUtil, PrintableEscapesWhatCouldForgeALogLine) {
  const std::string cases[][2] = {
      {"a\nb\x1b[2J\x7f", "a\\x0Ab\\x1B[2J\\x7F"},
      {"\xff\xe6\x97", "\\xFF\\xE6\\x97"},
      {"\xc2\x85\xc2\x9b\xc2\xa0", "\\xC2\\x85\\xC2\\x9B\xc2\xa0"},
      {"\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xa6", "\\xE2\\x80\\xA8\\xE2\\x80\\xA9\xe2\x80\xa6"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c[0]), c[1]) << ::testing::PrintToString(c[0]);
}

}  // namespace
