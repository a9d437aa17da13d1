// The users who may log in with a name and password, one text file, a line
// each:
//
//   <name>:<read|readwrite>:pbkdf2-sha256:<iterations>:<salt hex>:<hash hex>
//
// Passwords are kept only as salted PBKDF2-SHA256 hashes. The file is read
// again for every login, so a user added or removed counts at once. A login
// is slow on purpose and may run on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tagserver {

enum class UserRole { ReadOnly, ReadWrite };

class UserDirectory {
 public:
  static constexpr const char* kFileName = "opcua-users";
  // The hash of a password with a salt and an iteration count; empty when
  // it cannot be made.
  using Hasher = std::function<std::vector<uint8_t>(
      const std::string& password, const std::vector<uint8_t>& salt, uint32_t iterations)>;

  explicit UserDirectory(std::string path);

  // PBKDF2-SHA256 unless replaced (tests count and pace the work with it).
  void SetHasher(Hasher hasher) { m_hasher = std::move(hasher); }

  const std::string& Path() const { return m_strPath; }
  // The user's role when the password is theirs. An unknown name costs the
  // same hashing as a known one, so that the time taken does not tell
  // which names exist.
  std::optional<UserRole> Authenticate(const std::string& name, const std::string& password) const;
  // Adds the user, or replaces the password and role of one already there.
  bool Add(const std::string& name, const std::string& password, UserRole role,
           std::string& error) const;
  bool Remove(const std::string& name, std::string& error) const;
  // Every user's name and role, in the file's order.
  std::vector<std::pair<std::string, UserRole>> List() const;
  // Names may not hold ':' or line breaks and are at most 64 bytes long.
  static bool ValidName(const std::string& name);

 private:
  struct Entry {
    std::string name;
    UserRole role = UserRole::ReadOnly;
    uint32_t iterations = 0;
    std::vector<uint8_t> salt;
    std::vector<uint8_t> hash;
  };
  std::vector<Entry> Load() const;
  bool Save(const std::vector<Entry>& entries, std::string& error) const;
  static std::optional<Entry> Parse(const std::string& line);
  static std::vector<uint8_t> Hash(const std::string& password, const std::vector<uint8_t>& salt,
                                   uint32_t iterations);

  std::string m_strPath;
  Hasher m_hasher;
  // What an unknown name's password is hashed against.
  std::vector<uint8_t> m_dummySalt;
  std::vector<uint8_t> m_dummyHash;
};

}  // namespace tagserver
