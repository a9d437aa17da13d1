#include "platform/ConfigLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

const char* const kConfigFile = "pelmoran.tst";
const char* const kInstalledDoc = "../share/doc/pelmoran/";

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string NonEmpty(const ConfigLocationProbe& probe, const char* name) {
  const char* value = probe.getEnv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool IsInstalled(const std::string& exeDir, const ConfigLocationProbe& probe) {
  return probe.exists(exeDir + kInstalledDoc);
}

}  // namespace

std::string XdgConfigHome(const ConfigLocationProbe& probe) {
  const std::string xdg = NonEmpty(probe, "XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is invalid and to be ignored.
  if (!xdg.empty() && xdg.front() == '/') return WithSlash(xdg);
  return WithSlash(NonEmpty(probe, "HOME")) + ".config/";
}

std::string XdgConfigHome() { return XdgConfigHome(SystemProbe()); }

ConfigLocationProbe SystemProbe() {
  return {
      [](const char* name) -> const char* {
        const char* value = std::getenv(name);
        // A program started without HOME still has the home its account names.
        if ((value == nullptr || value[0] == '\0') && std::string_view(name) == "HOME") {
          const passwd* account = getpwuid(getuid());
          return account != nullptr ? account->pw_dir : nullptr;
        }
        return value;
      },
      [](const std::string& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; },
      [](const std::string& path) {
        std::error_code ec;
        return std::filesystem::exists(path, ec);
      },
  };
}

std::string UserConfigDirectory(const ConfigLocationProbe& probe) {
  const std::string chosen = NonEmpty(probe, "PELMORAN_CONFIG_DIR");
  return chosen.empty() ? XdgConfigHome(probe) + "pelmoran/" : WithSlash(chosen);
}

std::string UserConfigDirectory() { return UserConfigDirectory(SystemProbe()); }

std::string ConfigDirectory(const std::string& exeDir, const ConfigLocationProbe& probe) {
  const std::string dir = WithSlash(exeDir);
  if (NonEmpty(probe, "PELMORAN_CONFIG_DIR").empty() && !IsInstalled(dir, probe) &&
      probe.isWritableDir(dir))
    return dir;
  return UserConfigDirectory(probe);
}

std::string ConfigFilePath(const std::string& exeDir) {
  const std::string dir = ConfigDirectory(exeDir, SystemProbe());
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + kConfigFile;
}

std::string HelpIndexPath(const std::string& exeDir, const ConfigLocationProbe& probe) {
  const std::string dir = WithSlash(exeDir);
  const std::string beside = dir + "help/index.html";
  if (probe.exists(beside)) return beside;
  return dir + kInstalledDoc + "help/index.html";
}

std::string HelpIndexPath(const std::string& exeDir) {
  return HelpIndexPath(exeDir, SystemProbe());
}
