#include "DeadlineWatch.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace {

constexpr int64_t kNanos = 1000000000;

std::mutex mutex;
int watched = -1;      // under `mutex`
int64_t deadline = 0;  // under `mutex`: nanoseconds of the monotonic clock
int64_t length = 0;    // set before the thread starts

int64_t Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanos + now.tv_nsec;
}

// Sleeps to a time no later than any deadline set meanwhile: idle, one
// deadline's length, and a request's deadline is its start plus that.
void* Run(void*) {
  for (;;) {
    int64_t until;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      const int64_t now = Now();
      if (watched >= 0 && now >= deadline) {
        shutdown(watched, SHUT_RDWR);
        watched = -1;
      }
      until = watched >= 0 ? deadline : now + length;
    }
    const timespec at = {static_cast<time_t>(until / kNanos), static_cast<long>(until % kNanos)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  }
  return nullptr;
}

}  // namespace

bool CDeadlineWatch::Start(int seconds) {
  length = static_cast<int64_t>(seconds) * kNanos;
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  // The thread needs little stack (room left for a sanitizer), not the 8 MiB of address
  // space a thread gets by default, which a worker under a memory limit
  // needs for its requests.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 << 10);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, Run, nullptr);
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (error != 0) {
    errno = error;
    return false;
  }
  pthread_detach(thread);
  return true;
}

void CDeadlineWatch::Watch(int fd) {
  const int64_t end = Now() + length;
  const std::lock_guard<std::mutex> lock(mutex);
  deadline = end;
  watched = fd;
}

void CDeadlineWatch::Stop() {
  const std::lock_guard<std::mutex> lock(mutex);
  watched = -1;
}
