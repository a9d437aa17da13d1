#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

constexpr auto kGraceAfterTerm = std::chrono::seconds(5);

std::vector<char*> pointersTo(std::vector<std::string>& items) {
  std::vector<char*> pointers;
  for (auto& item : items) pointers.push_back(item.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string nameOf(const std::string& assignment) {
  return assignment.substr(0, assignment.find('='));
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnvironment,
                           const std::string& errorLog) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeEnds[2] = {-1, -1};
  if (errorLog.empty()) {
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for the child");
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = environmentWith(extraEnvironment);
  const int failed = posix_spawnp(&pid_, args.front().c_str(), &actions, nullptr,
                                  pointersTo(args).data(), pointersTo(environment).data());
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  errorPipe_ = pipeEnds[0];
  if (failed != 0) {
    pid_ = -1;
    if (errorPipe_ >= 0) close(errorPipe_);
    throw std::runtime_error("cannot start " + args.front() + ": " + std::strerror(failed));
  }
}

ChildProcess::~ChildProcess() {
  stop();
  if (errorPipe_ >= 0) close(errorPipe_);
}

std::vector<std::string> ChildProcess::environmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string item = *entry;
    bool replaced = false;
    for (const auto& assignment : extra) replaced |= nameOf(assignment) == nameOf(item);
    if (!replaced) environment.push_back(item);
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  return environment;
}

std::optional<std::string> ChildProcess::readErrorLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (errorText_.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{errorPipe_, POLLIN, 0};
    if (errorPipe_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      return std::nullopt;
    }
    char chunk[512];
    const ssize_t n = read(errorPipe_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    errorText_.append(chunk, static_cast<size_t>(n));
  }
  const size_t end = errorText_.find('\n');
  std::string line = errorText_.substr(0, end);
  errorText_.erase(0, end + 1);
  return line;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  // A pidfd becomes readable when the child ends, so the wait needs no polling loop.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    poll(&p, 1, static_cast<int>(timeout.count()));
    close(pidfd);
  }
  return waitpid(pid_, nullptr, WNOHANG) == pid_;
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!waitForExit(kGraceAfterTerm)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

}  // namespace bench
