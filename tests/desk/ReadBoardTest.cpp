// The service's board readers on real segments: what they append, and the
// exact diagnostics of each failing step.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "desk/Zelvora.h"
#include "shm/ShareMemory.h"
#include "support/Boards.h"
#include "support/Process.h"

namespace {

struct Read {
  int result;
  std::string out;
  std::string err;
};

Read ReadAll(const std::string& key, int32_t size, int32_t indexSize, std::string out = "") {
  CDeskService service;
  Read read{0, "", ""};
  read.err = CaptureStream(stderr, [&] { read.result = service.ReadBoard(key, size, out, indexSize); });
  read.out = out;
  return read;
}

Read ReadKeys(const std::string& key, int32_t size, int32_t indexSize,
              const std::vector<std::string>& texts) {
  std::vector<std::unique_ptr<CMarkupNode>> nodes;
  std::vector<const CMarkupNode*> keys;
  for (const auto& text : texts) {
    nodes.push_back(std::make_unique<CMarkupNode>());
    nodes.back()->name = "symbol";
    nodes.back()->text = text;
    keys.push_back(nodes.back().get());
  }
  CDeskService service;
  Read read{0, "", ""};
  std::string out;
  read.err = CaptureStream(
      stderr, [&] { read.result = service.ReadBoardByKeys(key, size, out, indexSize, keys); });
  read.out = out;
  return read;
}

std::string SystemText(int error) {
  return "[" + std::to_string(error) + "] " + std::strerror(error);
}

const char kAccounts[][40] = {"{\"AccountID\":\"7\",\"Balance\":1}",
                              "{\"AccountID\":\"70\",\"Balance\":2}",
                              "{\"AccountID\":\"700\",\"Balance\":3}"};

TEST(ReadBoard, AppendsEveryRecordOfTheCopy) {
  ScopedBoard board(UniqueKey("account"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "     3    60", 0, "", 60,
                                               {kAccounts[0], kAccounts[1], kAccounts[2]})),
            0);
  const Read read = ReadAll(board.Key(), 1812, 0, "[prior]");
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.out, std::string("[prior],") + kAccounts[0] + "," + kAccounts[1] + "," +
                          kAccounts[2]);
  EXPECT_EQ(read.err, "");
}

TEST(ReadBoard, EmptyBoardIsReadWithNothingAppended) {
  ScopedBoard board(UniqueKey("trade"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(114012, "     0   100", 0, "", 100, {})), 0);
  const Read read = ReadAll(board.Key(), 114012, 0);
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.out, "");
  EXPECT_EQ(read.err, "");
}

TEST(ReadBoard, MissingBoardNamesTheKeyAndTheSystemError) {
  ScopedBoard board(UniqueKey("account"));
  const Read read = ReadAll(board.Key(), 1812, 0, "kept");
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.out, "kept");
  EXPECT_EQ(read.err, "ShareMemory[" + board.Key() + "] open failed.\n" + SystemText(ENOENT) + "\n");
  EXPECT_EQ(access(("/dev/shm/shm." + board.Key()).c_str(), F_OK), -1);  // never created
}

TEST(ReadBoard, RefusedSemaphoreNameIsReportedAsSuch) {
  const Read read = ReadAll("account.bad/key", 1812, 0);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.err, "Semaphore[account.bad/key] open failed.\n" + SystemText(EINVAL) + "\n");
}

TEST(ReadBoard, SegmentShorterThanTheBoardIsAReadError) {
  ScopedBoard board(UniqueKey("account"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(600, "     1    10", 0, "", 10, {"{}"})), 0);
  // Shrink the object below the 1812 bytes the reader copies.
  const int fd = shm_open(("shm." + board.Key()).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 600), 0);
  close(fd);
  const Read read = ReadAll(board.Key(), 1812, 0);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.out, "");
  EXPECT_EQ(read.err, "filename[src/desk/Zelvora], line[63] read error. " + SystemText(EINVAL) +
                          "\n");
}

