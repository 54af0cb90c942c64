#include "stream/StreamSettings.h"

#include <cstdlib>
#include <cstring>

#include "util/Setting.h"

namespace {

// 0 with `value` set from variable `name` when it is set; -1 when it is not
// a whole number from `least` to `most` (the program's own number rule).
int ReadNumber(const char* name, int64_t least, int64_t most, int64_t& value, std::string& error) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return 0;
  if (!SettingNumber(text, CSettingRange{name, least, most, value}, value)) {
    error = std::string(name) + " must be a whole number from " + std::to_string(least) + " to " +
            std::to_string(most);
    return -1;
  }
  return 0;
}

// Overwrites the value of variable `name` where it lies and drops the
// variable. The process runs as the workers' user, and any process of that
// user reads /proc/PID/environ, which shows the environment's first memory
// as it is now: a key left there could be read by a worker a request took over.
void Wipe(const char* name) {
  char* value = std::getenv(name);
  if (value != nullptr) std::memset(value, 0, std::strlen(value));
  unsetenv(name);
}

}  // namespace

int CStreamSettings::Load(std::string& error) {
  const char* given = std::getenv("ZELVORA_STREAM_KEY");
  key = given != nullptr ? given : "";
  if (key.size() < kMinKey) {
    error = "ZELVORA_STREAM_KEY must hold at least 32 characters";
    return -1;
  }
  // The web server's key to the workers opens other doors: this one must be its own.
  for (const char* pool : {"ZELVORA_PEER_KEY", "ZELVORA_POOL_KEY"}) {
    const char* other = std::getenv(pool);
    if (other != nullptr && key == other) {
      error = std::string("ZELVORA_STREAM_KEY must differ from ") + pool;
      return -1;
    }
  }
  for (const char* secret : {"ZELVORA_STREAM_KEY", "ZELVORA_PEER_KEY", "ZELVORA_POOL_KEY"}) {
    Wipe(secret);
  }
  const char* access = std::getenv("ZELVORA_ACCESS");
  hasAccess = access != nullptr;
  this->access = hasAccess ? access : "";
  const char* socket = std::getenv("ZELVORA_STREAM_SOCKET");
  this->socket = socket != nullptr ? socket : "";
  if (ReadNumber("ZELVORA_STREAM_MAX", 1, 100000, maxSubscribers, error) != 0 ||
      ReadNumber("ZELVORA_STREAM_BACKLOG", 4096, 1 << 30, backlog, error) != 0 ||
      ReadNumber("ZELVORA_STREAM_INTERVAL_MS", 1, 1000, intervalMs, error) != 0 ||
      ReadNumber("ZELVORA_STREAM_HEARTBEAT_MS", 100, 600000, heartbeatMs, error) != 0 ||
      ReadNumber("ZELVORA_STREAM_WRITE_TIMEOUT_MS", 100, 600000, writeTimeoutMs, error) != 0) {
    return -1;
  }
  return 0;
}
