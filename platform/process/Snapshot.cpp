// Process and module snapshots from /proc (see Process.h).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/process/Process.h"
#include "platform/text/Text.h"

namespace platform::process {

namespace {

struct ProcessInfo {
  DWORD pid;
  DWORD parent;
  DWORD threads;
  std::string exeFile;
};

struct ModuleInfo {
  std::string path;
  uintptr_t base;
  DWORD size;
};

class SnapshotObject : public HandleObject {
 public:
  SnapshotObject() : HandleObject(Kind::Snapshot) {}
  DWORD pid = 0;
  std::vector<ProcessInfo> processes;
  size_t nextProcess = 0;
  std::vector<ModuleInfo> modules;
  DWORD moduleError = ERROR_SUCCESS;  // why the executable could not be read
  size_t nextModule = 0;
};

// readlink of /proc/<pid>/exe; errno tells why it failed.
bool ReadExe(DWORD pid, std::string& path) {
  char buf[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return false;
  path.assign(buf, static_cast<size_t>(n));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadProcess(DWORD pid, ProcessInfo& info) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  info.pid = pid;
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  long long fields[18] = {};
  rest >> state;
  for (long long& f : fields) rest >> f;
  info.parent = static_cast<DWORD>(fields[0]);    // field 4: ppid
  info.threads = static_cast<DWORD>(fields[16]);  // field 20: num_threads
  std::string exe;
  info.exeFile = ReadExe(pid, exe) ? BaseName(exe) : line.substr(open + 1, close - open - 1);
  return true;
}

void ReadModules(SnapshotObject& snapshot) {
  std::string exe;
  if (!ReadExe(snapshot.pid, exe)) {
    snapshot.moduleError = ERROR_ACCESS_DENIED;
    return;
  }
  snapshot.modules.push_back({exe, 0, 0});
  std::ifstream maps("/proc/" + std::to_string(snapshot.pid) + "/maps");
  std::string line;
  std::set<std::string> seen{exe};
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, path;
    fields >> range >> perms >> offset >> device >> inode;
    std::getline(fields >> std::ws, path);
    if (path.empty() || path[0] != '/') continue;
    const size_t dash = range.find('-');
    const uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    const uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (path == exe && snapshot.modules[0].base == 0) {
      snapshot.modules[0].base = start;
      snapshot.modules[0].size = static_cast<DWORD>(end - start);
    }
    if (perms.find('x') == std::string::npos || !seen.insert(path).second) continue;
    snapshot.modules.push_back({path, start, static_cast<DWORD>(end - start)});
  }
}

SnapshotObject* SnapshotOf(HANDLE handle) {
  return static_cast<SnapshotObject*>(platform::LookupHandle(handle, HandleObject::Kind::Snapshot));
}

BOOL Fail(DWORD code) {
  platform::SetLastError(code);
  return FALSE;
}

BOOL NextProcess(HANDLE handle, PROCESSENTRY32* entry, bool first) {
  SnapshotObject* snapshot = SnapshotOf(handle);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  if (!entry || entry->dwSize < sizeof(PROCESSENTRY32)) return Fail(ERROR_BAD_LENGTH);
  if (first) snapshot->nextProcess = 0;
  if (snapshot->nextProcess >= snapshot->processes.size()) return Fail(ERROR_NO_MORE_FILES);
  const ProcessInfo& p = snapshot->processes[snapshot->nextProcess++];
  const DWORD size = entry->dwSize;
  std::memset(entry, 0, sizeof *entry);
  entry->dwSize = size;
  entry->th32ProcessID = p.pid;
  entry->th32ParentProcessID = p.parent;
  entry->cntThreads = p.threads;
  platform::text::CopyTruncated(entry->szExeFile, sizeof entry->szExeFile, p.exeFile);
  return TRUE;
}

BOOL NextModule(HANDLE handle, MODULEENTRY32* entry, bool first) {
  SnapshotObject* snapshot = SnapshotOf(handle);
  if (!snapshot) return Fail(ERROR_INVALID_HANDLE);
  if (!entry || entry->dwSize < sizeof(MODULEENTRY32)) return Fail(ERROR_BAD_LENGTH);
  if (snapshot->moduleError != ERROR_SUCCESS) return Fail(snapshot->moduleError);
  if (first) snapshot->nextModule = 0;
  if (snapshot->nextModule >= snapshot->modules.size()) return Fail(ERROR_NO_MORE_FILES);
  const ModuleInfo& m = snapshot->modules[snapshot->nextModule++];
  const DWORD size = entry->dwSize;
  std::memset(entry, 0, sizeof *entry);
  entry->dwSize = size;
  entry->th32ModuleID = 1;
  entry->th32ProcessID = snapshot->pid;
  entry->GlblcntUsage = entry->ProccntUsage = 0xFFFF;
  entry->modBaseAddr = reinterpret_cast<BYTE*>(m.base);
  entry->modBaseSize = m.size;
  platform::text::CopyTruncated(entry->szModule, sizeof entry->szModule, BaseName(m.path));
  platform::text::CopyTruncated(entry->szExePath, sizeof entry->szExePath, m.path);
  return TRUE;
}

}  // namespace

}  // namespace platform::process

using namespace platform::process;

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid) {
  auto* snapshot = new SnapshotObject();
  if (flags & TH32CS_SNAPPROCESS) {
    if (DIR* d = opendir("/proc")) {
      while (dirent* e = readdir(d)) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(e->d_name, &end, 10);
        if (!end || *end || value == 0) continue;
        ProcessInfo info;
        if (ReadProcess(static_cast<DWORD>(value), info)) snapshot->processes.push_back(info);
      }
      closedir(d);
    }
    std::sort(snapshot->processes.begin(), snapshot->processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  }
  if (flags & (TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32)) {
    snapshot->pid = pid == 0 ? static_cast<DWORD>(getpid()) : pid;
    struct stat st {};
    if (stat(("/proc/" + std::to_string(snapshot->pid)).c_str(), &st) != 0) {
      delete snapshot;
      platform::SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    ReadModules(*snapshot);
  }
  return platform::RegisterHandle(snapshot);
}

BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) {
  return NextProcess(snapshot, entry, true);
}
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
  return NextProcess(snapshot, entry, false);
}
BOOL Module32First(HANDLE snapshot, MODULEENTRY32* entry) {
  return NextModule(snapshot, entry, true);
}
BOOL Module32Next(HANDLE snapshot, MODULEENTRY32* entry) {
  return NextModule(snapshot, entry, false);
}
