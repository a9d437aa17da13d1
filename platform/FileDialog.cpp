#include "platform/FileDialog.h"

#include <utility>

namespace {

std::function<std::string(const std::string&)>& Handler() {
  static std::function<std::string(const std::string&)> handler;
  return handler;
}

}  // namespace

std::string AfxPromptSaveAs(const std::string& proposedPath) {
  if (Handler()) return Handler()(proposedPath);
  return proposedPath;
}

void SetSaveAsHandler(std::function<std::string(const std::string&)> handler) {
  Handler() = std::move(handler);
}
