// The XDG base folders and the home folder (see XdgFolders.h).
#include "platform/folders/XdgFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform::folders {

namespace {

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return WithoutSlash(home);
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
    return WithoutSlash(pw->pw_dir);
  return std::string();
}

std::string XdgBaseFolder(XdgBase which) {
  struct Base {
    const char* variable;
    const char* belowHome;
  };
  static constexpr Base kBases[] = {{"XDG_CONFIG_HOME", "/.config"},
                                    {"XDG_DATA_HOME", "/.local/share"},
                                    {"XDG_CACHE_HOME", "/.cache"},
                                    {"XDG_STATE_HOME", "/.local/state"}};
  const Base& base = kBases[static_cast<int>(which)];
  const char* value = std::getenv(base.variable);
  if (value && value[0] == '/') return WithoutSlash(value);
  const std::string home = HomeFolder();
  if (home.empty()) return std::string();
  return (home == "/" ? "" : home) + base.belowHome;
}

std::string XdgRuntimeFolder() {
  const char* value = std::getenv("XDG_RUNTIME_DIR");
  return value && value[0] == '/' ? WithoutSlash(value) : std::string();
}

}  // namespace platform::folders
