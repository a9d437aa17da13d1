// Arbitrary bytes as the identity token of ActivateSession, an extension
// object: anonymous, user name (the password encrypted to the fixed server
// key of pki/, or in clear), X509 or anything else. The server's nonce is
// fixed, so seeds encrypted with it reach the users file.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>

#include "FuzzPki.h"
#include "tagserver/ChannelSecurity.h"
#include "tagserver/PkiStore.h"
#include "tagserver/SessionSecurity.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaServiceError.h"

namespace {

struct Fixture {
  tagserver::PkiStore pki{fuzzpki::Folder() + "pki/"};
  // One iteration: the fuzzer is to reach the comparison, not to wait on it.
  tagserver::UserDirectory users{fuzzpki::Folder() + "opcua-users"};
  tagserver::EndpointSecurity settings;
  tagserver::ChannelSecurity channel;

  Fixture() {
    std::string error;
    if (!pki.LoadOrCreateOwn("urn:pelmoran:Korvane.Modbus_OPC_Server", error)) std::abort();
    std::ofstream(users.Path())
        << "alice:readwrite:pbkdf2-sha256:1:00112233445566778899aabbccddeeff:"
           "0000000000000000000000000000000000000000000000000000000000000000\n";
    settings.anonymous = tagserver::AnonymousAccess::ReadOnly;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture f;
  static const tagserver::ByteString nonce(32, 0x5A);
  tagserver::SessionSecurity checks(f.settings, &f.pki, &f.users);
  try {
    tagserver::UaDecoder in(data, size);
    const tagserver::UaExtensionObject token = in.ExtensionObject();
    if (auto login = checks.Login(f.channel, token, nonce)) {
      f.users.Authenticate(login->name, login->password);
    } else {
      checks.Identify(token);
    }
  } catch (const tagserver::UaServiceError&) {
  } catch (const tagserver::UaDecodeError&) {
  }
  return 0;
}
