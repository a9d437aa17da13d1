// Owns the server thread and everything that runs on it, and the tag store
// that the program's thread writes into. One per process, behind the
// library's entry points.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tagserver/TagStore.h"
#include "tagserver/tagserver.h"

namespace tagserver {

class UaServer;
class TcpListener;

class TagServerHost {
 public:
  static TagServerHost& Instance();
  // What the server's certificate names it by.
  static std::string ApplicationUri();
  // The folder of the certificates and the users file, with its "/".
  static std::string SecurityFolder(const char* directory);

  // 0 on success (also when already running), -1 when the endpoint setting
  // is malformed or the address cannot be bound.
  int Start(int rateMs);
  // Takes effect at the next Start.
  void SetSecurity(const OPCSecuritySettings& settings);
  void Stop();
  const char* Url();
  // Any thread.
  int ClientCount();
  TagStore& Tags() { return m_tags; }
  void SetWriteCallback(OPCWriteCallback callback, bool enable);
  void SetAsyncWriteCallback(OPCAsyncWriteCallback callback, bool enable);
  // Any thread: the result reaches the held request on the server thread.
  int CompleteWrite(OPCWriteToken token, uint32_t status);

 private:
  TagServerHost() = default;
  // A program may end through exit() with the server still running (the
  // window system ends it when the display goes away).
  ~TagServerHost();
  uint32_t HandleWrite(int32_t handle, VARIANT& value, OPCWriteToken token);
  void SecureServer(UaServer& server, const std::string& applicationUri, bool loopback);

  std::mutex m_mutex;
  TagStore m_tags;
  std::unique_ptr<asio::io_context> m_io;
  std::unique_ptr<UaServer> m_server;
  std::unique_ptr<TcpListener> m_listener;
  std::thread m_thread;
  std::string m_strUrl;
  std::string m_strSecurityDirectory;
  bool m_bAllowNoneOnNetwork = false;
  int m_nAnonymous = OPC_ANONYMOUS_DEFAULT;
  std::atomic<OPCWriteCallback> m_callback{nullptr};
  std::atomic<OPCAsyncWriteCallback> m_asyncCallback{nullptr};
};

}  // namespace tagserver
