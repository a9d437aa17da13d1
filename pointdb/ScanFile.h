// Reading and writing one scan document's file.
#pragma once

#include <string>

class CPelmoranDoc;

// Loads the scan file into a document made by File New; false (with the
// reason reported through AfxMessageBox) when the file cannot be used.
bool LoadScanFile(CPelmoranDoc& doc, const std::string& path);
// Writes the document to path without ever destroying the previous file.
bool SaveScanFile(CPelmoranDoc& doc, const std::string& path);
