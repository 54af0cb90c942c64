/* What the benchmarks' timers share: a monotonic clock in microseconds and
   the order of doubles for qsort. */
#ifndef ZELVORA_BENCH_TIMING_H_
#define ZELVORA_BENCH_TIMING_H_

#include <time.h>

static inline double NowMicros(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

static inline int Compare(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

#endif /* ZELVORA_BENCH_TIMING_H_ */
