// The process services of ValueGetter: starting another program from a command line, finding a running
// program's executable, and whether scans started at the device can be served.
// Commands are split into arguments by the Windows rules and started without a shell, so a file name
// holding blanks, quotes, semicolons or $(...) reaches the program as data and is never run.
#include <vector>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/process/Process.h"
#include "settings/SettingsSchema.h"
#include "settings/ValueGetter.h"

namespace {

// Windows takes at most this many characters of a command line, terminator included. A 260-character
// buffer would cut a long path and start something else, so the whole command is kept up to this limit
// and a longer one is refused.
constexpr size_t kMaxCommandLine = 32767;

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The full path of the first module of the first running process whose executable name contains name.
std::string FindRunning(DebugTrace& trace, const std::string& name) {
  HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE) {
    trace.SystemError("CreateToolhelp32Snapshot failed for processes");
    return std::string();
  }
  std::string path;
  PROCESSENTRY32 process{};
  process.dwSize = sizeof process;
  for (BOOL more = Process32First(processes, &process); more; more = Process32Next(processes, &process)) {
    if (std::string(process.szExeFile).find(name) == std::string::npos) continue;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    if (modules == INVALID_HANDLE_VALUE) {
      trace.Error("CreateToolhelp32Snapshot failed for modules");
      continue;
    }
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    const BOOL first = Module32First(modules, &module);
    CloseHandle(modules);
    if (!first) {
      trace.Error("Module32First failed");
      continue;
    }
    path = module.szExePath;
    break;
  }
  CloseHandle(processes);
  return path;
}

}  // namespace

bool ValueGetter::FindPathFromExe(std::string& path, const std::string& exeName,
                                  const std::string& valueName) {
  DebugTrace trace("FindPathFromExe", __FILE__);
  path.clear();
  if (!valueName.empty()) {
    std::string stored = GetMainStr(valueName);
    if (!stored.empty() && FileExists(stored)) {
      path = stored;
      return true;
    }
    if (!stored.empty()) SetMainStr(valueName, std::string(), MissingMainKey::kFail);
  }
  // "Name.exe" is the executable "Name" here.
  const std::string name = platform::process::ExecutableName(exeName);
  if (!name.empty()) path = FindRunning(trace, name);
  if (!valueName.empty()) SetMainStr(valueName, path, MissingMainKey::kCreate);
  return true;
}

bool ValueGetter::IsScanToAvailable() {
  DebugTrace trace("IsScanToAvailable", __FILE__);
  std::string product = GetMainStr(settings::kMainProductToUse.pszName);
  if (product.empty()) product = settings::kMainProductToUse.pszDefault;
  if (product != settings::kKnownProduct) return false;
  std::string path;
  return FindPathFromExe(path, "DEVWATCH.exe", settings::kMainToolboxExe.pszName) && !path.empty();
}

bool ValueGetter::CreateProcess(const std::string& commandLine, const std::string& failureText) {
  DebugTrace trace("CreateProcess", __FILE__);
  trace.Write("CreateProcess on: ...........................");
  trace.Write(commandLine);

  // A zero inside the text would silently cut the command; a too long one cannot be passed whole.
  DWORD refusal = ERROR_SUCCESS;
  if (commandLine.find('\0') != std::string::npos)
    refusal = ERROR_INVALID_PARAMETER;
  else if (commandLine.size() >= kMaxCommandLine)
    refusal = ERROR_FILENAME_EXCED_RANGE;

  BOOL started = FALSE;
  PROCESS_INFORMATION info{};
  if (refusal != ERROR_SUCCESS) {
    platform::SetLastError(refusal);
  } else {
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started =
        CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  }
  if (!started) {
    const std::string system = DebugTrace::SystemText(platform::GetLastError());
    trace.Error(failureText + " (" + system + ")");
    return false;
  }
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return true;
}
