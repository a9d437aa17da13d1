// File, Import Register Map... and Export Register Map... in the window: a
// device chosen from the configuration's endpoints (or from the devices that
// have a map), then a CSV file, as -ImportMap and -ExportMap take them.
#pragma once

#include <string>

class Runtime;
class QWidget;

class MapMenu {
 public:
  MapMenu(Runtime& runtime, QWidget& window) : m_runtime(runtime), m_window(window) {}

  // The chosen device's map replaced by the chosen file's, its settings kept,
  // and the configuration saved to configPath, as an import of CSV files is;
  // false when cancelled or refused (told in a message box: nothing changed).
  bool OnImportMap(const std::string& configPath);
  // The chosen device's map written to a file chosen through the Save As
  // prompt; false when cancelled or not written.
  bool OnExportMap();

 private:
  Runtime& m_runtime;
  QWidget& m_window;
};
