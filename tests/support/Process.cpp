#include "support/Process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace {

// A file under /tmp that is gone once every descriptor to it is closed.
int AnonymousFile() { return open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }

// The exit status of a waited child, 128 + signal when killed.
int Status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Replaces the child with the launch's program, under its address limit; never returns.
[[noreturn]] void Exec(const ProcessLaunch& launch) {
  const struct rlimit limit = {rlim_t(launch.addressLimit), rlim_t(launch.addressLimit)};
  if (launch.addressLimit > 0) setrlimit(RLIMIT_AS, &limit);
  std::vector<char*> argv{const_cast<char*>(launch.program.c_str())}, envp;
  for (const auto& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
  for (const auto& var : launch.env) envp.push_back(const_cast<char*>(var.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  // Nothing of the test's own goes along: a server left running must not
  // hold a descriptor (a lock, a pipe) that the test's caller waits on.
  close_range(3, ~0U, 0);
  execve(launch.program.c_str(), argv.data(), envp.data());
  _exit(127);
}

}  // namespace

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fd);
  return text;
}

// The streams are files, not pipes: nothing can block however much the
// child writes or leaves unread.
ProcessResult RunProcess(const ProcessLaunch& launch) {
  const int fds[3] = {AnonymousFile(), AnonymousFile(), AnonymousFile()};
  const bool ready =
      fds[0] >= 0 && fds[1] >= 0 && fds[2] >= 0 &&
      write(fds[0], launch.input.data(), launch.input.size()) == ssize_t(launch.input.size());
  std::fflush(nullptr);
  const pid_t pid = ready ? fork() : -1;
  if (pid == 0) {
    lseek(fds[0], 0, SEEK_SET);
    for (int i = 0; i < 3; ++i) dup2(fds[i], i);
    Exec(launch);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  close(fds[0]);  // a descriptor that failed (-1) closes nothing
  return {ReadAll(fds[1]), ReadAll(fds[2]), pid <= 0 ? -1 : Status(status)};
}

pid_t StartProcess(const ProcessLaunch& launch, const std::string& log) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setsid();
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644),
            in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  Exec(launch);
}

int StopProcess(pid_t pid, int graceMs, bool signal) {
  int status = 0;
  if (signal) kill(-pid, SIGTERM);
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
    if (waited >= graceMs) kill(-pid, SIGKILL);
    usleep(10000);
  }
  kill(-pid, SIGKILL);  // whatever of the group is left
  return Status(status);
}

int FreePort(int* listener) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (listener != nullptr && listen(fd, 64) == 0)
    *listener = fd;
  else
    close(fd);
  return ntohs(address.sin_port);
}

ProcessResult RunShell(const std::string& command, const std::string& input) {
  ProcessLaunch launch{"/bin/sh", {"-c", command}, {}, input};
  for (char** var = environ; *var != nullptr; ++var) launch.env.push_back(*var);
  return RunProcess(launch);
}
