// Saving every open scan while the configuration file is written.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/FileDialog.h"
#include "pointdb/Archive.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/ScanFile.h"
#include "runtime/Runtime.h"

namespace {

const char kScanExtension[] = ".scn";

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The framework keeps full path names, so that a configuration restored
// from another current directory still finds its scans.
std::string FullPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A document without a file is proposed a name beside the configuration
// file, after its title; a number is added rather than take the name of a
// file that exists already, which may belong to another configuration.
std::string ProposePath(const CPelmoranDoc& doc, const Archive& ar) {
  const std::string stem = DirectoryOf(ar.m_strFileName) + doc.m_strTitle;
  std::string path = stem + kScanExtension;
  for (int n = 2; Exists(path); ++n) path = stem + "-" + std::to_string(n) + kScanExtension;
  return path;
}

// The framework's document save: a failed save leaves the path name as it
// was, so a new document that could not be saved still has none.
void SaveDocument(CPelmoranDoc& doc, const Archive& ar, SaveSet* set,
                  std::vector<std::string>& messages) {
  std::string path = doc.m_strPathName;
  if (path.empty()) path = AfxPromptSaveAs(ProposePath(doc, ar));
  path = FullPath(path);
  if (path.empty()) return;
  std::string message;
  if (!SaveScanFile(doc, path, message, set)) {
    messages.push_back(message);
    return;
  }
  doc.m_strPathName = path;
  doc.m_strTitle = FileNameOf(path);
}

}  // namespace

void Runtime::SaveAllDocuments(Archive& ar, SaveSet* set, std::vector<std::string>& messages) {
  for (int i = 0; i < GetDocumentCount(); ++i) {
    CPelmoranDoc* doc = m_docTemplate.GetDocument(i);
    SaveDocument(*doc, ar, set, messages);
    ar << doc->m_strPathName;
  }
}
