// Who a session is and what it may do: the signatures that bind a session to
// its secure channel, and the identity token of ActivateSession, checked
// against the endpoint's settings and the users file. Failures raise
// UaServiceError with the status the client is answered.
#pragma once

#include <optional>
#include <string>

#include "tagserver/ChannelSecurity.h"
#include "tagserver/EndpointSecurity.h"
#include "tagserver/SessionRequests.h"
#include "tagserver/UserDirectory.h"

namespace tagserver {

class PkiStore;

class SessionSecurity {
 public:
  static constexpr const char* kAnonymousPolicy = "anonymous";
  static constexpr const char* kUserNamePolicy = "username";

  struct UserLogin {
    std::string name;
    std::string password;
  };

  SessionSecurity(const EndpointSecurity& settings, const PkiStore* pki, const UserDirectory* users)
      : m_settings(settings), m_pki(pki), m_users(users) {}

  // Checks the client's certificate and nonce of CreateSession.
  void CheckCreate(const ChannelSecurity& channel, const CreateSessionRequest& request) const;
  // The server's signature over the client's certificate and nonce; empty
  // on a channel without security.
  SignatureData Sign(const ChannelSecurity& channel, const ByteString& clientCertificate,
                     const ByteString& clientNonce) const;
  // Checks the client's signature over the server's certificate and the
  // nonce the session last handed out.
  void VerifyClient(const ChannelSecurity& channel, const SignatureData& signature,
                    const ByteString& serverNonce) const;
  // The name and password of a UserName token, for the users file to
  // check; nullopt for a token of another type.
  std::optional<UserLogin> Login(const ChannelSecurity& channel, const UaExtensionObject& token,
                                 const ByteString& serverNonce) const;
  // The role of a token that carries no password.
  UserRole Identify(const UaExtensionObject& token) const;
  // The security policy a user name's password is encrypted with on an
  // endpoint of the given policy.
  static const SecurityPolicy& PasswordPolicy(const SecurityPolicy& endpoint);

 private:
  UserRole Anonymous(const UaExtensionObject& token) const;
  std::string Password(const ChannelSecurity& channel, const UserNameIdentityToken& token,
                       const ByteString& serverNonce) const;

  const EndpointSecurity& m_settings;
  const PkiStore* m_pki;
  const UserDirectory* m_users;
};

}  // namespace tagserver
