// Loading shared libraries under their Windows names (see Module.h).
#include "platform/module/Module.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/debugout/DebugOut.h"

namespace platform::module {

namespace {

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

bool EndsWithDll(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HMODULE Open(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    OutputDebugStringA(("LoadLibrary: " + std::string(why ? why : path) + "\n").c_str());
  }
  return handle;
}

}  // namespace

std::string ExecutableFolder() {
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  if (const char* dirs = std::getenv("MARLIN3_MODULE_DIR")) {
    const std::string list = dirs;
    size_t start = 0;
    while (start <= list.size()) {
      const size_t colon = list.find(':', start);
      const std::string dir =
          list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!dir.empty()) folders.push_back(dir.back() == '/' ? dir : dir + "/");
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  const std::string exeFolder = ExecutableFolder();
  folders.push_back(exeFolder + MARLIN3_PRIVATE_LIBDIR_FROM_BIN "/");
  // Only a build tree keeps libraries beside the programs; an installed bin/ folder is not searched.
  if (IsFile(exeFolder + "../CMakeCache.txt")) folders.push_back(exeFolder);
  return folders;
}

}  // namespace platform::module

HMODULE LoadLibraryA(const char* name) {
  using namespace platform::module;
  HMODULE handle = nullptr;
  if (name && *name) {
    const std::string given = name;
    if (!EndsWithDll(given)) {
      handle = Open(given);
    } else {
      const std::string base = given.substr(0, given.size() - 4);
      const size_t slash = base.rfind('/');
      const std::string file = slash == std::string::npos
                                   ? "lib" + base + ".so"
                                   : base.substr(0, slash + 1) + "lib" + base.substr(slash + 1) + ".so";
      bool decided = false;
      if (slash != std::string::npos) {
        handle = Open(file);
        decided = true;
      }
      const std::vector<std::string> folders = platform::module::SearchFolders();
      for (const std::string& folder : folders) {
        if (decided) break;
        if (IsFile(folder + file)) {
          handle = Open(folder + file);
          decided = true;
        }
      }
      if (!decided) handle = Open(file);
    }
  }
  if (!handle) platform::SetLastError(ERROR_MOD_NOT_FOUND);
  return handle;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    platform::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* handle = module ? module : dlopen(nullptr, RTLD_NOW);
  dlerror();
  void* symbol = dlsym(handle, name);
  if (!module) dlclose(handle);
  if (!symbol) platform::SetLastError(ERROR_PROC_NOT_FOUND);
  return symbol;
}

BOOL FreeLibrary(HMODULE module) {
  if (!module || dlclose(module) != 0) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

std::string GetModuleFileNameA(HMODULE module) {
  if (!module) return platform::module::ExecutablePath();
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return std::string();
  }
  if (!map->l_name || !*map->l_name) return platform::module::ExecutablePath();
  char resolved[PATH_MAX];
  if (realpath(map->l_name, resolved)) return resolved;
  return map->l_name;
}
