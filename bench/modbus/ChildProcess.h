// A helper program the benchmarks start (socat, the gateway): it gets this
// process's environment plus a few variables, and it is stopped and reaped
// when the object goes, so that no run leaves a process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class ChildProcess {
 public:
  // argv[0] is looked up on PATH. extraEnvironment holds "NAME=value" items
  // that replace variables of the same name. The child's standard error goes
  // to errorLog, or to a pipe read through readErrorLine when errorLog is
  // empty. Throws std::runtime_error when the program cannot be started.
  ChildProcess(const std::vector<std::string>& argv,
               const std::vector<std::string>& extraEnvironment, const std::string& errorLog);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of the piped standard error, without its newline; nothing
  // when the child closed it or no line came within the timeout.
  std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL if the child has not ended within a few seconds.
  void stop();

 private:
  static std::vector<std::string> environmentWith(const std::vector<std::string>& extra);
  bool waitForExit(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int errorPipe_ = -1;
  std::string errorText_;
};

}  // namespace bench
