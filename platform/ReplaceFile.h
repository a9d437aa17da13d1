// Writes a file whole or not at all: through a temporary file beside it that
// is renamed over it, so that a crash or a full disk leaves the old content
// rather than a torn one. mode is the new file's permissions, whatever the
// umask (a file holding a password is kept from other users).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

bool ReplaceFile(const std::string& path, std::string_view text, mode_t mode);
