#include "util/OwnFolder.h"

#include <sys/stat.h>
#include <unistd.h>

const char* UnfitFolder(int descriptor) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return "has a folder that cannot be examined";
  if (status.st_uid != geteuid() && status.st_uid != 0) return "has a folder of another user";
  if ((status.st_mode & 0022) != 0) return "has a folder others may write";
  return nullptr;
}
