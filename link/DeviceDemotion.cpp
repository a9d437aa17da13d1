#include "link/DeviceDemotion.h"

#include <algorithm>

#include "pointdb/ScanStatus.h"

namespace {

// What says that the device itself is there: an answer, an exception, or
// an answer it garbled. Other failures (the link down, a request refused,
// a mismatch handed to every queued request) say nothing of the device.
bool DeviceAnswered(int32_t status) {
  return status == ToNumber(ScanStatus::Ok) || IsSlaveException(status) ||
         status == ToNumber(ScanStatus::InvalidChecksum);
}

}  // namespace

DeviceDemotion::DeviceDemotion(LinkNow now) : m_now(std::move(now)) {}

bool DeviceDemotion::MayPoll(uint8_t slave) {
  auto it = m_devices.find(slave);
  if (it == m_devices.end() || !it->second.demoted) return true;
  Device& device = it->second;
  if (device.probing || m_now() < device.heldUntil) return false;
  device.probing = true;
  device.probedAt = m_now();
  return true;
}

bool DeviceDemotion::IsHeldBack(uint8_t slave) const {
  auto it = m_devices.find(slave);
  return it != m_devices.end() && it->second.demoted && !it->second.probing;
}

bool DeviceDemotion::IsDemoted(uint8_t slave) const {
  auto it = m_devices.find(slave);
  return it != m_devices.end() && it->second.demoted;
}

void DeviceDemotion::OnResult(uint8_t slave, int32_t status) {
  if (DeviceAnswered(status)) {
    m_devices[slave] = Device{};
  } else if (status == ToNumber(ScanStatus::PollTimeout)) {
    Device& device = m_devices[slave];
    ++device.timeouts;
    // A failed probe holds the device back again at once.
    if (device.demoted || (m_policy.timeouts > 0 && device.timeouts >= m_policy.timeouts))
      Demote(device);
  } else if (auto it = m_devices.find(slave); it != m_devices.end()) {
    // The probe never reached the device; the next poll probes instead.
    it->second.probing = false;
  }
}

void DeviceDemotion::Demote(Device& device) {
  // From the failed probe's start: a device that returns just after a probe
  // went out is probed again within the gap, however long that probe waited.
  const LinkClock::time_point from = device.probing ? device.probedAt : m_now();
  device.demoted = true;
  device.probing = false;
  device.heldUntil = from + m_policy.ProbeGap();
}

bool DeviceDemotion::AllSilent() const {
  return std::all_of(m_devices.begin(), m_devices.end(),
                     [](const auto& entry) { return entry.second.timeouts > 0; });
}

std::vector<uint8_t> DeviceDemotion::DemotedDevices() const {
  std::vector<uint8_t> demoted;
  for (const auto& [slave, device] : m_devices)
    if (device.demoted) demoted.push_back(slave);
  return demoted;
}
