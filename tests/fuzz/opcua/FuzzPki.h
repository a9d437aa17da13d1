// The server certificate, key and trusted client certificate the security
// fuzzers run with: fixed files of their own (pki/, for tests only), so that
// seeds recorded against them reach past decryption.
#pragma once

#include <string>

namespace fuzzpki {

// The folder the fuzzer's server keeps them in, filled once per process.
std::string Folder();

}  // namespace fuzzpki
