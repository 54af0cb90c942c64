/* Times single FastCGI requests as a web server makes them:
     fcgi-timer RUNS BODY PARAMS SOCKET...
   sends the body in file BODY, with the parameters in file PARAMS (one
   NAME=VALUE a line) and CONTENT_LENGTH, to each unix SOCKET in turn, round
   by round, on a new connection per request, and waits for the end of the
   request. Prints per socket the median, 10th and 90th percentile time of a
   request in microseconds and the median's ratio to the second socket's
   (the baseline). With RUNS 0 it sends one request to each socket and
   prints what came back on the output stream, for the caller to check. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "timing.h"

enum { kMaxSockets = 8, kMaxRequest = 1 << 20 };

static char request[kMaxRequest];
static size_t requestSize;

static void Fail(const char* what) {
  fprintf(stderr, "fcgi-timer: %s\n", what);
  exit(1);
}

static void Append(const void* bytes, size_t size) {
  if (requestSize + size > sizeof request) Fail("request too large");
  memcpy(request + requestSize, bytes, size);
  requestSize += size;
}

static void AppendRecord(int type, const char* content, size_t size) {
  const unsigned char header[8] = {
      1, (unsigned char)type, 0, 1, (unsigned char)(size >> 8), (unsigned char)size, 0, 0};
  Append(header, 8);
  Append(content, size);
}

static void AppendLength(char* pairs, size_t* at, size_t length) {
  if (length < 128) {
    pairs[(*at)++] = (char)length;
  } else {
    pairs[(*at)++] = (char)(0x80 | length >> 24);
    pairs[(*at)++] = (char)(length >> 16);
    pairs[(*at)++] = (char)(length >> 8);
    pairs[(*at)++] = (char)length;
  }
}

static void AppendPair(char* pairs, size_t* at, const char* name, const char* value) {
  const size_t nameSize = strlen(name), valueSize = strlen(value);
  if (*at + nameSize + valueSize + 8 > 65535) Fail("parameters too large");
  AppendLength(pairs, at, nameSize);
  AppendLength(pairs, at, valueSize);
  memcpy(pairs + *at, name, nameSize);
  memcpy(pairs + *at + nameSize, value, valueSize);
  *at += nameSize + valueSize;
}

static size_t ReadFile(const char* path, char* into, size_t size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) Fail(path);
  const size_t got = fread(into, 1, size - 1, file);
  fclose(file);
  into[got] = '\0';
  return got;
}

static void BuildRequest(const char* bodyPath, const char* paramsPath) {
  static char body[60000], params[16384], pairs[65536];
  const size_t bodySize = ReadFile(bodyPath, body, sizeof body);
  ReadFile(paramsPath, params, sizeof params);
  const char begin[8] = {0, 1, 0, 0, 0, 0, 0, 0}; /* a responder; the connection closes after */
  AppendRecord(1, begin, 8);
  size_t at = 0;
  char length[32];
  snprintf(length, sizeof length, "%zu", bodySize);
  AppendPair(pairs, &at, "CONTENT_LENGTH", length);
  for (char* line = strtok(params, "\n"); line != NULL; line = strtok(NULL, "\n")) {
    char* equals = strchr(line, '=');
    if (equals == NULL) continue;
    *equals = '\0';
    AppendPair(pairs, &at, line, equals + 1);
  }
  AppendRecord(4, pairs, at);
  AppendRecord(4, "", 0);
  AppendRecord(5, body, bodySize);
  AppendRecord(5, "", 0);
}

/* One request to `path`; the output stream goes to `out` when not null. */
static void Ask(const char* path, FILE* out) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0)
    Fail("cannot connect");
  if (write(fd, request, requestSize) != (ssize_t)requestSize) Fail("cannot send");
  static unsigned char answer[1 << 17];
  size_t have = 0;
  for (int ended = 0; !ended;) {
    const ssize_t got = read(fd, answer + have, sizeof answer - have);
    if (got <= 0) Fail("the request did not end");
    have += (size_t)got;
    while (have >= 8) {
      const size_t size = (size_t)answer[4] << 8 | answer[5], whole = 8 + size + answer[6];
      if (have < whole) break;
      if (answer[1] == 6 && out != NULL) fwrite(answer + 8, 1, size, out);
      ended = ended || answer[1] == 3;
      memmove(answer, answer + whole, have - whole);
      have -= whole;
    }
    if (have == sizeof answer) Fail("answer record too large");
  }
  close(fd);
}

int main(int argc, char** argv) {
  if (argc < 5 || argc - 4 > kMaxSockets) Fail("usage: fcgi-timer RUNS BODY PARAMS SOCKET...");
  const int runs = atoi(argv[1]), count = argc - 4;
  BuildRequest(argv[2], argv[3]);
  if (runs == 0) {
    for (int s = 0; s < count; ++s) {
      Ask(argv[4 + s], stdout);
      printf("\n");
    }
    return 0;
  }
  double* times[kMaxSockets];
  for (int s = 0; s < count; ++s) {
    times[s] = malloc(sizeof(double) * (size_t)runs);
    if (times[s] == NULL) Fail("out of memory");
  }
  for (int s = 0; s < count; ++s) Ask(argv[4 + s], NULL); /* warm up */
  /* Interleaved in blocks of FCGI_TIMER_BLOCK requests (default 1): what a
     server does after its answer (closing, waiting for the next connection)
     runs while the next request is timed, which with blocks of one is the
     other server's. */
  const char* blockText = getenv("FCGI_TIMER_BLOCK");
  const int block = blockText != NULL && atoi(blockText) > 0 ? atoi(blockText) : 1;
  for (int first = 0; first < runs; first += block) {
    for (int s = 0; s < count; ++s) {
      for (int r = first; r < runs && r < first + block; ++r) {
        const double start = NowMicros();
        Ask(argv[4 + s], NULL);
        times[s][r] = NowMicros() - start;
      }
    }
  }
  double baseline = 0;
  for (int s = 0; s < count; ++s) {
    qsort(times[s], (size_t)runs, sizeof(double), Compare);
    if (s == 1 || count == 1) baseline = times[s][runs / 2];
  }
  for (int s = 0; s < count; ++s) {
    const double median = times[s][runs / 2];
    const char* slash = strrchr(argv[4 + s], '/');
    printf("  %-16s median %8.1f us  p10 %8.1f  p90 %8.1f  ratio %.2f\n",
           slash != NULL ? slash + 1 : argv[4 + s], median, times[s][runs / 10],
           times[s][runs * 9 / 10], median / baseline);
  }
  return 0;
}
