#include "modbuslib/ComPortMap.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "platform/ConfigLocation.h"

namespace mbl {

namespace {
std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

bool namesPort(std::string key, int comPort) {
  for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key == "COM" + std::to_string(comPort);
}
}  // namespace

std::string ComPortMap::mappingFilePath() { return UserConfigDirectory() + "comports"; }

std::string ComPortMap::lookup(std::istream& in, int comPort) {
  std::string line;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (namesPort(trim(line.substr(0, eq)), comPort)) return trim(line.substr(eq + 1));
  }
  return {};
}

std::string ComPortMap::devicePath(int comPort) {
  if (comPort < 1) return {};
  const std::string var = "PELMORAN_COM" + std::to_string(comPort);
  if (const char* mapped = std::getenv(var.c_str()); mapped != nullptr && *mapped != '\0') {
    return mapped;
  }
  std::ifstream file(mappingFilePath());
  if (file) {
    std::string path = lookup(file, comPort);
    if (!path.empty()) return path;
  }
  return "/dev/ttyS" + std::to_string(comPort - 1);
}

}  // namespace mbl
