// CHeldSignals: holds off the signals that end or stop the board tool from
// construction to destruction, which lets one that came meanwhile through:
// an operator's Ctrl-C or Ctrl-Z never leaves a board locked, nor one
// released twice. One per scope; not copyable.
#ifndef ZELVORA_BOARD_HELDSIGNALS_H_
#define ZELVORA_BOARD_HELDSIGNALS_H_

#include <signal.h>

class CHeldSignals {
 public:
  CHeldSignals() {
    sigemptyset(&held_);
    for (const int number : kHeld) sigaddset(&held_, number);
    // Ctrl-Z too: a tool stopped while it holds the lock would freeze the
    // board until it is woken. It stops once the lock is let go.
    sigaddset(&held_, SIGTSTP);
    sigprocmask(SIG_BLOCK, &held_, &saved_);
  }
  ~CHeldSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  CHeldSignals(const CHeldSignals&) = delete;
  CHeldSignals& operator=(const CHeldSignals&) = delete;

  // True when a signal that ends the tool came while held off.
  bool Pending() const {
    sigset_t pending;
    sigpending(&pending);
    for (const int number : kHeld) {
      if (sigismember(&pending, number) == 1) return true;
    }
    return false;
  }

 private:
  static constexpr int kHeld[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  sigset_t held_, saved_;
};

#endif  // ZELVORA_BOARD_HELDSIGNALS_H_
