#include "ScriptedSlave.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "modbuslib/Checksum.h"

namespace {
int nextComPort = 100;
}

SerialSettings serialSettings8N1(uint32_t baud) {
  SerialSettings s{};
  s.baudRate = baud;
  s.wordLength = 8;
  s.dtrControl = 1;
  return s;
}

ScriptedSlave::ScriptedSlave(Script script) : script_(std::move(script)) {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
  termios t{};
  tcgetattr(master_, &t);
  cfmakeraw(&t);
  tcsetattr(master_, TCSANOW, &t);
  comPort_ = nextComPort++;
  setenv(("PELMORAN_COM" + std::to_string(comPort_)).c_str(), name, 1);
  thread_ = std::thread([this] { serve(); });
}

ScriptedSlave::~ScriptedSlave() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

std::vector<ScriptedSlave::Bytes> ScriptedSlave::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<ScriptedSlave::Bytes> ScriptedSlave::waitForRequests(
    size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
  return requests_;
}

void ScriptedSlave::serve() {
  Bytes frame;
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    // A pause of 30 ms ends a request.
    const int ready = poll(&p, 1, 30);
    if (ready > 0 && (p.revents & POLLIN)) {
      uint8_t buf[600];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) frame.insert(frame.end(), buf, buf + n);
      continue;
    }
    if (frame.empty()) continue;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(frame);
    }
    arrived_.notify_all();
    const Bytes reply = script_(frame);
    if (!reply.empty() && write(master_, reply.data(), reply.size()) < 0) return;
    frame.clear();
  }
}

ScriptedSlave::Bytes ScriptedSlave::rtu(Bytes frame) {
  const uint16_t crc = mbl::crc16(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

ScriptedSlave::Bytes ScriptedSlave::ascii(const Bytes& body) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Bytes withLrc = body;
  withLrc.push_back(mbl::lrc(body));
  Bytes out{':'};
  for (uint8_t b : withLrc) {
    out.push_back(static_cast<uint8_t>(kHex[b >> 4]));
    out.push_back(static_cast<uint8_t>(kHex[b & 0xF]));
  }
  out.push_back('\r');
  out.push_back('\n');
  return out;
}

ScriptedSlave::Bytes ScriptedSlave::asciiBody(const Bytes& frame) {
  Bytes body;
  for (size_t i = 1; i + 3 < frame.size(); i += 2) {
    body.push_back(static_cast<uint8_t>(
        std::stoi(std::string(frame.begin() + i, frame.begin() + i + 2), nullptr, 16)));
  }
  if (!body.empty()) body.pop_back();
  return body;
}
