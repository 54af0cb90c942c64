// zelvora-stream: pushes the desk's boards to the browsers as server-sent
// events, one process per host behind the desk's web server. The settings
// are its environment (stream/StreamSettings.h); it says where it listens
// on standard error, and exits 0 after a clean stop (SIGTERM), 78 when its
// settings are wrong (not restarted), 1 when it cannot start otherwise.
#include <sys/prctl.h>
#include <sys/random.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stream/StreamServer.h"

int main() {
  // The key stays in this heap: no process of our user may read /proc/PID/mem or attach.
  prctl(PR_SET_DUMPABLE, 0);
  CStreamSettings settings;
  std::string error;
  if (settings.Load(error) != 0) {
    std::fprintf(stderr, "zelvora-stream: %s\n", error.c_str());
    return 78;
  }
  if (std::getenv("ZELVORA_STREAM_PORT") != nullptr) {
    std::fprintf(
        stderr,
        "zelvora-stream: ZELVORA_STREAM_PORT is not read: the server listens on its socket "
        "alone. A web server that still sends streams to that port sends them, with the "
        "key, to whoever takes it: render its file anew with ZELVORA_STREAM_SOCKET\n");
  }
  uint64_t run = 0;
  if (getrandom(&run, sizeof run, 0) != static_cast<ssize_t>(sizeof run)) {
    std::fprintf(stderr, "zelvora-stream: no random value for the run's ids\n");
    return 1;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, run);
  SetRun(text);
  CStreamServer server(settings);
  if (server.Start(error) != 0) {
    std::fprintf(stderr, "zelvora-stream: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "zelvora-stream: listening on %s\n", server.Where().c_str());
  return server.Run() == 0 ? 0 : 1;
}
