#include "Request.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "markup/MarkupDoc.h"

namespace {

void SetOrUnset(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

TEST(AcceptedBodyLength, AppliesStrtolAndTheStrictLimit) {
  const struct {
    const char* length;  // null: unset
    const char* limit;
    int32_t accepted;
  } cases[] = {
      {nullptr, "100", -1},    {"0", "100", -1},       {"-5", "100", -1},
      {"abc", "100", -1},      {"", "100", -1},        {"100", "100", -1},
      {"100", "101", 100},     {"100", nullptr, -1},   {"100", "abc", -1},
      {"  42xyz", "43", 42},   {"+7", " 8", 7},        {"7", "-8", -1},
      {"4294967297", "10", 1},  // held in 32 bits
      {"2147483648", "99", -1}, {"99", "4294967396", 99},
  };
  for (const auto& c : cases) {
    SetOrUnset("CONTENT_LENGTH", c.length);
    SetOrUnset("MAX_CONTENT_LENGTH", c.limit);
    EXPECT_EQ(AcceptedBodyLength(), c.accepted)
        << "CONTENT_LENGTH=" << (c.length ? c.length : "(unset)")
        << " MAX_CONTENT_LENGTH=" << (c.limit ? c.limit : "(unset)");
  }
  unsetenv("CONTENT_LENGTH");
  unsetenv("MAX_CONTENT_LENGTH");
}

std::string ReadFrom(const std::string& input, int32_t length, int32_t* count) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::string buffer(static_cast<size_t>(length), '#');
  *count = ReadBody(in, &buffer[0], length);
  std::string rest;
  for (int c; (c = std::getc(in)) != EOF;) rest += static_cast<char>(c);
  std::fclose(in);
  return buffer.substr(0, static_cast<size_t>(*count)) + "|" + rest;
}

TEST(ReadBody, StopsAtTheAnnouncedLengthOrAtEndOfInput) {
  int32_t count = 0;
  EXPECT_EQ(ReadFrom("abcdef", 4, &count), "abcd|ef");
  EXPECT_EQ(count, 4);
  EXPECT_EQ(ReadFrom("ab", 4, &count), "ab|");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(ReadFrom("", 4, &count), "|");
  EXPECT_EQ(count, 0);
  const std::string binary("\0\xff\x1a\r\n", 5);
  EXPECT_EQ(ReadFrom(binary, 5, &count), binary + "|");
  EXPECT_EQ(count, 5);
}

const CMarkupNode* MethodOf(const std::string& body, CMarkupDoc& doc) {
  doc.Parse(body.data(), static_cast<int32_t>(body.size()));
  return FindMethodNode(doc.Root());
}

TEST(FindMethodNode, NeedsTheZelvoraRoot) {
  const struct {
    const char* body;
    const char* method;  // null: no method node
  } cases[] = {
      {"<zelvora><method>getOffer</method></zelvora>", "getOffer"},
      {"<ZELVORA><Method>getOffer</Method></ZELVORA>", "getOffer"},
      {"<request><zelvora><method>getOffer</method></zelvora></request>", nullptr},
      {"<zelvora><params><x><method>deep</method></x></params><method>late</method></zelvora>",
       "deep"},
      {"<zelvora><params/></zelvora>", nullptr},
      {"<zelvora x=1>", nullptr},
      {"", nullptr},
      {"zelvora", nullptr},
      {"<zelvora ><method> getAccount </method>", "getAccount"},
  };
  for (const auto& c : cases) {
    CMarkupDoc doc;
    const CMarkupNode* method = MethodOf(c.body, doc);
    if (c.method == nullptr) {
      EXPECT_EQ(method, nullptr) << "body: " << c.body;
    } else {
      ASSERT_NE(method, nullptr) << "body: " << c.body;
      EXPECT_EQ(method->text, c.method) << "body: " << c.body;
    }
  }
}

}  // namespace
