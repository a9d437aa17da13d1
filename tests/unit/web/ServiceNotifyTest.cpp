#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <cstdlib>
#include <string>

#include "shell/ServiceNotify.h"

namespace {

// Stands in for systemd: the datagram socket NOTIFY_SOCKET names.
class NotifySocket {
 public:
  NotifySocket() {
    path_ = "/tmp/pelmoran-notify-" + std::to_string(getpid());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path_.c_str());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    setenv("NOTIFY_SOCKET", path_.c_str(), 1);
  }
  ~NotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    close(fd_);
    unlink(path_.c_str());
  }
  bool bound() const { return bound_; }
  // The next message, waiting for it while the event loop runs.
  std::string Next() {
    std::string message;
    (void)QTest::qWaitFor([&] {
      char buffer[256];
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) message.assign(buffer, static_cast<size_t>(n));
      return n > 0;
    });
    return message;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(ServiceNotifyTest, ReadyThenWatchdogPingsFromTheEventLoopThenStopping) {
  static int argc = 1;
  static char name[] = "service-notify-test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  NotifySocket systemd;
  ASSERT_TRUE(systemd.bound());
  setenv("WATCHDOG_USEC", "100000", 1);
  setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
  ServiceNotify notify;
  notify.Ready();
  EXPECT_EQ(systemd.Next(), "READY=1");
  EXPECT_EQ(systemd.Next(), "WATCHDOG=1");
  EXPECT_EQ(systemd.Next(), "WATCHDOG=1");
  notify.Stopping();
  EXPECT_EQ(systemd.Next(), "STOPPING=1");
  unsetenv("WATCHDOG_USEC");
  unsetenv("WATCHDOG_PID");
}

}  // namespace
