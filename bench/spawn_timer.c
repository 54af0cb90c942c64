/* Times whole-process runs: spawn-timer RUNS ARG PROGRAM...
   Runs every PROGRAM with the single argument ARG, standard output to
   /dev/null and standard input from the file SPAWN_STDIN names (else
   inherited), interleaved round by round so that the machine's drift hits
   all of them alike. A PROGRAM written "path|arg|arg..." runs with those
   arguments instead of ARG. Prints per program the median, 10th and 90th
   percentile wall time in microseconds, and the median's ratio to the
   second program's (the baseline). A PROGRAM may start with "NAME=VALUE|"
   parts: variables set for that program only, which is then shown as its
   name and theirs. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "timing.h"

extern char** environ;

/* A leading "NAME=VALUE" part of a command (no path starts that way). */
static int IsAssignment(const char* part) { return part[0] != '/' && strchr(part, '=') != NULL; }

/* Splits "[NAME=VALUE|...]path|arg|arg..." into `argv` (at most 31 entries)
   and `envp` (the process's environment and the assignments, at most 255);
   without "|arg" the program gets `arg`. The command is copied into
   `storage`. */
static void BuildArgv(const char* command, const char* arg, char* storage, size_t size, char** argv,
                      char** envp) {
  snprintf(storage, size, "%s", command);
  int count = 0, vars = 0;
  for (char** var = environ; *var != NULL && vars < 240; ++var) envp[vars++] = *var;
  for (char* part = storage; part != NULL && count < 31;) {
    char* bar = strchr(part, '|');
    if (bar != NULL) *bar++ = '\0';
    if (count == 0 && IsAssignment(part) && vars < 255) {
      envp[vars++] = part;
    } else {
      argv[count++] = part;
    }
    part = bar;
  }
  if (count == 1) argv[count++] = (char*)arg;
  argv[count] = NULL;
  envp[vars] = NULL;
}

/* Returns the run's wall time in microseconds, or -1 on failure. */
static double RunOnce(const char* program, const char* arg, posix_spawn_file_actions_t* actions) {
  char storage[8192];
  char* argv[32];
  char* envp[256];
  BuildArgv(program, arg, storage, sizeof storage, argv, envp);
  pid_t pid;
  int status;
  const double start = NowMicros();
  if (posix_spawn(&pid, argv[0], actions, NULL, argv, envp) != 0) return -1;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return NowMicros() - start;
}

/* The program's file name, and the names of the variables set for it. */
static const char* BaseName(const char* command) {
  static char name[64];
  char path[4096], vars[256] = "";
  snprintf(path, sizeof path, "%s", command);
  char* part = path;
  for (char* bar = strchr(part, '|'); bar != NULL && IsAssignment(part); bar = strchr(part, '|')) {
    *strchr(part, '=') = '\0';
    snprintf(vars + strlen(vars), sizeof vars - strlen(vars), "+%.40s", part);
    part = bar + 1;
  }
  char* bar = strchr(part, '|');
  if (bar != NULL) *bar = '\0';
  const char* slash = strrchr(part, '/');
  snprintf(name, sizeof name, "%.20s%.40s", slash ? slash + 1 : part, vars);
  return name;
}

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: %s RUNS ARG PROGRAM BASELINE [PROGRAM...]\n", argv[0]);
    return 2;
  }
  const int runs = atoi(argv[1]);
  const char* arg = argv[2];
  const int programs = argc - 3;
  if (runs < 1) {
    fprintf(stderr, "RUNS must be at least 1\n");
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const char* input = getenv("SPAWN_STDIN");
  if (input != NULL) posix_spawn_file_actions_addopen(&actions, 0, input, O_RDONLY, 0);
  double* times = calloc((size_t)runs * programs, sizeof(double));
  for (int warm = 0; warm < 20; ++warm) {
    for (int p = 0; p < programs; ++p) RunOnce(argv[3 + p], arg, &actions);
  }
  for (int r = 0; r < runs; ++r) {
    for (int p = 0; p < programs; ++p) {
      const double t = RunOnce(argv[3 + p], arg, &actions);
      if (t < 0) {
        fprintf(stderr, "%s failed\n", argv[3 + p]);
        return 1;
      }
      times[(size_t)p * runs + r] = t;
    }
  }
  double baseline = 0;
  for (int p = 0; p < programs; ++p) {
    double* own = times + (size_t)p * runs;
    qsort(own, runs, sizeof(double), Compare);
    if (p == 1) baseline = own[runs / 2];
  }
  printf("%-20s %10s %10s %10s %8s\n", "program", "median_us", "p10_us", "p90_us", "ratio");
  for (int p = 0; p < programs; ++p) {
    const double* own = times + (size_t)p * runs;
    printf("%-20s %10.1f %10.1f %10.1f %8.3f\n", BaseName(argv[3 + p]), own[runs / 2],
           own[runs / 10], own[runs * 9 / 10], own[runs / 2] / baseline);
  }
  free(times);
  return 0;
}
