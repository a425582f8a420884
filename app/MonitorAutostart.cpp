// The device monitor's start with the desktop session: the systemd user unit, else an autostart entry.
#include "app/MonitorAutostart.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/folders/XdgFolders.h"
#include "platform/module/Module.h"
#include "platform/process/Process.h"

namespace {

// systemctl answers at once or not at all (a hung bus): the dialog waits no longer than this.
constexpr DWORD kSystemctlWaitMs = 10000;

// One argument of a desktop entry's Exec key: quoted when it holds a reserved character, with the
// quoting backslashes and any literal backslash escaped again for the string value; "%" doubled.
bool ExecArgument(const std::string& arg, std::string& out) {
  out.clear();
  bool quote = arg.empty();
  for (unsigned char c : arg) {
    if (c < 0x20 || c == 0x7f) return false;  // a line break would end the entry's line
    if (std::string(" \t\"'\\><~|&;$*?#()`").find(static_cast<char>(c)) != std::string::npos) quote = true;
  }
  for (char c : arg) {
    if (c == '%') {
      out += "%%";
    } else if (quote && (c == '"' || c == '`' || c == '$')) {
      out += "\\\\";
      out += c;
    } else if (c == '\\') {
      out += quote ? "\\\\\\\\" : "\\\\";
    } else {
      out += c;
    }
  }
  if (quote) out = "\"" + out + "\"";
  return true;
}

}  // namespace

std::string MonitorAutostart::EntryPath() {
  const std::string config = platform::folders::XdgBaseFolder(platform::folders::XdgBase::Config);
  if (config.empty()) return std::string();
  return config + "/autostart/" + kEntryName;
}

std::string MonitorAutostart::EntryText(const std::string& monitorPath) {
  std::string exec;
  if (monitorPath.empty() || !ExecArgument(monitorPath, exec)) return std::string();
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=marlin3 device monitor\n"
         "Comment=Serves scans started at the printer's panel\n"
         "Exec=" +
         exec +
         "\n"
         "NoDisplay=true\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

MonitorAutostart::Result MonitorAutostart::Apply(Start start, const std::string& monitorPath) {
  const bool on = start == Start::kOn;
  DebugTrace trace("MonitorAutostart", __FILE__);
  if (RunSystemctl(on, trace)) {
    // The unit does the work; an entry from a session without systemd would start a second copy.
    RemoveEntry(trace);
    return Result::kUnit;
  }
  if (on) return WriteEntry(monitorPath, trace) ? Result::kAutostartEntry : Result::kFailed;
  return RemoveEntry(trace) ? Result::kAutostartEntry : Result::kFailed;
}

bool MonitorAutostart::RunSystemctl(bool on, DebugTrace& trace) {
  const char* configured = std::getenv("MARLIN3_SYSTEMCTL");
  const std::string program = configured != nullptr && configured[0] != '\0' ? configured : "systemctl";
  const std::string command =
      BuildCommandLine({program, "--user", on ? "enable" : "disable", "--now", kUnitName});
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  // systemctl's own messages ("Created symlink ...") are no business of the person using the dialog.
  HANDLE null = CreateFileA("/dev/null", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (null != INVALID_HANDLE_VALUE) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null;
  }
  PROCESS_INFORMATION info{};
  const BOOL started =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  if (null != INVALID_HANDLE_VALUE) CloseHandle(null);
  if (!started) {
    trace.Write("No systemctl to run (" + command + "); the autostart entry is used");
    return false;
  }
  DWORD code = 1;
  if (WaitForSingleObject(info.hProcess, kSystemctlWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 1);
    trace.Error("systemctl did not answer in time: " + command);
  } else if (!GetExitCodeProcess(info.hProcess, &code)) {
    code = 1;
  }
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  if (code != 0) {
    trace.Write("systemctl failed with exit code " + std::to_string(code) + " (" + command +
                "); the autostart entry is used");
    return false;
  }
  trace.Write(std::string("Device monitor user unit ") + (on ? "enabled" : "disabled") + ": " + command);
  return true;
}

bool MonitorAutostart::WriteEntry(const std::string& monitorPath, DebugTrace& trace) {
  const std::string path = EntryPath();
  // Not known from a running monitor or the settings: the one installed beside this program.
  std::string program = monitorPath;
  if (program.empty()) {
    const std::string beside = platform::module::ExecutableFolder() + "DEVWATCH";
    if (access(beside.c_str(), X_OK) == 0) program = beside;
  }
  const std::string text = EntryText(program);
  if (path.empty() || text.empty()) {
    trace.Error("No autostart entry for the device monitor (no home folder, or its path '" + program +
                "' cannot be written into one)");
    return false;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  // Written beside the target and renamed, so a session starting meanwhile never reads half an entry.
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      trace.Error("Writing the autostart entry " + path + " failed");
      return false;
    }
  }
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    trace.Error("Writing the autostart entry " + path + " failed: " + ec.message());
    return false;
  }
  trace.Write("Device monitor autostart entry written: " + path);
  return true;
}

bool MonitorAutostart::RemoveEntry(DebugTrace& trace) {
  const std::string path = EntryPath();
  if (path.empty()) return true;
  std::error_code ec;
  if (std::filesystem::remove(path, ec)) trace.Write("Device monitor autostart entry removed: " + path);
  if (ec) {
    trace.Error("Removing the autostart entry " + path + " failed: " + ec.message());
    return false;
  }
  return true;
}
