// Told by the endpoint registry whenever an endpoint's link comes up or goes
// down (connected, lost, closed, its serial device gone or back, removed).
// Main thread only.
#pragma once

#include <string>

class IEndpointObserver {
 public:
  virtual ~IEndpointObserver() = default;
  // up: requests can reach the endpoint's devices now.
  virtual void OnEndpointLink(const std::string& endpoint, bool up) = 0;
};
