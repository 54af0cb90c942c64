#include "support/Boards.h"

#include <dirent.h>
#include <unistd.h>

#include "shm/Board.h"
#include "shm/ShareMemory.h"

std::string UniqueKey(const std::string& prefix) {
  static int counter = 0;
  return prefix + ".zt" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

ScopedBoard::ScopedBoard(std::string key) : key_(std::move(key)) { CShareMemory::Unlink(key_); }

ScopedBoard::~ScopedBoard() { CShareMemory::Unlink(key_); }

std::string BoardImage(int32_t size, const std::string& header, int32_t indexSize,
                       const std::string& index, int32_t recordSize,
                       const std::vector<std::string>& records) {
  std::string image = header.substr(0, kBoardHeaderSize);
  image.resize(kBoardHeaderSize, ' ');
  std::string area = index.substr(0, static_cast<size_t>(indexSize));
  area.resize(static_cast<size_t>(indexSize), ' ');
  image += area;
  for (const std::string& record : records) {
    std::string padded = record.substr(0, static_cast<size_t>(recordSize));
    padded.resize(static_cast<size_t>(recordSize), ' ');
    image += padded;
  }
  image.resize(static_cast<size_t>(size), '\0');
  return image;
}

int WriteBoard(const std::string& key, const std::string& image) {
  CShareMemory memory;
  const int64_t size = static_cast<int64_t>(image.size());
  if (memory.Open(key, size, false, false) != 0) return -1;
  if (static_cast<int64_t>(memory.Available()) < size && memory.Resize(size, true) != 0) return -1;
  return memory.Write(0, image.data(), size, true);
}

bool BoardGone(const std::string& key) {
  return access(("/dev/shm/shm." + key).c_str(), F_OK) != 0 &&
         access(("/dev/shm/sem." + key).c_str(), F_OK) != 0;
}

void RemoveBoardsMarked(const std::string& marker) {
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if ((name.rfind("sem.", 0) == 0 || name.rfind("shm.", 0) == 0) &&
        name.find(marker) != std::string::npos) {
      unlink(("/dev/shm/" + name).c_str());
    }
  }
  closedir(dir);
}
