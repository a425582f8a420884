// DEVWATCH's running instance: it keeps the polling state, takes notifications handed over by later
// starts, looks at the device every poll interval while polling is on, and starts marlin3 with task 13
// for each scan request the device reports for this PC. One thread, one poll loop.
// Settings from the environment (tests, installers): DEVWATCH_MARLIN3 (marlin3's path; default the
// marlin3 beside DEVWATCH, else marlin3 on PATH), DEVWATCH_POLL_MS (2000), DEVWATCH_TIMEOUT_MS (the
// bound of one look, 5000), DEVWATCH_LIFETIME (seconds, 0 = none).
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "NotificationLine.h"
#include "SingleInstance.h"

namespace devwatch {

class Monitor {
 public:
  Monitor(std::filesystem::path stateFile, std::FILE* log);

  // The arguments after the program name: the first start's command line.
  int Main(const std::vector<std::string>& args);

  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // marlin3 /Task 13 /DevAddr ADDR /DevDest NAME, through posix_spawn (no shell). The pid, or -1.
  // Each value one argument that marlin3 reads back as exactly itself: a destination name that would
  // read as more than one value, or holds a control character, is refused and logged (-1).
  int StartScan(const std::string& devAddr, const std::string& dest);
  // Whether marlin3 reads dest as exactly one value, itself; false with the reason.
  static bool CheckDestination(const std::string& dest, std::string& why);

 private:
  int Run(SingleInstance& instance);
  // Applies a notification; false when the instance should end (polling turned off).
  bool Apply(const Notification& notification);
  void LookAtDevice();
  void Reap();

  std::filesystem::path m_stateFile;
  std::FILE* m_log;
  Notification m_state;
  std::string m_strMarlin3;
  int m_nPollMs = 2000;
  int m_nTimeoutMs = 5000;
  int m_nLifetimeSec = 0;
  std::string
      m_strLastProblem;  // logged once until it changes, so a device that is away does not fill the log
};

}  // namespace devwatch
