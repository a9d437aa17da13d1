#include "PeerSlave.h"

#include <sstream>

PeerSlave::PeerSlave(const std::string& mode, int tcpPort) {
  std::vector<std::string> argv{"/usr/bin/python3", MODBUS_SLAVE_SCRIPT, "--mode", mode};
  if (mode == "tcp" || mode.find('-') != std::string::npos) {
    argv.insert(argv.end(), {"--tcp-port", std::to_string(tcpPort)});
  } else {
    ptys_ = std::make_unique<PtyPair>();
    if (!ptys_->ready()) return;
    masterDevice_ = ptys_->masterDevice();
    argv.insert(argv.end(), {"--device", ptys_->slaveDevice()});
  }
  slave_ = std::make_unique<PeerProcess>(argv);
  const std::string line = slave_->readLine(std::chrono::seconds(20));
  if (line.rfind("ready ", 0) != 0) return;
  tcpPort_ = std::stoi(line.substr(6));
  ready_ = true;
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
  if (ptys_) ptys_->stop();
}
