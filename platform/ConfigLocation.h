// Where the program keeps "pelmoran.tst" and where its manual lies.
//
// A program run from its build or unpacked folder keeps its configuration
// beside the executable. An installed program (its executable in <prefix>/bin
// beside <prefix>/share/doc/pelmoran), or one whose folder cannot be written,
// keeps it in $PELMORAN_CONFIG_DIR, else $XDG_CONFIG_HOME/pelmoran/, else
// ~/.config/pelmoran/. $PELMORAN_CONFIG_DIR, when set, always wins.
#pragma once

#include <functional>
#include <string>

struct ConfigLocationProbe {
  std::function<const char*(const char*)> getEnv;
  std::function<bool(const std::string&)> isWritableDir;
  std::function<bool(const std::string&)> exists;
};

// The real environment and file system.
ConfigLocationProbe SystemProbe();

// The base of every user's configuration, with its trailing "/":
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config/. Systemd
// looks for user units under it.
std::string XdgConfigHome(const ConfigLocationProbe& probe);
std::string XdgConfigHome();

// The user's configuration directory, with its trailing "/":
// $PELMORAN_CONFIG_DIR, else $XDG_CONFIG_HOME/pelmoran/, else
// ~/.config/pelmoran/. Files that never lie beside the executable (the COM
// port map, the server's registration record) are kept here.
std::string UserConfigDirectory(const ConfigLocationProbe& probe);
std::string UserConfigDirectory();

// exeDir: the directory of the running executable, with or without its
// trailing slash. The result always ends in "/".
std::string ConfigDirectory(const std::string& exeDir, const ConfigLocationProbe& probe);
// The configuration directory + "pelmoran.tst", the directory created when it
// is not there yet (a failure shows later as the save's own error).
std::string ConfigFilePath(const std::string& exeDir);

// <exeDir>/help/index.html when that exists, else the installed manual in
// <prefix>/share/doc/pelmoran/help/index.html.
std::string HelpIndexPath(const std::string& exeDir, const ConfigLocationProbe& probe);
std::string HelpIndexPath(const std::string& exeDir);
