// What an endpoint's protocol number says together with its network flag.
// Serial endpoints use 0-3; a network endpoint with 0-3 is Modbus/TCP (older
// files store the serial default there), and 4-12 carry a serial framing to
// a serial device server, or Modbus/TCP framing on UDP.
#pragma once

#include "modbuslib/modbuslib.h"

namespace EndpointKind {

// The framings of a serial line, as their protocol numbers.
constexpr int kAscii = 0;
constexpr int kRtu = 1;
constexpr int kDanielsAscii = 2;
constexpr int kDanielsRtu = 3;
constexpr int kFramings = 4;
// 4-7: a serial framing (the number less 4) over TCP.
constexpr int kOverTcp = 4;
// 8: Modbus/TCP framing over UDP; 9-12: a serial framing (less 9) over UDP.
constexpr int kMbapOverUdp = 8;
constexpr int kOverUdp = 9;
constexpr int kLastProtocol = kOverUdp + kFramings - 1;

// A network endpoint that the library treats as a line: its handle comes at
// once, and it reports the peer away and back as a serial device.
constexpr bool IsNetLine(bool network, int protocol) {
  return network && protocol >= kOverTcp && protocol <= kLastProtocol;
}

// MBS_FRAMING_* of a network line.
constexpr int Framing(int protocol) {
  if (protocol == kMbapOverUdp) return MBS_FRAMING_MBAP;
  return protocol >= kOverUdp ? protocol - kOverUdp : protocol - kOverTcp;
}

constexpr int Transport(int protocol) {
  return protocol >= kMbapOverUdp ? MBS_NET_UDP : MBS_NET_TCP;
}

// Whether the endpoint speaks Daniels/ENRON, serial or over a network.
constexpr bool IsDaniels(bool network, int protocol) {
  const int framing =
      !network ? protocol : (IsNetLine(network, protocol) ? Framing(protocol) : -1);
  return framing == kDanielsAscii || framing == kDanielsRtu;
}

}  // namespace EndpointKind
