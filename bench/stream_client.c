/* The subscribers of bench/stream: opens N streams of /stream/offers on the
   stream server's socket directly (as the web server's proxy would, key and user
   set), plus one that never reads when STALLED is 1, and reads the others for SECONDS. Each change
   event's first "T" (the feeder's write time, wall clock, microseconds)
   gives that event's delay to this subscriber. Prints the delays' median
   and 99th percentile, and the server's CPU time and resident memory over
   the measured time (after a second of warm-up), read from /proc of PID.
     stream-client SOCKET KEY N SECONDS STALLED PID */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

enum { kBuffer = 16384, kMaxSamples = 1 << 23 };

struct Stream {
  int fd;
  size_t used;
  char buffer[kBuffer];
};

static unsigned samples[kMaxSamples];
static size_t sampleCount;

static long long NowMicros(void) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

static void Fail(const char* what) {
  fprintf(stderr, "stream-client: %s: %s\n", what, strerror(errno));
  exit(1);
}

static int Open(const char* place, const char* key, const char* user) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) Fail("socket");
  struct sockaddr_un path = {.sun_family = AF_UNIX};
  snprintf(path.sun_path, sizeof path.sun_path, "%s", place);
  const int connected = connect(fd, (struct sockaddr*)&path, sizeof path);
  if (connected != 0) Fail("connect");
  char request[512];
  const int length = snprintf(request, sizeof request,
                              "GET /stream/offers HTTP/1.1\r\nHost: bench\r\nX-Zelvora-Stream-Key: "
                              "%s\r\nX-Zelvora-User: %s\r\n\r\n",
                              key, user);
  if (write(fd, request, (size_t)length) != length) Fail("write");
  return fd;
}

/* Takes the whole events at the start of the stream's buffer. */
static void TakeEvents(struct Stream* stream, long long now, int counted) {
  char* start = stream->buffer;
  char* end;
  stream->buffer[stream->used] = '\0';
  while ((end = strstr(start, "\n\n")) != NULL) {
    *end = '\0';
    const char* stamp = strstr(start, "event: change") != NULL ? strstr(start, "\"T\":") : NULL;
    if (stamp != NULL && counted && sampleCount < kMaxSamples) {
      const long long delay = now - atoll(stamp + 4);
      samples[sampleCount++] = delay > 0 ? (unsigned)delay : 0;
    }
    start = end + 2;
  }
  stream->used -= (size_t)(start - stream->buffer);
  memmove(stream->buffer, start, stream->used);
  if (stream->used >= kBuffer - 1) stream->used = 0; /* an event larger than the buffer: dropped */
}

static int Compare(const void* a, const void* b) {
  const unsigned x = *(const unsigned*)a, y = *(const unsigned*)b;
  return x < y ? -1 : x > y;
}

/* The server's CPU time in clock ticks, and its resident memory in KB. */
static void Usage(int pid, long long* ticks, long long* residentKb) {
  char path[64], text[4096];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* file = fopen(path, "r");
  if (file == NULL || fgets(text, sizeof text, file) == NULL) Fail("server stat");
  fclose(file);
  const char* field = strrchr(text, ')') + 2;
  for (int i = 3; i < 14; ++i) field = strchr(field, ' ') + 1;
  long long user = 0, system = 0;
  sscanf(field, "%lld %lld", &user, &system);
  *ticks = user + system;
  snprintf(path, sizeof path, "/proc/%d/status", pid);
  file = fopen(path, "r");
  if (file == NULL) Fail("server status");
  while (fgets(text, sizeof text, file) != NULL) sscanf(text, "VmRSS: %lld", residentKb);
  fclose(file);
}

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: stream-client SOCKET KEY N SECONDS STALLED PID\n");
    return 2;
  }
  const char* place = argv[1];
  const int count = atoi(argv[3]), seconds = atoi(argv[4]), stalled = atoi(argv[5]),
            pid = atoi(argv[6]);
  const char* key = argv[2];
  struct rlimit files = {(rlim_t)count + 100, (rlim_t)count + 100};
  if (setrlimit(RLIMIT_NOFILE, &files) != 0) Fail("RLIMIT_NOFILE");
  const int poller = epoll_create1(0);
  struct Stream* streams = calloc((size_t)count, sizeof *streams);
  if (poller < 0 || streams == NULL) Fail("setup");
  for (int i = 0; i < count; ++i) {
    char user[32];
    snprintf(user, sizeof user, "bench%d", i % 1000); /* 32 streams a user at most */
    streams[i].fd = Open(place, key, user);
    fcntl(streams[i].fd, F_SETFL, O_NONBLOCK);
    struct epoll_event event = {.events = EPOLLIN, .data.ptr = &streams[i]};
    if (epoll_ctl(poller, EPOLL_CTL_ADD, streams[i].fd, &event) != 0) Fail("epoll_ctl");
  }
  if (stalled) Open(place, key, "stalled");
  const long long start = NowMicros(), measured = start + 1000000LL,
                  end = measured + seconds * 1000000LL;
  long long ticksBefore = -1, ticksAfter = 0, resident = 0, residentBefore = 0;
  struct epoll_event ready[256];
  for (long long now = start; now < end; now = NowMicros()) {
    if (ticksBefore < 0 && now >= measured) Usage(pid, &ticksBefore, &residentBefore);
    const int n = epoll_wait(poller, ready, 256, 100);
    now = NowMicros();
    for (int i = 0; i < n; ++i) {
      struct Stream* stream = ready[i].data.ptr;
      const ssize_t got =
          read(stream->fd, stream->buffer + stream->used, kBuffer - 1 - stream->used);
      if (got <= 0) {
        if (got < 0 && errno == EAGAIN) continue;
        fprintf(stderr, "stream-client: a stream ended\n");
        epoll_ctl(poller, EPOLL_CTL_DEL, stream->fd, NULL);
        continue;
      }
      stream->used += (size_t)got;
      TakeEvents(stream, now, now >= measured);
    }
  }
  Usage(pid, &ticksAfter, &resident);
  qsort(samples, sampleCount, sizeof *samples, Compare);
  const double p50 = sampleCount ? samples[sampleCount / 2] / 1000.0 : -1,
               p99 = sampleCount ? samples[sampleCount * 99 / 100] / 1000.0 : -1;
  const double cpu = (double)(ticksAfter - ticksBefore) / (double)sysconf(_SC_CLK_TCK);
  printf(
      "subscribers %d%s: %zu events, delay p50 %.2f ms p99 %.2f ms; server CPU %.3f s per s "
      "(%.2f us per subscriber-second), RSS %lld KB\n",
      count, stalled ? " + 1 stalled" : "", sampleCount, p50, p99, cpu / seconds,
      cpu / seconds / count * 1e6, resident);
  return 0;
}
