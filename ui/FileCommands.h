// The file side of the menus and accelerators: the configuration saved and
// restored through file dialogs that offer the file start-up restores, and
// one scan opened or saved on its own.
#pragma once

#include <QString>
#include <string>

class Runtime;
class QWidget;

class FileCommands {
 public:
  FileCommands(Runtime& runtime, QWidget& window) : m_runtime(runtime), m_window(window) {}

  // Save As: startupPath is the file start-up restores, offered first; empty
  // offers the executable's directory. A file there is replaced after a
  // question whose default is Yes. Scans without a file are named beside the
  // configuration file, without a dialog. The path written is returned;
  // empty when cancelled or not written.
  QString OnSaveTestConfig(const std::string& startupPath);
  // Save: the whole configuration into the file start-up restores, without
  // a dialog; Save As while that file is not known.
  QString OnSave(const std::string& startupPath);
  // False when cancelled.
  bool OnRestoreTestConfig(const std::string& startupPath);
  // The configuration written as CSV files into a chosen directory; false
  // when cancelled or refused (the refusal is told in a message box).
  bool OnExportCsv();
  // The running configuration replaced by the CSV files of a chosen
  // directory and saved to startupPath; false when cancelled or refused, in
  // which case nothing has changed.
  bool OnImportCsv(const std::string& startupPath);
  // A scan file read as a new document; false when cancelled.
  bool OnFileOpen();
  // The directory of the executable, made the current directory so that
  // relative names and the dialogs start there.
  static QString EnterExecutableDirectory();
  // A file dialog, asking before a save replaces a file; empty when cancelled.
  static QString Choose(QWidget* parent, bool save, const QString& proposed,
                        const QStringList& filters);

 private:
  // Writes the configuration file and every scan; the path written, or empty.
  QString Save(const QString& path);
  // "NAME already exists. Replace it?", Yes by default.
  static bool ConfirmReplace(QWidget* parent, const QString& path);
  // A directory dialog; empty when cancelled.
  QString ChooseDirectory(const QString& caption) const;

  Runtime& m_runtime;
  QWidget& m_window;
};
