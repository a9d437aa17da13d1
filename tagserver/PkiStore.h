// The server's certificate folders, laid out as OPC UA servers lay them out:
//
//   own/certs/pelmoran.der       the application instance certificate
//   own/private/pelmoran.pem     its private key (mode 0600)
//   trusted/certs, trusted/crl   clients and CAs the operator trusts
//   issuers/certs, issuers/crl   CAs that complete a chain but are not trusted
//   rejected/                    certificates of clients that were refused
//
// Trust lists are read again for every check, so a certificate the operator
// trusts counts at the client's next attempt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tagserver/Certificate.h"
#include "tagserver/OpenSslPtr.h"

namespace tagserver {

class PkiStore {
 public:
  // root: the folder that holds the others, with or without its trailing "/".
  explicit PkiStore(std::string root);

  const std::string& Root() const { return m_strRoot; }
  // Creates the folders that are missing; false with the reason in error.
  bool Prepare(std::string& error) const;
  // Loads the own certificate and key, creating both when either is missing.
  bool LoadOrCreateOwn(const std::string& applicationUri, std::string& error);
  // A new key and certificate in place of the old ones.
  bool Renew(const std::string& applicationUri, std::string& error);
  const Certificate& Own() const { return m_own; }
  EVP_PKEY* OwnKey() const { return m_key.get(); }

  // rejected/ keeps at most this many certificates and bytes, the oldest
  // going first, for anyone who reaches the port can be refused.
  static constexpr size_t kMaxRejectedFiles = 64;
  static constexpr uintmax_t kMaxRejectedBytes = 2u << 20;

  // Good, or the status that refuses the certificate: an untrusted one is
  // also copied to rejected/. sent: the certificates the client sent after
  // its own, which may complete its chain but are trusted for nothing.
  uint32_t Check(const Certificate& peer, const std::vector<Certificate>& sent = {}) const;
  // Copies the certificate in the file to trusted/certs and removes it from
  // rejected/; false with the reason in error.
  bool Trust(const std::string& file, std::string& error) const;
  std::vector<std::string> RejectedFiles() const;

 private:
  std::string OwnCertPath() const;
  std::string OwnKeyPath() const;
  bool LoadOwn();
  bool Create(const std::string& applicationUri, std::string& error);
  uint32_t VerifyChain(const Certificate& peer, const std::vector<Certificate>& sent,
                       std::vector<Certificate>& path) const;
  uint32_t RevocationStatus(const std::vector<Certificate>& path) const;
  void Reject(const Certificate& peer) const;
  void TrimRejected(const std::string& kept) const;
  std::string Folder(const char* name) const { return m_strRoot + name; }

  std::string m_strRoot;
  Certificate m_own;
  KeyPtr m_key;
};

}  // namespace tagserver
