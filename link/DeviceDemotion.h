// The devices (slave nodes) of one endpoint and how each has lately been
// answering. A device that keeps timing out would cost every other device on
// its line a whole time-out per poll; after a run of time-outs it is demoted:
// its requests are held back for a while, then one request probes it, and a
// good answer restores it. Probes follow each other at most 4 s apart, so
// that a device that returns is polled again within 5 s, however long it was
// away and whatever the hold says; each costs the line one request.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "link/LinkClock.h"

struct DemotionPolicy {
  static constexpr int kDefaultTimeouts = 3;
  static constexpr int kDefaultHoldSeconds = 10;
  // What the settings file and the Options dialog accept.
  static constexpr int kMostTimeouts = 1000;
  static constexpr int kLongestHoldSeconds = 86400;
  // Consecutive time-outs that demote a device; 0 never demotes.
  int timeouts = kDefaultTimeouts;
  // How long a demoted device's requests are held back before a probe,
  // counted from the last probe's start; longer than the probe gap counts as it.
  int holdSeconds = kDefaultHoldSeconds;
  // The longest time from one probe of a demoted device to the next.
  static constexpr std::chrono::seconds kLongestProbeGap{4};
  LinkClock::duration ProbeGap() const {
    return std::min<LinkClock::duration>(std::chrono::seconds(holdSeconds), kLongestProbeGap);
  }
};

class DeviceDemotion {
 public:
  explicit DeviceDemotion(LinkNow now = LinkClock::now);

  void SetPolicy(const DemotionPolicy& policy) { m_policy = policy; }
  const DemotionPolicy& GetPolicy() const { return m_policy; }
  void SetClock(LinkNow now) { m_now = std::move(now); }

  // Whether a poll of the device may go out now. Once a demoted device's
  // time is up exactly one is let through, the probe, until its result.
  bool MayPoll(uint8_t slave);
  // A request already queued for the device goes out only if it is not held back.
  bool IsHeldBack(uint8_t slave) const;
  bool IsDemoted(uint8_t slave) const;
  // How an exchange with the device ended.
  void OnResult(uint8_t slave, int32_t status);
  // No device heard of on this endpoint answered its last request: the
  // connection itself is the likelier fault. True when none is known.
  bool AllSilent() const;
  std::vector<uint8_t> DemotedDevices() const;

 private:
  struct Device {
    int timeouts = 0;
    bool demoted = false;
    bool probing = false;
    LinkClock::time_point probedAt{};
    LinkClock::time_point heldUntil{};
  };

  void Demote(Device& device);

  LinkNow m_now;
  DemotionPolicy m_policy;
  std::map<uint8_t, Device> m_devices;
};
