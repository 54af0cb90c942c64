// The reader's cost for the largest board: open, copy 172812 bytes under
// the semaphore, close, and cut the copy into record texts. It writes
// boards, so it runs only in a /dev/shm of its own:
//   scripts/private-shm --or-skip build/bench/bench_board
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "desk/DeskService.h"
#include "shm/Board.h"
#include "shm/ShareMemory.h"

namespace {

const int32_t kSize = 172812;

// Never on the machine's own /dev/shm, where a desk's boards may live.
const bool kPrivateShm = [] {
  if (std::getenv("ZELVORA_PRIVATE_SHM") != nullptr) return true;
  std::fputs(
      "bench_board: skipped: it writes boards; run it as scripts/private-shm --or-skip "
      "build/bench/bench_board\n",
      stderr);
  std::exit(0);
}();

// A full price-bar board: as many 170-byte records as fit.
std::string PriceBarImage() {
  const int32_t recordSize = 170;
  const int32_t count = (kSize - kBoardHeaderSize) / recordSize;
  std::string image = FormatBoardHeader(count, recordSize);
  for (int32_t i = 0; i < count; ++i) {
    std::string record = "{\"Symbol\":\"EURUSD\",\"Period\":\"1\",\"Time\":\"2026/12/05 09:" +
                         std::to_string(i % 60) + ":00\",\"Open\":1.08001,\"High\":1.08012," +
                         "\"Low\":1.07990,\"Close\":1.08005,\"Volume\":" + std::to_string(i) + "}";
    record.resize(static_cast<size_t>(recordSize), ' ');
    image += record;
  }
  image.resize(static_cast<size_t>(kSize), '\0');
  return image;
}

void BM_ReadPriceBarBoard(benchmark::State& state) {
  const std::string key = "pricebar.BENCH" + std::to_string(getpid());
  {
    CShareMemory memory;
    const std::string image = PriceBarImage();
    if (memory.Open(key, kSize, false, false) != 0 ||
        memory.Write(0, image.data(), kSize, true) != 0) {
      state.SkipWithError("cannot write the board");
      return;
    }
  }
  CDeskService service;
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    if (service.ReadBoard(key, kSize, out, 0) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  CShareMemory::Unlink(key);
  state.counters["reads_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["answer_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_ReadPriceBarBoard);

}  // namespace

namespace {

// The offer board read through its index for two symbols, as getOffer does.
void BM_ReadOfferBoardByKeys(benchmark::State& state) {
  const std::string key = "offer.BENCH" + std::to_string(getpid());
  const char* symbols[] = {"EURUSD", "USDJPY", "GBPUSD", "AUDUSD", "USDCHF", "USDCAD",
                           "NZDUSD", "EURJPY", "GBPJPY", "EURGBP", "AUDJPY", "EURCHF"};
  std::string index = "{", records;
  for (int i = 0; i < 12; ++i) {
    index += std::string(i ? "," : "") + "\"" + symbols[i] + "\":" + std::to_string(i);
    std::string record = std::string("{\"Symbol\":\"") + symbols[i] + "\",\"Bid\":1.084200}";
    record.resize(200, ' ');
    records += record;
  }
  index += "}";
  index.resize(4000, ' ');
  std::string image = FormatBoardHeader(12, 200) + index + records;
  image.resize(64032, '\0');
  {
    CShareMemory memory;
    if (memory.Open(key, 64032, false, false) != 0 ||
        memory.Write(0, image.data(), 64032, true) != 0) {
      state.SkipWithError("cannot write the board");
      return;
    }
  }
  CMarkupNode first, second;
  first.text = "USDJPY";
  second.text = "EURUSD";
  CDeskService service;
  for (auto _ : state) {
    std::string out;
    if (service.ReadBoardByKeys(key, 64032, out, 4000, {&first, &second}) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  CShareMemory::Unlink(key);
}

BENCHMARK(BM_ReadOfferBoardByKeys);

}  // namespace
