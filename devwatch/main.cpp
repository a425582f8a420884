// DEVWATCH: the device monitor marlin3 notifies with "/notifications:DevAddr=... DevMon=On|Off
// DevHostId=...". It keeps one instance per user, remembers the polling state, and while polling is on
// starts marlin3 with task 13 for scan requests made at the device's panel. docs/devwatch.md.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Monitor.h"
#include "MonitorState.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path folder = devwatch::MonitorState::StateFolder();
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path logPath = folder / "devwatch.log";
  // One older log is kept, so the log never grows without end.
  if (fs::file_size(logPath, ec) > 1024 * 1024 && !ec) fs::rename(logPath, folder / "devwatch.log.old", ec);
  std::FILE* log = std::fopen(logPath.c_str(), "a");
  std::vector<std::string> args(argv + 1, argv + argc);
  devwatch::Monitor monitor(folder / "devwatch.state", log);
  const int code = monitor.Main(args);
  if (log != nullptr) std::fclose(log);
  return code;
}
