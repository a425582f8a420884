// Where DEVWATCH keeps things, and the polling state it remembers between runs.
// State folder: $XDG_STATE_HOME/marlin3 (else ~/.local/state/marlin3) holds "devwatch.state" (three
// lines DevAddr=, DevMon=, DevHostId=, written whole by rename) and the log "devwatch.log".
// Runtime folder: $XDG_RUNTIME_DIR/marlin3, else /tmp/marlin3-devwatch-UID (mode 0700, ours, no link),
// holds the instance lock and the hand-over socket.
#pragma once

#include <filesystem>
#include <string>

#include "NotificationLine.h"

namespace devwatch {

class MonitorState {
 public:
  static std::filesystem::path StateFolder();
  // Made if missing; empty with the reason when it is not a private folder of this user.
  static std::filesystem::path RuntimeFolder(std::string& why);

  // False when there is no state yet or the file is damaged (then polling counts as off).
  static bool Load(const std::filesystem::path& file, Notification& state);
  static bool Save(const std::filesystem::path& file, const Notification& state, std::string& why);
};

}  // namespace devwatch
