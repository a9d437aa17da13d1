// pelmoran: Modbus master and OPC UA tag server.
#include <QApplication>
#include <QCoreApplication>
#include <memory>

#include "shell/Bindings.h"
#include "shell/CommandLine.h"
#include "shell/PelmoranApp.h"
#include "shell/SignalWatcher.h"

int main(int argc, char** argv) {
  const std::string commandLine = CCommandLine::JoinArguments(argc, argv);
  const CCommandLine switches(commandLine);
  InstallModbusLibrary();
  InstallTagServerLibrary();

  // The registration switches and the headless program need no display.
  std::unique_ptr<QCoreApplication> qt;
  if (switches.m_nEnding != CCommandLine::None || switches.m_bHeadless)
    qt = std::make_unique<QCoreApplication>(argc, argv);
  else
    qt = std::make_unique<QApplication>(argc, argv);

  int status = 0;
  {
    CPelmoranApp app;
    if (!app.InitInstance(commandLine)) return 0;
    CSignalWatcher watcher;
    status = qt->exec();
    app.ExitInstance();
  }
  return status;
}
