// Test support: real board segments under keys unique to this process, and
// raw segment images for hostile headers. Every board made here is removed
// again when its ScopedBoard goes.
#ifndef ZELVORA_TESTS_SUPPORT_BOARDS_H_
#define ZELVORA_TESTS_SUPPORT_BOARDS_H_

#include <cstdint>
#include <string>
#include <vector>

// "PREFIX.zt<pid>-<n>": a key that no other test run uses.
std::string UniqueKey(const std::string& prefix);

// Owns a board key: removes the object and the semaphore at construction
// (leftovers) and at destruction.
class ScopedBoard {
 public:
  explicit ScopedBoard(std::string key);
  ~ScopedBoard();
  ScopedBoard(const ScopedBoard&) = delete;
  ScopedBoard& operator=(const ScopedBoard&) = delete;
  const std::string& Key() const { return key_; }

 private:
  std::string key_;
};

// A board image of `size` bytes: `header` (12 bytes, or anything shorter
// that is blank-padded), `index` blank-padded to `indexSize`, then the
// records blank-padded to `recordSize`; zero bytes after them.
std::string BoardImage(int32_t size, const std::string& header, int32_t indexSize,
                       const std::string& index, int32_t recordSize,
                       const std::vector<std::string>& records);

// Creates or rewrites the object of `key` with exactly `image` (mapped
// PageSize(image.size()), written under the semaphore). 0 or -1.
int WriteBoard(const std::string& key, const std::string& image);

// Removes every board object and semaphore whose key holds `marker` (the
// program creates a semaphore for every key it tries, found or not).
void RemoveBoardsMarked(const std::string& marker);

// True when neither "shm.KEY" nor "sem.KEY" exists in /dev/shm.
bool BoardGone(const std::string& key);

#endif  // ZELVORA_TESTS_SUPPORT_BOARDS_H_
