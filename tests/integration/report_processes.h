// ufhost report processes side by side, as many report users run them: each child
// gets environment settings of its own (its data source, its ODBC trace), writes
// its report and its boxes into files, and is waited for against a deadline, so a
// stuck report fails its test instead of hanging it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_env.h"
#include "test_paths.h"

namespace reportrun {

using Clock = std::chrono::steady_clock;
using Env = std::vector<std::pair<std::string, std::string>>;

struct Outcome {
  int status = -1;  // -1: killed at the deadline, or did not exit normally
  std::vector<std::string> lines;
  std::string errors;
};

// Starts `ufhost LIBRARY --report tpl --rows rows` with env set in the child only,
// standard output into out and standard error into err.
inline pid_t start(const std::string& tpl, const std::string& rows, const std::string& out, const std::string& err,
                   const Env& env) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(125);
    execl(UFHOST_PROGRAM, UFHOST_PROGRAM, U2LVOST_LIBRARY, "--report", tpl.c_str(), "--rows", rows.c_str(),
          static_cast<char*>(nullptr));
    _exit(126);
  }
  return pid;
}

// Waits for a child until the deadline, then kills it. The exit status, or -1.
inline int waitUntil(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (pid > 0) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    usleep(10000);
  }
  return -1;
}

// Waits for a report process started by start() and reads what it wrote.
inline Outcome finish(pid_t pid, Clock::time_point deadline, const std::string& out, const std::string& err) {
  Outcome o;
  o.status = waitUntil(pid, deadline);
  std::istringstream text(testenv::readFile(out));
  for (std::string line; std::getline(text, line);) o.lines.push_back(line);
  o.errors = testenv::readFile(err);
  return o;
}

}  // namespace reportrun
