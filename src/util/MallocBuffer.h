// A byte buffer from malloc, freed on every path out of its scope. Used
// where an allocation failure must be reported (malloc answers null) rather
// than thrown.
#ifndef ZELVORA_UTIL_MALLOCBUFFER_H_
#define ZELVORA_UTIL_MALLOCBUFFER_H_

#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void* bytes) const { std::free(bytes); }
};
using MallocBuffer = std::unique_ptr<char, FreeDeleter>;

// `size` bytes; null (errno set) when malloc fails.
inline MallocBuffer AllocateBuffer(size_t size) {
  return MallocBuffer(static_cast<char*>(std::malloc(size)));
}

#endif  // ZELVORA_UTIL_MALLOCBUFFER_H_
