#include "HostileSlave.h"

#include <sstream>

HostileSlave::HostileSlave(const std::string& transport, const std::string& dialect) {
  std::vector<std::string> argv{"/usr/bin/python3", HOSTILE_SLAVE_SCRIPT, "--transport",
                                transport,          "--dialect",          dialect};
  if (transport == "rtu" || transport == "ascii") {
    ptys_ = std::make_unique<PtyPair>();
    if (!ptys_->ready()) return;
    argv.insert(argv.end(), {"--device", ptys_->slaveDevice()});
  }
  process_ = std::make_unique<PeerProcess>(argv);
  const std::string line = process_->readLine();
  if (line.rfind("ready ", 0) != 0) return;
  tcpPort_ = std::stoi(line.substr(6));
  ready_ = true;
}

void HostileSlave::behave(const std::string& behaviour) {
  process_->writeLine("behave " + behaviour);
  process_->readLine();
}

void HostileSlave::habit(const std::string& habit) {
  process_->writeLine("habit " + habit);
  process_->readLine();
}

std::vector<uint32_t> HostileSlave::get(int address, int count) {
  process_->writeLine("get " + std::to_string(address) + " " + std::to_string(count));
  std::istringstream in(process_->readLine());
  std::string word;
  in >> word;
  std::vector<uint32_t> values;
  uint32_t v = 0;
  while (in >> v) values.push_back(v);
  return values;
}

void HostileSlave::set(int address, const std::vector<uint32_t>& values) {
  std::string line = "set " + std::to_string(address);
  for (uint32_t v : values) line += " " + std::to_string(v);
  process_->writeLine(line);
  process_->readLine();
}
