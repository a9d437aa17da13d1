// pelmoran: Modbus master and OPC UA tag server.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "shell/Bindings.h"
#include "shell/CommandLine.h"
#include "shell/CsvCommand.h"
#include "shell/MapCommand.h"
#include "shell/PelmoranApp.h"
#include "shell/SecurityCommand.h"
#include "shell/SignalWatcher.h"
#include "shell/Startup.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Without a display Qt's window system would abort the program; a named
// platform (offscreen, for one) needs none.
bool DisplayAvailable() {
  return IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string commandLine = CommandLine::JoinArguments(argc, argv);
  const CommandLine switches(commandLine);
  InstallModbusLibrary();
  InstallTagServerLibrary();
  if (auto command = SecurityCommand::Parse(argc, argv)) {
    const Startup startup(Startup::ExecutableDirectory());
    return command->Run(startup.ConfigFolder(), &SecurityCommand::ReadPasswordFromStdin, std::cout,
                        std::cerr);
  }
  if (auto command = CsvCommand::Parse(argc, argv)) {
    return command->Run(Startup(Startup::ExecutableDirectory()).ConfigPath(), std::cout, std::cerr);
  }
  if (auto command = MapCommand::Parse(argc, argv)) {
    return command->Run(Startup(Startup::ExecutableDirectory()).ConfigPath(), std::cout, std::cerr);
  }

  // The registration switches and the headless program need no display.
  std::unique_ptr<QCoreApplication> qt;
  if (switches.m_nEnding != CommandLine::None || switches.m_bHeadless) {
    qt = std::make_unique<QCoreApplication>(argc, argv);
  } else if (DisplayAvailable()) {
    qt = std::make_unique<QApplication>(argc, argv);
  } else {
    std::fprintf(stderr,
                 "pelmoran: no display to open windows on (DISPLAY and WAYLAND_DISPLAY are "
                 "unset); start it with -Headless to run without windows\n");
    return 2;
  }

  int status = 0;
  {
    // Watching from the start: a signal during start-up ends the program as
    // soon as the event loop runs, in the same order.
    SignalWatcher watcher;
    CPelmoranApp app;
    if (!app.InitInstance(commandLine)) return 0;
    status = qt->exec();
    app.ExitInstance();
  }
  return status;
}
