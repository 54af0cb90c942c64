// Test support: run a program as a child process with exactly the given
// arguments, environment and standard input, and collect what it wrote.
#ifndef ZELVORA_TESTS_SUPPORT_PROCESS_H_
#define ZELVORA_TESTS_SUPPORT_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessResult {
  std::string out;  // standard output, every byte
  std::string err;  // standard error, every byte
  int status = -1;  // exit status, 128 + signal when killed, -1 when it never ran
};

struct ProcessLaunch {
  std::string program;
  std::vector<std::string> args;  // argv[1..]
  std::vector<std::string> env;   // "NAME=value", the whole environment
  std::string input;              // written to standard input, then closed
  long addressLimit = 0;          // RLIMIT_AS in bytes for the child; 0 = none
};

// Runs the program and waits for it. A failed fork gives status -1.
ProcessResult RunProcess(const ProcessLaunch& launch);

// Starts the program in a process group of its own with standard input from
// /dev/null and both outputs appended to `log`; does not wait. The pid, or -1.
pid_t StartProcess(const ProcessLaunch& launch, const std::string& log);

// Ends the process group of `pid`: SIGTERM (unless `signal` is false, for a
// process already told to end), then SIGKILL after `graceMs`. The leader's
// exit status, as RunProcess gives it.
int StopProcess(pid_t pid, int graceMs = 2000, bool signal = true);

// A TCP port on 127.0.0.1 that nothing listens on now; with `listener`, one
// that the socket stored there listens on and nobody accepts from: a server
// that takes connections and never answers.
int FreePort(int* listener = nullptr);

// Every byte of `fd` (a file from its start, a socket up to its end), which
// is closed then; "" for -1.
std::string ReadAll(int fd);

// Runs `command` under /bin/sh with the caller's environment.
ProcessResult RunShell(const std::string& command, const std::string& input = "");

#endif  // ZELVORA_TESTS_SUPPORT_PROCESS_H_
