// Test support: run a program as a child process with exactly the given
// arguments, environment and standard input, and collect what it wrote.
#ifndef ZELVORA_TESTS_SUPPORT_PROCESS_H_
#define ZELVORA_TESTS_SUPPORT_PROCESS_H_

#include <cstdio>
#include <string>
#include <vector>

struct ProcessResult {
  std::string out;   // standard output, every byte
  std::string err;   // standard error, every byte
  int status = -1;   // exit status, or 128 + signal when killed
};

struct ProcessLaunch {
  std::string program;
  std::vector<std::string> args;  // argv[1..]
  std::vector<std::string> env;   // "NAME=value", the whole environment
  std::string input;              // written to standard input, then closed
  long addressLimit = 0;          // RLIMIT_AS in bytes for the child; 0 = none
};

// Runs the program and waits for it. Standard input that the child leaves
// unread is dropped without error.
ProcessResult RunProcess(const ProcessLaunch& launch);

// Calls `body` with `stream` (stdout or stderr) redirected to a temporary
// file and returns what was written to it.
std::string CaptureStreamImpl(FILE* stream, void (*call)(void*), void* context);

template <typename Body>
std::string CaptureStream(FILE* stream, Body body) {
  return CaptureStreamImpl(stream, [](void* context) { (*static_cast<Body*>(context))(); },
                           &body);
}

// Runs `body` in a forked child (after `addressLimit` bytes of RLIMIT_AS
// when not 0) and collects its standard output and error; the child's exit
// status is what `body` returns.
ProcessResult RunInChildImpl(int (*call)(void*), void* context, long addressLimit);

template <typename Body>
ProcessResult RunInChild(Body body, long addressLimit = 0) {
  return RunInChildImpl([](void* context) { return (*static_cast<Body*>(context))(); }, &body,
                        addressLimit);
}

#endif  // ZELVORA_TESTS_SUPPORT_PROCESS_H_
