// The program's own HTTP server, as pelmoran.ini's [Http] section sets it:
//
//   [Http]
//   Enabled=1
//   Address=127.0.0.1
//   Port=8443
//   Https=1
//   AnonymousLoopbackRead=0
//   CertificateFile=          ; PEM; empty: the OPC UA certificate in pki/own/
//   KeyFile=
//
// Off unless enabled, on loopback unless the operator names another address.
#pragma once

#include <string>

struct HttpSettings {
  static constexpr const char* kSection = "Http";
  static constexpr const char* kLoopback = "127.0.0.1";
  static constexpr int kDefaultPort = 8443;

  bool enabled = false;
  std::string address = kLoopback;
  int port = kDefaultPort;  // 0: a free port, which the log names
  bool https = true;
  // Reading without a login, for clients on this machine only.
  bool anonymousLoopbackRead = false;
  std::string certificateFile;
  std::string keyFile;
};
