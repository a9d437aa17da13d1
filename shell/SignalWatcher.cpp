#include "shell/SignalWatcher.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

namespace {
int g_fds[2] = {-1, -1};
}

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) {
    std::perror("pelmoran: socketpair");
    return;
  }
  fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
  fcntl(g_fds[1], F_SETFL, O_NONBLOCK);
  m_pNotifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
  connect(m_pNotifier, &QSocketNotifier::activated, this, &SignalWatcher::OnSignal);
  struct sigaction action = {};
  action.sa_handler = &SignalWatcher::Handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

SignalWatcher::~SignalWatcher() {
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  for (int& fd : g_fds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void SignalWatcher::Handler(int signal) {
  unsigned char byte = static_cast<unsigned char>(signal);
  if (g_fds[0] >= 0) {
    ssize_t written = write(g_fds[0], &byte, 1);
    (void)written;  // a full pipe already holds a wake-up
  }
}

void SignalWatcher::OnSignal() {
  unsigned char byte = 0;
  while (read(g_fds[1], &byte, 1) == 1) m_nSignal = byte;
  QCoreApplication::quit();
}
