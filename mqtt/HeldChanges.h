// Kept changes of Sparkplug devices that are not born, each device's in a
// spool of its own under <spool directory>/held/. No DDATA may go before a
// device's DBIRTH, and a device whose endpoint stays down must hold up no
// other: its changes wait here, on disk, and go out in order after its next
// birth, after a restart too. Each device's spool has the main spool's bound.
// Not thread-safe: the publisher's worker owns it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/Spool.h"

namespace mqtt {

class HeldChanges {
 public:
  HeldChanges(std::string directory, uint64_t limitBytes);

  // Opens the spools a previous run left.
  bool Open(std::string* error);
  void Hold(const std::string& device, std::string_view record);
  // Whether records of the device wait to be taken.
  bool Holds(const std::string& device) const;
  // The device's spool; nullptr when it holds nothing.
  Spool* Of(const std::string& device);
  std::vector<std::string> Devices() const;
  // Deletes the device's spool; the number of records it held.
  uint64_t Drop(const std::string& device);
  // Closes and deletes the spools that are empty, but those in use.
  void Prune(const std::set<const Spool*>& inUse);
  bool Flush();
  // Records dropped past the bound, or for want of a spool, over every device.
  uint64_t Dropped() const;

  // A device name as a directory name and back: hexadecimal, so that any
  // name is one; false for a name that is not such a directory's.
  static std::string FolderOf(const std::string& device);
  static bool DeviceOf(std::string_view folder, std::string* device);

 private:
  Spool* Open(const std::string& device, std::string* error);

  std::string m_directory;
  uint64_t m_limitBytes;
  std::map<std::string, std::unique_ptr<Spool>> m_spools;
  // Past-the-bound drops of spools since deleted, and records that found no
  // spool to wait in.
  uint64_t m_droppedBefore = 0;
};

}  // namespace mqtt
