#include "PeerProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

PeerProcess::PeerProcess(const std::vector<std::string>& argv) {
  int in[2];
  int out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    // socat reports its pseudo-terminals on stderr; both streams come back.
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toPeer_ = in[1];
  fromPeer_ = out[0];
}

PeerProcess::~PeerProcess() { stop(); }

std::string PeerProcess::readLine(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    const auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fromPeer_ < 0) return {};
    pollfd p{fromPeer_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
    char buf[512];
    const ssize_t n = read(fromPeer_, buf, sizeof buf);
    if (n <= 0) return {};
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void PeerProcess::writeLine(const std::string& line) {
  const std::string text = line + "\n";
  if (toPeer_ >= 0 && write(toPeer_, text.data(), text.size()) < 0) return;
}

void PeerProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (kill(pid_, 0) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  if (toPeer_ >= 0) close(toPeer_);
  if (fromPeer_ >= 0) close(fromPeer_);
  toPeer_ = fromPeer_ = -1;
}
