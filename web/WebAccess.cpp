#include "web/WebAccess.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <strings.h>

#include <cstring>

#include <optional>
#include <thread>

namespace web {

namespace {

constexpr const char* kBasic = "Basic ";
constexpr size_t kMaxCredentials = 1024;

std::optional<std::string> DecodeBase64(const std::string& text) {
  if (text.empty() || text.size() > kMaxCredentials || text.size() % 4 != 0) return std::nullopt;
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

AccessAnswer Refused(int status, std::string message) {
  AccessAnswer answer;
  answer.status = status;
  answer.message = std::move(message);
  return answer;
}

}  // namespace

WebAccess::WebAccess(std::shared_ptr<const tagserver::UserDirectory> users,
                     bool anonymousLoopbackRead)
    : m_users(std::move(users)), m_bAnonymousLoopbackRead(anonymousLoopbackRead) {}

bool WebAccess::IsLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

AccessAnswer WebAccess::Check(const Request& request) {
  if (request.authorization.empty()) {
    if (m_bAnonymousLoopbackRead && IsLoopback(request.address)) {
      AccessAnswer answer;
      answer.role = WebRole::Read;
      return answer;
    }
    return Refused(401, request.https ? "log in with a user name and password"
                                      : "log in over HTTPS: this server takes no password in clear");
  }
  // A password sent in clear is not looked at, so that it is not taken as good.
  if (!request.https) return Refused(403, "passwords are taken over HTTPS only");
  if (strncasecmp(request.authorization.c_str(), kBasic, strlen(kBasic)) != 0)
    return Refused(400, "the Authorization header is not HTTP basic authentication");
  std::optional<std::string> pair = DecodeBase64(request.authorization.substr(strlen(kBasic)));
  size_t colon = pair ? pair->find(':') : std::string::npos;
  if (colon == std::string::npos)
    return Refused(400, "the Authorization header does not hold a name and a password");
  return Verify(request.address, pair->substr(0, colon), pair->substr(colon + 1));
}

AccessAnswer WebAccess::Verify(const std::string& address, const std::string& user,
                               const std::string& password) {
  const Digest digest = DigestOf(user, password);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_remembered.find(digest);
    if (it != m_remembered.end() && it->second.untilMs > NowMs()) {
      AccessAnswer answer;
      answer.role = it->second.role;
      answer.user = it->second.user;
      return answer;
    }
    auto waiting = m_waiting.find(address);
    if (waiting != m_waiting.end() && waiting->second >= kMaxWaitingPerAddress)
      return Refused(429, "too many failed logins from this address: try again later");
    if (m_nChecking >= kMaxChecking) return Refused(503, "too many logins at once: try again");
    ++m_nChecking;
  }
  std::optional<tagserver::UserRole> role = m_users->Authenticate(user, password);
  std::lock_guard<std::mutex> lock(m_mutex);
  --m_nChecking;
  if (!role) return Fail(address, user);
  m_throttle.Succeeded(address, user);
  AccessAnswer answer;
  answer.role = *role == tagserver::UserRole::ReadWrite ? WebRole::ReadWrite : WebRole::Read;
  answer.user = user;
  if (m_remembered.size() >= kMaxRemembered) m_remembered.clear();
  m_remembered[digest] = Remembered{answer.role, user, NowMs() + kRememberMs};
  return answer;
}

// Called with the mutex held; waits without it.
AccessAnswer WebAccess::Fail(const std::string& address, const std::string& user) {
  const int64_t delayMs = m_throttle.Failed(address, user, NowMs());
  ++m_waiting[address];
  m_mutex.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  m_mutex.lock();
  if (--m_waiting[address] == 0) m_waiting.erase(address);
  return Refused(401, "wrong user name or password");
}

WebAccess::Digest WebAccess::DigestOf(const std::string& user, const std::string& password) {
  std::string both = user + '\0' + password;
  Digest digest{};
  SHA256(reinterpret_cast<const unsigned char*>(both.data()), both.size(), digest.data());
  return digest;
}

int64_t WebAccess::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace web
