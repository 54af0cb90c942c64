#include "shm/BoardOwner.h"

#include <pwd.h>

#include <cstdlib>
#include <string>

int BoardOwner(uid_t& uid) {
  static std::string keptName;
  static uid_t keptUid = 0;
  const char* text = std::getenv("SHM_OWNER");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (*end == '\0' && number <= static_cast<uid_t>(-2)) {
    uid = static_cast<uid_t>(number);
    return 1;
  }
  if (keptName != text) {
    const struct passwd* user = getpwnam(text);
    if (user == nullptr) return -1;
    keptName = text;
    keptUid = user->pw_uid;
  }
  uid = keptUid;
  return 1;
}
