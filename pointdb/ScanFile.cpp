#include "pointdb/ScanFile.h"

#include <algorithm>
#include <charconv>

#include "pointdb/Archive.h"
#include "pointdb/DiskFile.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/SaveSet.h"

namespace {

// A longer "version" is more likely the start of some other kind of file
// than a text that would tell the operator anything.
constexpr size_t kMaxShownVersion = 16;
constexpr double kNewestVersion = 4.0;

std::string ReadVersion(const std::string& bytes) {
  Archive ar(bytes);
  std::string version;
  ar >> version;
  return version;
}

bool IsShowable(const std::string& version) {
  return !version.empty() && version.size() <= kMaxShownVersion &&
         std::all_of(version.begin(), version.end(),
                     [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

// "N.NN" above the newest version read here.
bool IsNewerVersion(const std::string& version) {
  double number = 0;
  const char* end = version.data() + version.size();
  auto [ptr, ec] = std::from_chars(version.data(), end, number, std::chars_format::fixed);
  return ec == std::errc() && ptr == end && version.size() == 4 && version[1] == '.' &&
         number > kNewestVersion;
}

std::string NotUnderstood(const std::string& path, const std::string& version) {
  const std::string which = IsShowable(version) ? "the version \"" + version + "\"" : "a version";
  const std::string why = IsNewerVersion(version) ? ", written by a newer version of pelmoran"
                                                  : " that is not understood";
  return "The scan file " + path + " has " + which + why +
         ": it is opened as a new scan and is not saved over.";
}

}  // namespace

ScanFileLoad LoadScanFile(CPelmoranDoc& doc, const std::string& path, std::string& message) {
  std::string bytes;
  std::string error;
  if (DiskFile::ReadAll(path, bytes, error) != DiskFile::ReadResult::ok) {
    message = "Cannot open the scan file " + path + ": " + error + ".";
    return ScanFileLoad::refused;
  }
  Archive ar(bytes);
  ar.m_strFileName = path;
  try {
    const std::string version = ReadVersion(bytes);
    if (!IsReadableScanVersion(version)) {
      message = NotUnderstood(path, version);
      return ScanFileLoad::notUnderstood;
    }
    doc.Serialize(ar);
  } catch (const ArchiveException& e) {
    message = "The scan file " + path + " was not opened: " + e.what() + ".";
    return ScanFileLoad::refused;
  }
  return ScanFileLoad::loaded;
}

bool SaveScanFile(CPelmoranDoc& doc, const std::string& path, std::string& message, SaveSet* set) {
  Archive ar;
  ar.m_strFileName = path;
  doc.Serialize(ar);
  DiskFile file;
  std::string error;
  const bool saved = set != nullptr ? set->Stage(path, ar.GetBuffer(), error)
                                    : file.Create(path) && file.Commit(ar.GetBuffer());
  if (!saved) {
    if (set == nullptr) error = file.GetError();
    message = "The scan file " + path + " was not saved: " + error + ".";
  }
  return saved;
}
