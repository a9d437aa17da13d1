// Who may do what over HTTP: the OPC UA users (tagserver's user file, the
// same names, passwords and roles) by HTTP basic authentication, taken over
// HTTPS only. Reading needs a login unless the operator lets clients on this
// machine read anonymously; changing needs a read-write user. There is no
// default user or password.
//
// A password is checked by its slow hash on the asking server thread; a
// good one is remembered a while by a digest, so that a page or a scraper
// asking often does not hash each time. Failures are throttled per address
// and per name (tagserver's LoginThrottle): the failing request waits, and
// while too many from one address wait, more are refused at once, so that
// the server's other threads keep serving.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tagserver/LoginThrottle.h"
#include "tagserver/UserDirectory.h"

namespace web {

enum class WebRole { None, Read, ReadWrite };

struct AccessAnswer {
  WebRole role = WebRole::None;
  int status = 200;      // 200 when a role was granted, else the answer to give
  std::string message;   // why not, for the client
  std::string user;      // who logged in; empty for an anonymous reader
};

class WebAccess {
 public:
  static constexpr int64_t kRememberMs = 5 * 60 * 1000;
  static constexpr size_t kMaxWaitingPerAddress = 2;
  static constexpr size_t kMaxChecking = 4;
  static constexpr size_t kMaxRemembered = 256;

  struct Request {
    std::string authorization;  // the header, or empty
    std::string address;        // the client's address alone
    bool https = false;
  };

  WebAccess(std::shared_ptr<const tagserver::UserDirectory> users, bool anonymousLoopbackRead);

  // Any server thread; may wait out the throttle's delay.
  AccessAnswer Check(const Request& request);
  static bool IsLoopback(const std::string& address);

 private:
  using Digest = std::array<uint8_t, 32>;
  struct Remembered {
    WebRole role;
    std::string user;
    int64_t untilMs;
  };
  AccessAnswer Verify(const std::string& address, const std::string& user,
                      const std::string& password);
  AccessAnswer Fail(const std::string& address, const std::string& user);
  static Digest DigestOf(const std::string& user, const std::string& password);
  static int64_t NowMs();

  std::shared_ptr<const tagserver::UserDirectory> m_users;
  bool m_bAnonymousLoopbackRead;
  std::mutex m_mutex;  // guards what follows
  tagserver::LoginThrottle m_throttle;
  std::map<std::string, size_t> m_waiting;  // failures waiting, by address
  size_t m_nChecking = 0;
  std::map<Digest, Remembered> m_remembered;
};

}  // namespace web
