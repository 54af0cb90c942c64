// CStreamSettings: what the stream server takes from its environment, read
// once at start.
//
//   ZELVORA_STREAM_KEY           the key every request must bear (at least 32 characters,
//                                none of the FastCGI pool's keys)
//   ZELVORA_STREAM_SOCKET        the local socket to make and listen on, when
//                                standard input is not one already (systemd's)
//   ZELVORA_STREAM_MAX           subscribers of the host (1000)
//   ZELVORA_STREAM_BACKLOG       unsent bytes a subscriber may hold before it is dropped (1 MiB)
//   ZELVORA_STREAM_INTERVAL_MS   how often a watched board is read (20)
//   ZELVORA_STREAM_HEARTBEAT_MS  how often an idle stream hears from the server (15000)
//   ZELVORA_STREAM_WRITE_TIMEOUT_MS  how long a stream's queued bytes may wait for the peer
//                                to take any of them before the connection ends (60000)
//   ZELVORA_ACCESS               the grants file; unset: every caller reads every account
#ifndef ZELVORA_STREAM_STREAMSETTINGS_H_
#define ZELVORA_STREAM_STREAMSETTINGS_H_

#include <cstdint>
#include <string>

struct CStreamSettings {
  static constexpr size_t kMinKey = 32;

  std::string key;
  std::string socket;
  int64_t maxSubscribers = 1000;
  int64_t backlog = 1 << 20;
  int64_t intervalMs = 20;
  int64_t heartbeatMs = 15000;
  int64_t writeTimeoutMs = 60000;
  bool hasAccess = false;
  std::string access;

  // Reads the environment. 0, or -1 with `error` naming the setting and
  // why (a number out of its range, a key too short or shared with the pool).
  int Load(std::string& error);
};

#endif  // ZELVORA_STREAM_STREAMSETTINGS_H_
