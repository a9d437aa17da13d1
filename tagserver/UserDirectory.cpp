#include "tagserver/UserDirectory.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tagserver/SymmetricCrypto.h"

namespace tagserver {

namespace {

constexpr const char* kScheme = "pbkdf2-sha256";
constexpr uint32_t kIterations = 100000;
constexpr uint32_t kMaxIterations = 10000000;
constexpr size_t kSaltSize = 16;
constexpr size_t kHashSize = 32;
constexpr size_t kMaxName = 64;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    text += two;
  }
  return text;
}

std::optional<std::vector<uint8_t>> FromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return std::nullopt;
    out.push_back(static_cast<uint8_t>(value));
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ':')) out.push_back(field);
  return out;
}

}  // namespace

UserDirectory::UserDirectory(std::string path)
    : m_strPath(std::move(path)),
      m_hasher(Hash),
      m_dummySalt(SymmetricCrypto::RandomBytes(kSaltSize)),
      m_dummyHash(kHashSize) {}

bool UserDirectory::ValidName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxName &&
         name.find_first_of(":\r\n") == std::string::npos;
}

std::vector<uint8_t> UserDirectory::Hash(const std::string& password,
                                         const std::vector<uint8_t>& salt, uint32_t iterations) {
  std::vector<uint8_t> out(kHashSize);
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                        static_cast<int>(out.size()), out.data()) != 1)
    out.clear();
  return out;
}

std::optional<UserDirectory::Entry> UserDirectory::Parse(const std::string& line) {
  std::vector<std::string> f = Fields(line);
  if (f.size() != 6 || !ValidName(f[0]) || f[2] != kScheme) return std::nullopt;
  if (f[1] != "read" && f[1] != "readwrite") return std::nullopt;
  Entry e;
  e.name = f[0];
  e.role = f[1] == "readwrite" ? UserRole::ReadWrite : UserRole::ReadOnly;
  char* end = nullptr;
  unsigned long iterations = std::strtoul(f[3].c_str(), &end, 10);
  auto salt = FromHex(f[4]);
  auto hash = FromHex(f[5]);
  if (*end != '\0' || iterations == 0 || iterations > kMaxIterations || !salt || !hash ||
      hash->size() != kHashSize)
    return std::nullopt;
  e.iterations = static_cast<uint32_t>(iterations);
  e.salt = std::move(*salt);
  e.hash = std::move(*hash);
  return e;
}

std::vector<std::pair<std::string, UserRole>> UserDirectory::List() const {
  std::vector<std::pair<std::string, UserRole>> users;
  for (const Entry& entry : Load()) users.emplace_back(entry.name, entry.role);
  return users;
}

std::vector<UserDirectory::Entry> UserDirectory::Load() const {
  std::vector<Entry> out;
  std::ifstream in(m_strPath);
  std::string line;
  while (std::getline(in, line))
    if (auto e = Parse(line)) out.push_back(std::move(*e));
  return out;
}

bool UserDirectory::Save(const std::vector<Entry>& entries, std::string& error) const {
  std::string text;
  for (const Entry& e : entries)
    text += e.name + ":" + (e.role == UserRole::ReadWrite ? "readwrite" : "read") + ":" + kScheme +
            ":" + std::to_string(e.iterations) + ":" + Hex(e.salt) + ":" + Hex(e.hash) + "\n";
  const std::string temp = m_strPath + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), m_strPath.c_str()) != 0) {
    error = "cannot write " + m_strPath;
    return false;
  }
  return true;
}

std::optional<UserRole> UserDirectory::Authenticate(const std::string& name,
                                                    const std::string& password) const {
  const std::vector<Entry> entries = Load();
  auto it =
      std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
  const bool known = it != entries.end();
  const std::vector<uint8_t>& salt = known ? it->salt : m_dummySalt;
  const std::vector<uint8_t>& expected = known ? it->hash : m_dummyHash;
  // An unknown name costs what the file's names cost.
  const uint32_t iterations = known             ? it->iterations
                              : entries.empty() ? kIterations
                                                : entries.front().iterations;
  const std::vector<uint8_t> hash = m_hasher(password, salt, iterations);
  const bool match = hash.size() == expected.size() &&
                     CRYPTO_memcmp(hash.data(), expected.data(), hash.size()) == 0;
  if (known && match) return it->role;
  return std::nullopt;
}

bool UserDirectory::Add(const std::string& name, const std::string& password, UserRole role,
                        std::string& error) const {
  if (!ValidName(name)) {
    error = "a user name must be 1 to 64 bytes without ':' or line breaks";
    return false;
  }
  if (password.empty()) {
    error = "the password is empty";
    return false;
  }
  std::vector<Entry> entries = Load();
  std::erase_if(entries, [&](const Entry& e) { return e.name == name; });
  Entry e{name, role, kIterations, SymmetricCrypto::RandomBytes(kSaltSize), {}};
  e.hash = m_hasher(password, e.salt, e.iterations);
  entries.push_back(std::move(e));
  return Save(entries, error);
}

bool UserDirectory::Remove(const std::string& name, std::string& error) const {
  std::vector<Entry> entries = Load();
  if (std::erase_if(entries, [&](const Entry& e) { return e.name == name; }) == 0) {
    error = "no user " + name;
    return false;
  }
  return Save(entries, error);
}

}  // namespace tagserver
