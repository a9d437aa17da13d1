// Which device a COM port number names on this machine.
#pragma once

#include <istream>
#include <string>

namespace mbl {

class ComPortMap {
 public:
  // COM n is /dev/ttyS(n-1) unless PELMORAN_COMn or the mapping file says
  // otherwise (the variable wins). Empty for n below 1.
  static std::string devicePath(int comPort);
  // "comports" in the user's configuration directory, found as the program
  // finds it ($PELMORAN_CONFIG_DIR first).
  static std::string mappingFilePath();
  // Lines "COMn=/path"; blank lines and lines starting with '#' are skipped.
  static std::string lookup(std::istream& in, int comPort);
};

}  // namespace mbl
