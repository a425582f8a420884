// The marlin3 program: one task per start, chosen by the command line. The command line is rebuilt
// into one text with Windows quoting, as the option parser expects; the outcome of a task is reported
// by message boxes and the log, never by the exit code.
#include <string>
#include <vector>

#include "app/halyard.h"
#include "platform/process/Process.h"

int main(int argc, char** argv) {
  ScanApp app;
  // The framework's command line is everything after the program name.
  app.SetCommandLine(BuildCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc)));
  app.InitInstance();
  return 0;
}
