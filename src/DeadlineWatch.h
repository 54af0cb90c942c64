// CDeadlineWatch: ends a worker's request that outlasts its deadline.
//
// A thread of its own (every signal blocked in it, so that the worker's
// stop signals reach the worker) shuts down, both ways, the connection of
// a request past its deadline: whatever the request waits for on it ends
// at once, and every later read or write on it fails. A request costs two
// uncontended locks and no system call: a timer armed and disarmed per
// request cost two. Idle, the thread wakes once a deadline's length.
//
// Watch and Stop are called by the worker's one serving thread; the
// connection watched must stay open until Stop (the thread never shuts a
// descriptor after Stop returns, so a number reused later is safe).
#ifndef ZELVORA_DEADLINEWATCH_H_
#define ZELVORA_DEADLINEWATCH_H_

class CDeadlineWatch {
 public:
  // Starts the thread; false (errno set) when it cannot be started.
  static bool Start(int seconds);
  // From now, shuts `fd` down once `seconds` (as given to Start) have passed.
  static void Watch(int fd);
  // Watches nothing.
  static void Stop();
};

#endif  // ZELVORA_DEADLINEWATCH_H_
