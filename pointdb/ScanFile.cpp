#include "pointdb/ScanFile.h"

#include "platform/MessageBox.h"
#include "pointdb/Archive.h"
#include "pointdb/DiskFile.h"
#include "pointdb/PelmoranDoc.h"

bool LoadScanFile(CPelmoranDoc& doc, const std::string& path) {
  std::string bytes;
  std::string error;
  if (CDiskFile::ReadAll(path, bytes, error) != CDiskFile::ReadResult::ok) {
    AfxMessageBox("Cannot open the scan file " + path + ": " + error + ".");
    return false;
  }
  CArchive ar(bytes);
  ar.m_strFileName = path;
  try {
    doc.Serialize(ar);
  } catch (const CArchiveException& e) {
    AfxMessageBox("The scan file " + path + " was not opened: " + e.what() + ".");
    return false;
  }
  return true;
}

bool SaveScanFile(CPelmoranDoc& doc, const std::string& path) {
  CDiskFile file;
  CArchive ar;
  ar.m_strFileName = path;
  doc.Serialize(ar);
  if (!file.Create(path) || !file.Commit(ar.GetBuffer())) {
    AfxMessageBox("The scan file " + path + " was not saved: " + file.GetError() + ".");
    return false;
  }
  return true;
}
