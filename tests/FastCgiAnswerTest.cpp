// A worker's answer on the wire: both streams whole and in order however
// they were cut into records, each stream's end once and last, the
// request's end after everything, and nothing more after a failed write.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <future>

#include "FastCgiAnswer.h"
#include "support/Process.h"

namespace {

TEST(FastCgiAnswer, WritesBothStreamsWholeAndEndsEachOnce) {
  std::string out, err;
  for (int i = 0; out.size() < 3 * CFastCgiAnswer::kHeldBytes + 5; ++i) out += std::to_string(i);
  for (int i = 0; err.size() < CFastCgiAnswer::kHeldBytes + 3; ++i)
    err += "line " + std::to_string(i) + "\n";
  int pair[2];
  CFastCgiAnswer answer;  // first to a peer gone: its failure must not reach the next answer
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  close(pair[1]);
  std::signal(SIGPIPE, SIG_IGN);
  answer.Begin(pair[0], 1);
  answer.Out(out.data(), out.size());
  EXPECT_FALSE(answer.End(0)) << "a peer gone";
  close(pair[0]);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::future<std::string> wire = std::async(std::launch::async, ReadAll, pair[1]);
  answer.Begin(pair[0], 0x1234);
  answer.Out(out.data(), 7);
  answer.Err(err.data(), 10);
  EXPECT_TRUE(answer.Flush());
  answer.Out(out.data() + 7, out.size() - 7);
  answer.Err(err.data() + 10, err.size() - 10);
  EXPECT_TRUE(answer.End(0x01020304));
  close(pair[0]);
  std::string streams[2], ends, got = wire.get();
  for (size_t at = 0; at + 8 <= got.size();) {
    const unsigned char* header = reinterpret_cast<const unsigned char*>(&got[at]);
    const size_t content = header[4] << 8 | header[5], whole = 8 + content + header[6];
    ASSERT_TRUE(header[0] == 1 && header[2] == 0x12 && header[3] == 0x34 &&
                at + whole <= got.size() &&
                (header[1] == 3 || content % 8 + header[6] == 8 || header[6] == 0))
        << "a record of type " << int(header[1]) << " at " << at;
    if (header[1] == 6 || header[1] == 7) streams[header[1] - 6] += got.substr(at + 8, content);
    if (content == 0 || header[1] == 3) ends += std::to_string(header[1]) + ",";
    if (header[1] == 3) ends += got.substr(at + 8, 5);
    at += whole;
  }
  EXPECT_EQ(streams[0], out);
  EXPECT_EQ(streams[1], err);
  EXPECT_EQ(ends, std::string("7,6,3,\x01\x02\x03\x04\x00", 11)) << "the ends";
}

}  // namespace
