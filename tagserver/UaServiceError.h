// Raised by a service handler for a failure of the whole request; the client
// gets a ServiceFault with the status and the connection stays up.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace tagserver {

class UaServiceError : public std::runtime_error {
 public:
  explicit UaServiceError(uint32_t status)
      : std::runtime_error("service fault"), m_nStatus(status) {}
  uint32_t Status() const { return m_nStatus; }

 private:
  uint32_t m_nStatus;
};

}  // namespace tagserver
