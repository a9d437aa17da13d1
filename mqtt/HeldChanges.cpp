#include "mqtt/HeldChanges.h"

#include <filesystem>
#include <system_error>

namespace mqtt {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kBitsPerDigit = 4;
constexpr unsigned kDigitMask = 0xF;

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

HeldChanges::HeldChanges(std::string directory, uint64_t limitBytes)
    : m_directory(std::move(directory)), m_limitBytes(limitBytes) {}

std::string HeldChanges::FolderOf(const std::string& device) {
  std::string folder;
  folder.reserve(device.size() * 2);
  for (unsigned char c : device) {
    folder += kHexDigits[c >> kBitsPerDigit];
    folder += kHexDigits[c & kDigitMask];
  }
  return folder;
}

bool HeldChanges::DeviceOf(std::string_view folder, std::string* device) {
  if (folder.empty() || folder.size() % 2 != 0) return false;
  device->clear();
  for (size_t i = 0; i < folder.size(); i += 2) {
    const int high = DigitValue(folder[i]);
    const int low = DigitValue(folder[i + 1]);
    if (high < 0 || low < 0) return false;
    *device += static_cast<char>((high << kBitsPerDigit) | low);
  }
  return true;
}

bool HeldChanges::Open(std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(m_directory, ec);
  if (ec) {
    *error = "cannot make the spool directory " + m_directory + ": " + ec.message();
    return false;
  }
  for (const auto& entry : std::filesystem::directory_iterator(m_directory, ec)) {
    std::string device;
    if (entry.is_directory() && DeviceOf(entry.path().filename().string(), &device) &&
        Open(device, error) == nullptr) {
      return false;
    }
  }
  Prune({});
  return true;
}

Spool* HeldChanges::Open(const std::string& device, std::string* error) {
  auto spool = std::make_unique<Spool>(m_directory + "/" + FolderOf(device), m_limitBytes);
  if (!spool->Open(error)) return nullptr;
  return (m_spools[device] = std::move(spool)).get();
}

void HeldChanges::Hold(const std::string& device, std::string_view record) {
  Spool* spool = Of(device);
  std::string error;
  if (spool == nullptr) spool = Open(device, &error);
  // Without a directory of its own (a full or failing disk) the record has
  // nowhere to wait: it is counted with the ones dropped past the bound.
  if (spool == nullptr) {
    ++m_droppedBefore;
    return;
  }
  spool->Append(record);
}

bool HeldChanges::Holds(const std::string& device) const {
  const auto it = m_spools.find(device);
  return it != m_spools.end() && it->second->HasUntaken();
}

Spool* HeldChanges::Of(const std::string& device) {
  const auto it = m_spools.find(device);
  return it == m_spools.end() ? nullptr : it->second.get();
}

std::vector<std::string> HeldChanges::Devices() const {
  std::vector<std::string> devices;
  for (const auto& [device, spool] : m_spools) devices.push_back(device);
  return devices;
}

uint64_t HeldChanges::Drop(const std::string& device) {
  const auto it = m_spools.find(device);
  if (it == m_spools.end()) return 0;
  const uint64_t records = it->second->Records();
  m_droppedBefore += it->second->Dropped();
  m_spools.erase(it);
  std::error_code ec;
  std::filesystem::remove_all(m_directory + "/" + FolderOf(device), ec);
  return records;
}

void HeldChanges::Prune(const std::set<const Spool*>& inUse) {
  std::vector<std::string> empty;
  for (const auto& [device, spool] : m_spools) {
    if (spool->Bytes() == 0 && !inUse.contains(spool.get())) empty.push_back(device);
  }
  for (const std::string& device : empty) Drop(device);
}

bool HeldChanges::Flush() {
  bool ok = true;
  for (const auto& [device, spool] : m_spools) ok = spool->Flush() && ok;
  return ok;
}

uint64_t HeldChanges::Dropped() const {
  uint64_t dropped = m_droppedBefore;
  for (const auto& [device, spool] : m_spools) dropped += spool->Dropped();
  return dropped;
}

}  // namespace mqtt
