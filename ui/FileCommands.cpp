#include "ui/FileCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "platform/MessageBox.h"
#include "runtime/ConfigFile.h"
#include "runtime/CsvConfig.h"
#include "runtime/Runtime.h"

namespace {

const QStringList kConfigFilters{"Test Configurations (*.tst)", "All Files (*)"};
const QStringList kAllFiles{"All Files (*)"};

void ShowEach(const std::vector<std::string>& messages) {
  for (const std::string& text : messages) AfxMessageBox(text);
}

}  // namespace

QString FileCommands::EnterExecutableDirectory() {
  const QString dir = QCoreApplication::applicationDirPath();
  QDir::setCurrent(dir);
  return dir;
}

QString FileCommands::Choose(QWidget* parent, bool save, const QString& proposed,
                             const QStringList& filters) {
  QFileDialog dlg(parent);
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // An open dialog may name a file that is not there: the command says so.
  dlg.setFileMode(QFileDialog::AnyFile);
  // The dialog's own replace question defaults to No; ours says Yes.
  dlg.setOption(QFileDialog::DontConfirmOverwrite);
  dlg.setNameFilters(filters);
  const QFileInfo info(proposed);
  dlg.setDirectory(info.isAbsolute() ? info.absolutePath() : QDir::currentPath());
  if (!info.fileName().isEmpty()) dlg.selectFile(info.fileName());
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  const QString chosen = dlg.selectedFiles().first();
  if (save && QFileInfo::exists(chosen) && !ConfirmReplace(parent, chosen)) return {};
  return chosen;
}

bool FileCommands::ConfirmReplace(QWidget* parent, const QString& path) {
  QMessageBox box(QMessageBox::Question, "Save As",
                  QFileInfo(path).fileName() + " already exists. Replace it?",
                  QMessageBox::Yes | QMessageBox::No, parent);
  // Saving over the configuration just chosen is what Save As is for.
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

QString FileCommands::OnSaveTestConfig(const std::string& startupPath) {
  EnterExecutableDirectory();
  QString path = Choose(&m_window, true, QString::fromStdString(startupPath), kConfigFilters);
  if (path.isEmpty()) return {};
  return Save(path);
}

QString FileCommands::OnSave(const std::string& startupPath) {
  if (startupPath.empty()) return OnSaveTestConfig(startupPath);
  return Save(QString::fromStdString(startupPath));
}

QString FileCommands::Save(const QString& path) {
  ConfigFile file(m_runtime);
  const bool saved = file.SaveTestConfig(path.toStdString());
  ShowEach(file.Messages());
  if (!saved) return {};
  return QFileInfo(path).absoluteFilePath();
}

bool FileCommands::OnRestoreTestConfig(const std::string& startupPath) {
  EnterExecutableDirectory();
  const QString path =
      Choose(&m_window, false, QString::fromStdString(startupPath), kConfigFilters);
  if (path.isEmpty()) return false;
  ConfigFile file(m_runtime);
  file.RestoreConfig(path.toStdString());
  ShowEach(file.Messages());
  return true;
}

QString FileCommands::ChooseDirectory(const QString& caption) const {
  QFileDialog dlg(&m_window, caption, QDir::currentPath());
  dlg.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
  dlg.setFileMode(QFileDialog::Directory);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().first();
}

bool FileCommands::OnExportCsv() {
  const QString dir = ChooseDirectory("Export CSV");
  if (dir.isEmpty()) return false;
  std::string error;
  if (CsvConfig(m_runtime).Export(dir.toStdString(), error)) return true;
  AfxMessageBox("The configuration was not exported: " + error + ".");
  return false;
}

bool FileCommands::OnImportCsv(const std::string& startupPath) {
  const QString dir = ChooseDirectory("Import CSV");
  if (dir.isEmpty()) return false;
  std::string error;
  CsvConfig csv(m_runtime);
  const bool imported = csv.Import(dir.toStdString(), startupPath, error);
  ShowEach(csv.SaveMessages());
  if (imported) return true;
  AfxMessageBox("The CSV files were not imported: " + error + ".");
  return false;
}

bool FileCommands::OnFileOpen() {
  const QString path = Choose(&m_window, false, QString(), kAllFiles);
  if (path.isEmpty()) return false;
  std::string message;
  m_runtime.m_docTemplate.OpenDocumentFile(path.toStdString(), &message);
  if (!message.empty()) AfxMessageBox(message);
  return true;
}
