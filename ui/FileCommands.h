// The file side of the menus and accelerators: the configuration saved and
// restored through file dialogs that offer the file start-up restores, and
// one scan opened or saved on its own.
#pragma once

#include <QString>
#include <string>

class CPelmoranDoc;
class Runtime;
class QWidget;

class FileCommands {
 public:
  FileCommands(Runtime& runtime, QWidget& window) : m_runtime(runtime), m_window(window) {}

  // startupPath is the file start-up restores, offered first; empty offers
  // the executable's directory. The path written is returned; empty when
  // cancelled or not written.
  QString OnSaveTestConfig(const std::string& startupPath);
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
  // The document saved to its file; a document without one asks for a name
  // once, and is saved silently from then on.
  void OnFileSave(CPelmoranDoc& doc);

  // The Save As prompt of documents saved without a file becomes a dialog.
  static void InstallSaveAsPrompt(QWidget* parent);
  // The directory of the executable, made the current directory so that
  // relative names and the dialogs start there.
  static QString EnterExecutableDirectory();

 private:
  // A file dialog; empty when cancelled.
  static QString Choose(QWidget* parent, bool save, const QString& proposed,
                        const QStringList& filters);

  // A directory dialog; empty when cancelled.
  QString ChooseDirectory(const QString& caption) const;

  Runtime& m_runtime;
  QWidget& m_window;
};
