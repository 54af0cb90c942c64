#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

void LimitAddressSpace(long bytes) {
  if (bytes <= 0) return;
  struct rlimit limit = {static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_AS, &limit);
}

void ChildExec(const ProcessLaunch& launch, int in, int out, int err) {
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  LimitAddressSpace(launch.addressLimit);
  std::vector<char*> argv{const_cast<char*>(launch.program.c_str())};
  for (const auto& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& var : launch.env) envp.push_back(const_cast<char*>(var.c_str()));
  envp.push_back(nullptr);
  execve(launch.program.c_str(), argv.data(), envp.data());
  _exit(127);
}

// Moves bytes between the child's pipes until both outputs reach their end.
void Pump(const std::string& input, int in, int out, int err, ProcessResult& result) {
  size_t written = 0;
  if (input.empty()) {
    close(in);
    in = -1;
  }
  while (out >= 0 || err >= 0) {
    struct pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0 && errno != EINTR) return;
    if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(in, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) {
        close(in);
        in = -1;
      }
    }
    int* fdsOut[2] = {&out, &err};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int i = 0; i < 2; ++i) {
      if (*fdsOut[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = read(*fdsOut[i], buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(*fdsOut[i]);
        *fdsOut[i] = -1;
      }
    }
  }
  if (in >= 0) close(in);
}

// Forks; the child runs `child` with its standard streams on fresh pipes,
// the parent feeds `input` and collects the output and the exit status.
template <typename Child>
ProcessResult Spawn(const std::string& input, Child child) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  ProcessResult result;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return result;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) child(in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  Pump(input, in[1], out[0], err[0], result);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace

ProcessResult RunProcess(const ProcessLaunch& launch) {
  return Spawn(launch.input, [&](int in, int out, int err) { ChildExec(launch, in, out, err); });
}

ProcessResult RunInChildImpl(int (*call)(void*), void* context, long addressLimit) {
  return Spawn("", [&](int in, int out, int err) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    LimitAddressSpace(addressLimit);
    const int status = call(context);
    std::fflush(nullptr);
    _exit(status);
  });
}

std::string CaptureStreamImpl(FILE* stream, void (*call)(void*), void* context) {
  const int fd = fileno(stream);
  std::fflush(stream);
  FILE* sink = std::tmpfile();
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  call(context);
  std::fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text;
  std::rewind(sink);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) text.append(buffer, n);
  std::fclose(sink);
  return text;
}
