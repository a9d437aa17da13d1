// The page's files (web/page/), compiled into the program at build time, so
// that it is served whole without a network or files beside the program.
#pragma once

#include <string>

namespace web {

struct PageAsset {
  const char* path;  // as requested: "/", "/page/app.js"
  const char* type;
  const char* body;
};

// Null for a path the page does not have.
const PageAsset* FindPageAsset(const std::string& path);

}  // namespace web
