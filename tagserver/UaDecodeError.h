// Raised by the decoder when the bytes do not form what was expected; the
// status code says why and becomes the Error message that closes the link.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tagserver {

class UaDecodeError : public std::runtime_error {
 public:
  UaDecodeError(uint32_t status, const std::string& what)
      : std::runtime_error(what), m_nStatus(status) {}
  uint32_t Status() const { return m_nStatus; }

 private:
  uint32_t m_nStatus;
};

}  // namespace tagserver
