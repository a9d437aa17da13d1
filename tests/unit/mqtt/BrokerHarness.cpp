#include "BrokerHarness.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace mqtt_test {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(20);

constexpr uint8_t kConnackAccepted[] = {0x20, 0x02, 0x00, 0x00};
constexpr uint8_t kMoreLengthBytes = 0x80;
constexpr int kMaxLengthBytes = 4;
constexpr int kLengthBitsPerByte = 7;

bool ReadExactly(int fd, void* data, size_t size) {
  auto* at = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One MQTT control packet, whatever it is.
bool SkipPacket(int fd) {
  uint8_t header = 0;
  if (!ReadExactly(fd, &header, 1)) return false;
  size_t length = 0;
  for (int i = 0; i < kMaxLengthBytes; ++i) {
    uint8_t b = 0;
    if (!ReadExactly(fd, &b, 1)) return false;
    length |= size_t{b & ~kMoreLengthBytes & 0xFFu} << (kLengthBitsPerByte * i);
    if ((b & kMoreLengthBytes) == 0) break;
  }
  std::vector<uint8_t> body(length);
  return ReadExactly(fd, body.data(), length);
}

int ListenOnFreePort(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("cannot listen");
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

bool Connects(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

bool WaitListening(int port) {
  return WaitUntil([port] { return Connects(port); });
}

Child::Child(std::vector<std::string> argv) {
  // The relay forks a child per connection; as their subreaper the test
  // reaps them too, rather than leaving them to init.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  m_pid = ::fork();
  if (m_pid == 0) {
    ::setpgid(0, 0);
    // Gone with the test even when it crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (m_pid < 0) throw std::runtime_error("fork failed");
  ::setpgid(m_pid, m_pid);
}

void Child::Stop() {
  if (m_pid <= 0) return;
  ::kill(-m_pid, SIGKILL);
  while (::waitpid(-m_pid, nullptr, 0) > 0 || errno == EINTR) {
  }
  m_pid = -1;
}

Broker::Broker(const std::filesystem::path& dir, bool anonymous) : m_port(FreePort()) {
  const auto config = dir / ("mosquitto-" + std::to_string(m_port) + ".conf");
  std::ofstream(config) << "listener " << m_port << " 127.0.0.1\n"
                        << "allow_anonymous " << (anonymous ? "true" : "false") << "\n"
                        << "persistence false\nlog_dest none\n"
                        // Started as root, mosquitto would change user, which
                        // clears the signal that ends it with a crashed test.
                        << "user " << ::getpwuid(::geteuid())->pw_name << "\n";
  m_process = std::make_unique<Child>(
      std::vector<std::string>{"/usr/sbin/mosquitto", "-c", config.string()});
  if (!WaitListening(m_port)) throw std::runtime_error("mosquitto did not start");
}

Relay::Relay(int brokerPort) : m_brokerPort(brokerPort), m_port(FreePort()) { Restore(); }

void Relay::Restore() {
  m_process = std::make_unique<Child>(std::vector<std::string>{
      "/usr/bin/socat", "TCP-LISTEN:" + std::to_string(m_port) + ",bind=127.0.0.1,reuseaddr,fork",
      "TCP:127.0.0.1:" + std::to_string(m_brokerPort)});
  if (!WaitListening(m_port)) throw std::runtime_error("socat did not start");
}

SilentBroker::SilentBroker() : m_listener(ListenOnFreePort(&m_port)) {
  m_thread = std::thread([this] { Serve(); });
}

void SilentBroker::Serve() {
  const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  {
    std::lock_guard lock(m_mutex);
    m_client = fd;
    if (m_closed) ::shutdown(fd, SHUT_RDWR);
  }
  if (!SkipPacket(fd) || ::write(fd, kConnackAccepted, sizeof kConnackAccepted) < 0) return;
  while (SkipPacket(fd)) {
  }
}

void SilentBroker::Close() {
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) return;
    m_closed = true;
    // Wakes the accept and the reads.
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_client >= 0) ::shutdown(m_client, SHUT_RDWR);
  }
  m_thread.join();
  ::close(m_listener);
  if (m_client >= 0) ::close(m_client);
}

Subscriber::Subscriber(int port, const std::string& pattern) {
  mosquitto_lib_init();
  m_mosq = mosquitto_new(nullptr, true, this);
  mosquitto_message_callback_set(m_mosq, &Subscriber::OnMessage);
  mosquitto_subscribe_callback_set(m_mosq, &Subscriber::OnSubscribe);
  if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the subscriber cannot connect");
  }
  mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
  mosquitto_loop_start(m_mosq);
  std::unique_lock lock(m_mutex);
  if (!m_cv.wait_for(lock, kDeadline, [this] { return m_subscribed; })) {
    throw std::runtime_error("the subscription was not confirmed");
  }
}

Subscriber::~Subscriber() {
  mosquitto_disconnect(m_mosq);
  mosquitto_loop_stop(m_mosq, false);
  mosquitto_destroy(m_mosq);
}

void Subscriber::Publish(const std::string& topic, const std::string& payload, bool retain) {
  mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), 1, retain);
}

void Subscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
  auto* s = static_cast<Subscriber*>(self);
  Received r{m->topic, {}, m->retain};
  if (m->payloadlen > 0)
    r.payload.assign(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
  std::lock_guard lock(s->m_mutex);
  s->m_messages.push_back(std::move(r));
  s->m_cv.notify_all();
}

void Subscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto* s = static_cast<Subscriber*>(self);
  std::lock_guard lock(s->m_mutex);
  s->m_subscribed = true;
  s->m_cv.notify_all();
}

bool Subscriber::WaitFor(size_t* from, const std::function<bool(const Received&)>& match,
                         Received* found) {
  std::unique_lock lock(m_mutex);
  return m_cv.wait_for(lock, kDeadline, [&] {
    for (; *from < m_messages.size(); ++*from) {
      if (match(m_messages[*from])) {
        *found = m_messages[(*from)++];
        return true;
      }
    }
    return false;
  });
}

}  // namespace mqtt_test
