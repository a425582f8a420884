// Starting the device monitor (DEVWATCH) with the desktop session while scan-to is on. Switching scan-to
// on enables and starts the systemd user unit "marlin3-devwatch.service" (`systemctl --user enable --now`);
// switching it off disables and stops it. Where there is no user systemd (no systemctl, no user manager,
// the unit not installed) an XDG autostart entry in ${XDG_CONFIG_HOME:-~/.config}/autostart does the same
// at the next login. Nothing here is shown to the person: every outcome is a log line, and a failure never
// fails the device setup dialog. $MARLIN3_SYSTEMCTL names the systemctl program (tests point it at a
// recorder). docs/packaging.md.
#pragma once

#include <string>

class DebugTrace;

class MonitorAutostart {
 public:
  enum class Result { kUnit, kAutostartEntry, kFailed };
  enum class Start { kOff, kOn };  // whether the monitor starts with the user's session

  static constexpr const char* kUnitName = "marlin3-devwatch.service";
  static constexpr const char* kEntryName = "marlin3-devwatch.desktop";

  // monitorPath: DEVWATCH's executable, written into the autostart entry.
  static Result Apply(Start start, const std::string& monitorPath);
  // ${XDG_CONFIG_HOME:-$HOME/.config}/autostart/marlin3-devwatch.desktop, or empty without either.
  static std::string EntryPath();
  // The autostart entry's text for the program, or empty when the path cannot be written into one.
  static std::string EntryText(const std::string& monitorPath);

 private:
  static bool RunSystemctl(bool on, DebugTrace& trace);
  static bool WriteEntry(const std::string& monitorPath, DebugTrace& trace);
  static bool RemoveEntry(DebugTrace& trace);
};
