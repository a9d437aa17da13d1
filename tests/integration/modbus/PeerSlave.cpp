#include "PeerSlave.h"

#include <sstream>

PeerSlave::PeerSlave(const std::string& mode, int tcpPort) {
  std::vector<std::string> argv{"/usr/bin/python3", MODBUS_SLAVE_SCRIPT, "--mode", mode};
  if (mode == "tcp") {
    argv.insert(argv.end(), {"--tcp-port", std::to_string(tcpPort)});
  } else {
    if (!startPtyPair()) return;
    argv.insert(argv.end(), {"--device", slaveDevice_});
  }
  slave_ = std::make_unique<PeerProcess>(argv);
  const std::string line = slave_->readLine(std::chrono::seconds(20));
  if (line.rfind("ready ", 0) != 0) return;
  tcpPort_ = std::stoi(line.substr(6));
  ready_ = true;
}

bool PeerSlave::startPtyPair() {
  socat_ = std::make_unique<PeerProcess>(
      std::vector<std::string>{"socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"});
  std::vector<std::string> names;
  while (names.size() < 2) {
    const std::string line = socat_->readLine(std::chrono::seconds(10));
    if (line.empty()) return false;
    const auto at = line.find("PTY is ");
    if (at != std::string::npos) names.push_back(line.substr(at + 7));
  }
  masterDevice_ = names[0];
  slaveDevice_ = names[1];
  // socat has opened both ends once it reports its transfer loop.
  while (true) {
    const std::string line = socat_->readLine(std::chrono::seconds(10));
    if (line.empty()) return false;
    if (line.find("starting data transfer") != std::string::npos) return true;
  }
}

std::vector<int> PeerSlave::get(const std::string& table, int wireAddress, int count) {
  slave_->writeLine("get " + table + " " + std::to_string(wireAddress) + " " +
                    std::to_string(count));
  std::istringstream in(slave_->readLine());
  std::string word;
  in >> word;
  std::vector<int> values;
  int v = 0;
  while (in >> v) values.push_back(v);
  return values;
}

void PeerSlave::set(const std::string& table, int wireAddress, const std::vector<int>& values) {
  std::string line = "set " + table + " " + std::to_string(wireAddress);
  for (int v : values) line += " " + std::to_string(v);
  slave_->writeLine(line);
  slave_->readLine();
}

void PeerSlave::stop() {
  if (slave_) slave_->stop();
  if (socat_) socat_->stop();
}
