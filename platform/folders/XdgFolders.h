// The XDG base folders and the home folder, one reading for every program and library (marlin3, the
// tools, the device monitor, the mail provider, the Qt host). Needs only libc: the mail provider links
// it without the other platform layers.
#pragma once

#include <string>

namespace platform::folders {

// The XDG base folders, read the same way by every program: $XDG_CONFIG_HOME, $XDG_DATA_HOME,
// $XDG_CACHE_HOME or $XDG_STATE_HOME when it is an absolute path (a relative value is ignored, as the
// XDG rules say), else ~/.config, ~/.local/share, ~/.cache or ~/.local/state. "" when there is no
// absolute home folder either. Never ends in "/" (except "/" itself).
enum class XdgBase { Config, Data, Cache, State };
std::string XdgBaseFolder(XdgBase which);

// $XDG_RUNTIME_DIR when it is an absolute path, else "" (it has no default).
std::string XdgRuntimeFolder();

// The home folder: $HOME when it is an absolute path, else the user's entry in the password database
// when that is; else "".
std::string HomeFolder();

}  // namespace platform::folders
