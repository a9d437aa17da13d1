// Reading and writing one scan document's file.
#pragma once

#include <string>

class CPelmoranDoc;
class SaveSet;

// What became of a scan file opened into a document made by File New.
enum class ScanFileLoad {
  loaded,         // the document holds the file's scan and belongs to the file
  notUnderstood,  // a version this program does not know: the document keeps
                  // the scan its constructor gave it, which is not the file's
  refused,        // the file cannot be used
};

// Loads the scan file into a document made by File New. Of a file that is
// refused or not understood, message says why, for the operator.
ScanFileLoad LoadScanFile(CPelmoranDoc& doc, const std::string& path, std::string& message);
// Writes the document to path without ever destroying the previous file;
// with a save set, as one file of the set, put in place when it commits.
// False with why in message, for the operator.
bool SaveScanFile(CPelmoranDoc& doc, const std::string& path, std::string& message,
                  SaveSet* set = nullptr);
// Whether scan files of this version can be read.
bool IsReadableScanVersion(const std::string& version);
