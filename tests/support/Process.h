// Test support: run a program as a child process with exactly the given
// arguments, environment and standard input, and collect what it wrote.
#ifndef ZELVORA_TESTS_SUPPORT_PROCESS_H_
#define ZELVORA_TESTS_SUPPORT_PROCESS_H_

#include <string>
#include <vector>

struct ProcessResult {
  std::string out;   // standard output, every byte
  std::string err;   // standard error, every byte
  int status = -1;   // exit status, or 128 + signal when killed
};

struct ProcessSpec {
  std::string program;
  std::vector<std::string> args;  // argv[1..]
  std::vector<std::string> env;   // "NAME=value", the whole environment
  std::string input;              // written to standard input, then closed
  long addressLimit = 0;          // RLIMIT_AS in bytes for the child; 0 = none
};

// Runs the program and waits for it. Standard input that the child leaves
// unread is dropped without error.
ProcessResult RunProcess(const ProcessSpec& spec);

// Calls `body` with standard output redirected to a temporary file and
// returns what was written to it.
template <typename Body>
std::string CaptureStdout(Body body);

std::string CaptureStdoutImpl(void (*call)(void*), void* context);

template <typename Body>
std::string CaptureStdout(Body body) {
  return CaptureStdoutImpl([](void* context) { (*static_cast<Body*>(context))(); }, &body);
}

#endif  // ZELVORA_TESTS_SUPPORT_PROCESS_H_
