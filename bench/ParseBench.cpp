// Parser throughput on a typical request and on a 64 KiB one.
#include <benchmark/benchmark.h>

#include <string>

#include "markup/MarkupDoc.h"

namespace {

const char kTypical[] =
    "<?xml version=\"1.0\"?><zelvora><method>getOpenTradeA</method><params>"
    "<accountid>100123</accountid><startdate>2026/12/01 00:00:00</startdate>"
    "<enddate>2026/12/05 23:59:59</enddate></params></zelvora>";

// A setImplPlan request grown to 64 KiB with plan rows.
std::string LargeRequest() {
  std::string body = "<zelvora><method>setImplPlan</method><params><accountid>100123</accountid>";
  const std::string tail = "</params></zelvora>";
  int row = 0;
  while (body.size() + tail.size() < 65536 - 200) {
    body += "<param><symbol>SYM" + std::to_string(row++) +
            "</symbol><ip1>1.25</ip1><ip2>&amp;30</ip2><ip7> 0.5 </ip7><loginid>ops</loginid>"
            "</param>\n";
  }
  body += tail;
  body.resize(65536, ' ');
  return body;
}

void Parse(benchmark::State& state, const std::string& body) {
  for (auto _ : state) {
    CMarkupDoc doc;
    doc.Parse(body.data(), static_cast<int32_t>(body.size()));
    benchmark::DoNotOptimize(doc.Root().FindNode("method"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(body.size()));
  state.counters["bytes"] = static_cast<double>(body.size());
}

void BM_ParseTypicalRequest(benchmark::State& state) { Parse(state, kTypical); }
void BM_Parse64KiBRequest(benchmark::State& state) { Parse(state, LargeRequest()); }

BENCHMARK(BM_ParseTypicalRequest);
BENCHMARK(BM_Parse64KiBRequest);

}  // namespace
