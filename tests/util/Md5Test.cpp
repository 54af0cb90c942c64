#include "util/Md5.h"

#include <gtest/gtest.h>

namespace {

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
  const struct {
    const char* message;
    const char* digest;
  } suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& entry : suite) EXPECT_EQ(Md5Hex(entry.message), entry.digest) << entry.message;
}

TEST(Md5, PiecesGiveTheDigestOfTheWhole) {
  // Lengths around the 56- and 64-byte padding edges, fed in uneven pieces.
  for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
    std::string message;
    for (size_t i = 0; i < length; ++i) message += static_cast<char>('a' + i % 26);
    CMd5 md5;
    for (size_t at = 0; at < length; at += 7) {
      md5.Update(message.data() + at, std::min<size_t>(7, length - at));
    }
    uint8_t digest[16];
    md5.Final(digest);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + i * 2, 3, "%02x", digest[i]);
    EXPECT_EQ(std::string(hex), Md5Hex(message)) << length;
  }
  // A million "a" bytes: a well-known digest beyond the RFC's own list.
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
