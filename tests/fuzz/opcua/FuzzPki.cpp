#include "FuzzPki.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace fuzzpki {

std::string Folder() {
  // Copied to scratch space: checking a client may write to rejected/.
  static const std::string folder = [] {
    char scratch[] = "/tmp/pelmoran-fuzz-pki-XXXXXX";
    const std::string root = mkdtemp(scratch) != nullptr ? scratch : "/tmp";
    fs::copy(PELMORAN_FUZZ_PKI, root + "/pki", fs::copy_options::recursive);
    return root + "/";
  }();
  return folder;
}

}  // namespace fuzzpki
