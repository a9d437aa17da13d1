#include "GatewayConfig.h"

#include <cstdint>
#include <cstring>
#include <fstream>

#include "modbuslib/modbuslib.h"

namespace bench {

namespace {

constexpr uint16_t kConfigurationFormat = 3;
constexpr const char* kScanVersion = "3.00";
constexpr int32_t kRtu = 1;
constexpr int32_t kTimeoutMs = 2000;
constexpr int32_t kSerialPort = 0;
constexpr uint8_t kNode = 1;
constexpr uint8_t kHoldingRegisters = 3;
constexpr int32_t kUnsigned = 0;
constexpr float kLowLimit = 0.0f;
constexpr float kHighLimit = 100.0f;
constexpr uint8_t kEightDataBits = 8;
constexpr uint32_t kDtrOn = 1;
constexpr size_t kShortTextLimit = 254;

// Items are little-endian, one after another, as the format says.
template <typename T>
void put(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

void putText(std::string& out, const std::string& text) {
  if (text.size() <= kShortTextLimit) {
    put<uint8_t>(out, static_cast<uint8_t>(text.size()));
  } else {
    put<uint8_t>(out, 0xFF);
    put<uint16_t>(out, static_cast<uint16_t>(text.size()));
  }
  out += text;
}

SerialSettings lineSettings() {
  SerialSettings settings{};
  settings.baudRate = GatewayConfig::kBaudRate;
  settings.wordLength = kEightDataBits;
  // RTS toggling, a new endpoint's default, means nothing on a pseudo-terminal.
  settings.rtsControl = 0;
  settings.dtrControl = kDtrOn;
  return settings;
}

bool save(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

}  // namespace

bool GatewayConfig::write(const std::string& dir, int comPort, const ScanLoad& load) {
  return write(dir, comPort, load, SilentNeighbour{0, kTimeoutMs});
}

bool GatewayConfig::write(const std::string& dir, int comPort, const ScanLoad& load,
                          const SilentNeighbour& silent) {
  std::vector<std::string> scanFiles;
  for (int i = 0; i < load.scans + silent.scans; ++i) {
    const int node = i < load.scans ? kNode : SilentNeighbour::kNode;
    scanFiles.push_back(dir + "/scan" + std::to_string(i) + ".scn");
    if (!save(scanFiles.back(), scan(i, comPort, load, node))) return false;
  }
  return save(dir + "/pelmoran.tst", configuration(comPort, silent.timeoutMs, scanFiles));
}

std::string GatewayConfig::configuration(int comPort, int timeoutMs,
                                         const std::vector<std::string>& scanFiles) {
  std::string out;
  put(out, kConfigurationFormat);
  put<int32_t>(out, 1);  // endpoints
  putText(out, kEndpoint);
  put<int32_t>(out, 0);  // connected when written: not read
  put(out, kRtu);
  put<int32_t>(out, timeoutMs);
  put<int32_t>(out, comPort);
  put(out, kSerialPort);
  put<uint32_t>(out, 0);  // IPv4 address, unused on a serial line
  put(out, lineSettings());
  put<int32_t>(out, static_cast<int32_t>(scanFiles.size()));
  for (const auto& file : scanFiles) putText(out, file);
  return out;
}

std::string GatewayConfig::scan(int index, int comPort, const ScanLoad& load, int node) {
  std::string out;
  putText(out, kScanVersion);
  putText(out, kEndpoint);
  putText(out, ".");
  put<int32_t>(out, comPort);
  put<uint8_t>(out, static_cast<uint8_t>(node));
  put(out, kHoldingRegisters);
  put<uint16_t>(out, static_cast<uint16_t>(firstPoint(index, load)));
  put<uint16_t>(out, static_cast<uint16_t>(load.registers));
  put<int32_t>(out, load.periodMs);
  put<int32_t>(out, load.registers);  // one unsigned tag per register
  for (int tag = 0; tag < load.registers; ++tag) {
    put<int32_t>(out, kHoldingRegisters);
    put(out, kUnsigned);
    put(out, kLowLimit);
    put(out, kHighLimit);
  }
  return out;
}

}  // namespace bench
