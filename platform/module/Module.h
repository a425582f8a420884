// LoadLibraryA / GetProcAddress / FreeLibrary / GetModuleFileNameA on dlopen (docs/platform.md "Layers").
// Callers: start-up (marlin3.dll), the USB transport (DvPortBridge.dll), Simple MAPI (Mapi32.dll), the
// imaging toolkit loader. "Name.dll" (".dll" in any case) is looked up as libName.so, in this order:
//   1. each folder of $MARLIN3_MODULE_DIR (colon-separated; a test seam to provide or hide libraries),
//   2. the installed private folder relative to the executable (/proc/self/exe): ../lib/marlin3 from bin/,
//      so an installed tree works under any prefix,
//   3. the executable's own folder, only in a build tree (its parent holds CMakeCache.txt),
//   4. the system's dlopen order (LD_LIBRARY_PATH, the executable's RUNPATH, ld.so.cache, ...).
// A file that is found but cannot be loaded (not a library, missing dependency) ends the search with
// ERROR_MOD_NOT_FOUND, as Windows stops at a bad image; tests hide a library by putting an empty file of
// its name in $MARLIN3_MODULE_DIR. A name without ".dll" is given to dlopen as it is. Why the failure
// happened (dlerror) goes to the debugger output (OutputDebugStringA).
#pragma once

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

// A module handle, or null with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryA(const char* name);
// The symbol's address, or null with ERROR_PROC_NOT_FOUND. A null module means the executable.
// Ordinals (a "name" below 0x10000) are not supported here: null with ERROR_PROC_NOT_FOUND.
void* GetProcAddress(HMODULE module, const char* name);
// FALSE with ERROR_INVALID_HANDLE for a null module.
BOOL FreeLibrary(HMODULE module);
// The full path of a loaded module; null: the executable's path. Empty with ERROR_INVALID_HANDLE when
// the handle is not a loaded module.
std::string GetModuleFileNameA(HMODULE module);

namespace platform::module {

// The folder holding the running executable, ending with "/".
std::string ExecutableFolder();
// The folders searched for "Name.dll" before the system's order, each ending with "/", in order.
std::vector<std::string> SearchFolders();

}  // namespace platform::module
