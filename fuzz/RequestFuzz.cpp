// The whole request path as a web server drives it: the environment and the
// body in, the answer out, as a persistent worker serves it, with the
// recording stand-in database library
// beside this program answering every select with a few rows. The first
// byte picks the variables: bit 0 SHM_SEL_DB=1, bit 1 a CONTENT_LENGTH one
// past the body, bit 2 one short of it, bit 3 a MAX_CONTENT_LENGTH of 40.
// Every answer must be one the program may give: the header, then the
// banner, one of the short texts, or one JSON value in UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Serve.h"
#include "util/Json.h"

namespace {

FILE* realError = stderr;
const std::string kHeader = "Content-Type: text/plain \n\n";

bool IsAnswer(const std::string& out) {
  if (out.compare(0, kHeader.size(), kHeader) != 0) return false;
  const std::string answer = out.substr(kHeader.size());
  if (answer.rfind("Zelvora 1.0 ", 0) == 0 && answer.find('\n') == answer.size() - 1) return true;
  if (answer == "msg_no_data" || answer == "msg_counts_over" || answer == "ok") return true;
  return IsJsonText(answer.data(), answer.data() + answer.size());
}

void Prepare() {
  // Diagnostics go nowhere, while the sanitizers and the fuzzer keep the
  // real standard error.
  FILE* nowhere = std::fopen("/dev/null", "w");
  if (nowhere == nullptr) std::abort();
  stderr = nowhere;
  const char rows[] = "/tmp/zelvora-fuzz-rows.tsv";
  FILE* file = std::fopen(rows, "w");
  if (file == nullptr) std::abort();
  // Values that JSON cannot take as they are: a quote, a byte that is not
  // UTF-8, a number beyond a double.
  std::fputs(
      "AccountID\tSymbol\tTradeID\tcounts\tPL\tBalance\tStartDate\n"
      "1001\tEUR\"/US\xff\t7\t3\t-1.5\t1e999\t2026/12/05 09:00:00\n",
      file);
  std::fclose(file);
  setenv("ZELVORA_FAKE_ROWS", rows, 1);
  for (const char* variable :
       {"MYSQL_HOST=fuzz:1", "MYSQL_USER=u", "MYSQL_PWD=p", "MYSQL_DB=d", "TZ=Asia/Tokyo"})
    putenv(const_cast<char*>(variable));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool prepared = (Prepare(), true);
  (void)prepared;
  if (size == 0 || size > 65536) return 0;
  const unsigned flags = data[0];
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  const long announced = static_cast<long>(body.size()) + ((flags & 2) != 0) - ((flags & 4) != 0);
  setenv("SHM_SEL_DB", (flags & 1) != 0 ? "1" : "0", 1);
  setenv("CONTENT_LENGTH", std::to_string(announced).c_str(), 1);
  setenv("MAX_CONTENT_LENGTH", (flags & 8) != 0 ? "40" : "65536", 1);
  // Exactly the body: a byte more would meet the announced length one past it.
  FILE* in = body.empty() ? std::fopen("/dev/null", "r")
                          : fmemopen(const_cast<char*>(body.data()), body.size(), "r");
  if (in == nullptr) return 0;
  // One slot for the whole run, as a worker keeps it: the library stays
  // loaded, so its coverage counters stay mapped for the fuzzer.
  static CDbSlot slot;
  char* written = nullptr;
  size_t length = 0;
  FILE* stream = open_memstream(&written, &length);
  if (stream == nullptr) std::abort();
  ServeRequest(in, stream, &slot);
  std::fclose(in);
  std::fclose(stream);
  const std::string out(written, length);
  std::free(written);
  if (!IsAnswer(out)) {
    std::fprintf(realError, "not an answer the program may give:\n%s\n", out.c_str());
    std::abort();
  }
  return 0;
}