TEST(ReadBoard, BrokenHeaderIsRefusedWithItsReason) {
  ScopedBoard board(UniqueKey("account"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "    19   100", 0, "", 100, {"{}"})), 0);
  const Read read = ReadAll(board.Key(), 1812, 0);
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.out, "");
  EXPECT_EQ(read.err, "ShareMemory[" + board.Key() +
                          "] broken board: count 19 of 100 bytes does not fit 1812\n");
}

TEST(ReadBoard, SegmentAllocationFailureIsReported) {
#ifdef ZELVORA_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime cannot start under an address-space limit";
#endif
  ScopedBoard board(UniqueKey("account"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(1812, "     0    10", 0, "", 10, {})), 0);
  const ProcessResult child = RunInChild(
      [&] {
        CDeskService service;
        std::string out;
        return service.ReadBoard(board.Key(), 1500000000, out, 0) == -1 ? 0 : 1;
      },
      256L << 20);
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.err, "filename[src/desk/Zelvora], line[59] malloc error. " +
                           SystemText(ENOMEM) + "\n");
}

std::string OfferBoard() {
  return BoardImage(64032, "     3    80", 4000,
                    "{\"EURUSD\":0,\"USDJPY\":1,\"GBPUSD\":2}   ", 80,
                    {"{\"Symbol\":\"EURUSD\"}", "{\"Symbol\":\"USDJPY\"}", "{\"Symbol\":\"GBPUSD\"}"});
}

TEST(ReadBoardByKeys, TakesTheIndexedRecordsInKeyOrder) {
  ScopedBoard board(UniqueKey("offer"));
  ASSERT_EQ(WriteBoard(board.Key(), OfferBoard()), 0);
  const Read read = ReadKeys(board.Key(), 64032, 4000, {"USDJPY", "CHFJPY", "EURUSD", "USDJPY"});
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.out,
            "{\"Symbol\":\"USDJPY\"},{\"Symbol\":\"EURUSD\"},{\"Symbol\":\"USDJPY\"}");
  EXPECT_EQ(read.err, "");
}

TEST(ReadBoardByKeys, NoKeysStillNeedsTheBoard) {
  ScopedBoard board(UniqueKey("offer"));
  ASSERT_EQ(WriteBoard(board.Key(), OfferBoard()), 0);
  const Read found = ReadKeys(board.Key(), 64032, 4000, {});
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.out, "");
  ScopedBoard missing(UniqueKey("offer"));
  EXPECT_EQ(ReadKeys(missing.Key(), 64032, 4000, {}).result, -1);
}

TEST(ReadBoardByKeys, IndexThatIsNotJsonIsReportedWithTheParserText) {
  ScopedBoard board(UniqueKey("offer"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(64032, "     1    80", 4000, "EURUSD=0", 80,
                                               {"{\"Symbol\":\"EURUSD\"}"})),
            0);
  const Read read = ReadKeys(board.Key(), 64032, 4000, {"EURUSD"});
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.out, "");
  const std::string prefix = "filename[src/desk/Zelvora], line[115] malloc error. syntax error";
  EXPECT_EQ(read.err.substr(0, prefix.size()), prefix) << read.err;
  EXPECT_EQ(read.err.back(), '\n');
}

TEST(ReadBoardByKeys, IndexThatIsNotAnObjectIsRefused) {
  ScopedBoard board(UniqueKey("offer"));
  ASSERT_EQ(WriteBoard(board.Key(), BoardImage(64032, "     1    80", 4000, "[0]", 80, {"{}"})), 0);
  const Read read = ReadKeys(board.Key(), 64032, 4000, {"EURUSD"});
  EXPECT_EQ(read.result, -1);
  EXPECT_EQ(read.err, "ShareMemory[" + board.Key() + "] broken board: index is not a JSON object\n");
}

}  // namespace
