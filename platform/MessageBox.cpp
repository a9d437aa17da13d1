#include "platform/MessageBox.h"

#include <cstdio>
#include <utility>

namespace {

std::function<int(const std::string&, unsigned)>& Handler() {
  static std::function<int(const std::string&, unsigned)> handler;
  return handler;
}

}  // namespace

int AfxMessageBox(const std::string& text, unsigned type) {
  if (Handler()) return Handler()(text, type);
  std::fprintf(stderr, "%s\n", text.c_str());
  return 1;  // IDOK
}

void SetMessageBoxHandler(std::function<int(const std::string&, unsigned)> handler) {
  Handler() = std::move(handler);
}
