// Reading and writing one scan document's file.
#pragma once

#include <string>

class CPelmoranDoc;

// What became of a scan file opened into a document made by File New.
enum class ScanFileLoad {
  loaded,         // the document holds the file's scan and belongs to the file
  notUnderstood,  // a version this program does not know: the document keeps
                  // the scan its constructor gave it, which is not the file's
  refused,        // the file cannot be used
};

// Loads the scan file into a document made by File New. A file that is
// refused or not understood is reported through AfxMessageBox, once.
ScanFileLoad LoadScanFile(CPelmoranDoc& doc, const std::string& path);
// Writes the document to path without ever destroying the previous file.
bool SaveScanFile(CPelmoranDoc& doc, const std::string& path);
// Whether scan files of this version can be read.
bool IsReadableScanVersion(const std::string& version);
