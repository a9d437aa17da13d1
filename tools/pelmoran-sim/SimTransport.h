// One way in to the simulator's tables; the main loop waits on the file
// descriptors of every transport and hands each readable one back to its owner.
#pragma once

#include <vector>

class SimTransport {
 public:
  virtual ~SimTransport() = default;
  virtual void CollectFds(std::vector<int>& fds) const = 0;
  virtual void OnReadable(int fd) = 0;
};
