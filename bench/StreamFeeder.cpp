// The feeder of bench/stream: writes the 40-symbol offer board (records of
// 200 bytes, the 4,000-byte index) 10 times a second, each time changing 4
// symbols in turn, with the whole segment written at once under the
// board's lock as a desk's feeder does. Each changed record carries "T",
// the wall-clock time of its write in microseconds, for the clients to
// time its arrival.
//   bench_stream_feeder SECONDS
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "shm/Board.h"
#include "shm/ShareMemory.h"

namespace {

const int kSymbols = 40, kChanged = 4, kRecordSize = 200, kIndexSize = 4000, kBoardSize = 64032;

long long NowMicros() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

std::string Record(int symbol, long long tick, long long micros) {
  char text[kRecordSize + 1];
  const double bid = 1.08 + (tick % 1000) * 0.00001;
  std::snprintf(text, sizeof text,
                "{\"OfferID\":\"S%02d\",\"Symbol\":\"S%02d\",\"Bid\":%.6f,\"Ask\":%.6f,"
                "\"PipCost\":10.000000,\"PointSize\":0.000100,\"T\":%lld}",
                symbol, symbol, bid, bid + 0.0002, micros);
  std::string record(text);
  record.resize(kRecordSize, ' ');
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  CShareMemory memory;
  if (memory.Open("offer", kBoardSize, false, true) != 0) {
    std::perror("bench_stream_feeder: offer board");
    return 1;
  }
  std::string records[kSymbols], index = "{";
  for (int s = 0; s < kSymbols; ++s) {
    records[s] = Record(s, 0, 0);
    index += (s > 0 ? ",\"S" : "\"S") + std::string(s < 10 ? "0" : "") + std::to_string(s) +
             "\":" + std::to_string(s);
  }
  index += "}";
  index.resize(kIndexSize, ' ');
  const long long end = NowMicros() + seconds * 1000000LL;
  for (long long tick = 1; NowMicros() < end; ++tick) {
    const long long micros = NowMicros();
    for (int c = 0; c < kChanged; ++c) {
      const int symbol = static_cast<int>((tick * kChanged + c) % kSymbols);
      records[symbol] = Record(symbol, tick, micros);
    }
    std::string segment = FormatBoardHeader(kSymbols, kRecordSize) + index;
    for (const std::string& record : records) segment += record;
    if (memory.Write(0, segment.data(), static_cast<int64_t>(segment.size()), true) != 0) {
      std::perror("bench_stream_feeder: write");
      return 1;
    }
    const long long left = 100000 - (NowMicros() - micros);
    if (left > 0) usleep(static_cast<useconds_t>(left));
  }
  return 0;
}
