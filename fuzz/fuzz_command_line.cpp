// The option search of the command line, and the two sides of a device-initiated start together: any
// text is searched for options without harm, and any destination name DEVWATCH passes is read by
// marlin3 (its command line rebuilt from the arguments) as exactly itself, opening no option.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Monitor.h"
#include "log/DebugTrace.h"
#include "platform/process/Process.h"
#include "settings/ValueGetter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    DebugTrace open("fuzz", __FILE__, "/dev/null");
    return true;
  }();
  (void)once;
  if (size > 4096) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const char* const options[] = {"AppExe", "OutFile", "OverWrite", "Hide", "Dest", "Res", "Qs", "Dir"};
  {
    ValueGetter getter(input);
    std::string text;
    int number = 0;
    for (const char* option : options) {
      getter.GetFromCmdLine(option, text, "DEF");
      getter.GetFromCmdLine(option, number, 7, 0, 100);
    }
  }
  std::string why;
  if (!devwatch::Monitor::CheckDestination(input, why)) return 0;
  ValueGetter getter(BuildCommandLine({"/Task", "13", "/DevAddr", "5225", "/DevDest", input}));
  std::string value;
  if (!getter.GetFromCmdLine("DevDest", value, "DEF") || value != input) __builtin_trap();
  for (const char* option : options) {
    if (getter.GetFromCmdLine(option, value, "")) __builtin_trap();
  }
  int task = 0;
  if (!getter.GetFromCmdLine("Task", task, 3, INT32_MIN, INT32_MAX) || task != 13) __builtin_trap();
  return 0;
}
