// Loading the toolkit's run-time libraries through the module layer (see PxBase.h).
#include "pxclass/PxBase.h"

#include <cstdio>

#include "platform/module/Module.h"
#include "pxfile/PxFileApi.h"

namespace {

struct LibrarySlot {
  int nBit;
  const char* pszModule;
  HMODULE hModule;
};

// Process-wide, like the loader's own module list; used from the one UI thread.
LibrarySlot g_libraries[] = {
    {PxBase::PX_KRN, "pxkernel.dll", nullptr},
    {PxBase::PX_FIL, "pxfile.dll", nullptr},
    {PxBase::PX_TWN, "pxtwain.dll", nullptr},
};

std::string g_strLastError;

// The module layer for the file library's own modules (the PDF reader, loaded on first use).
void* LoadModule(const char* name, unsigned long* error) {
  HMODULE module = LoadLibraryA(name);
  if (!module && error) *error = static_cast<unsigned long>(platform::GetLastError());
  return module;
}

void* ModuleProc(void* module, const char* name) {
  return GetProcAddress(static_cast<HMODULE>(module), name);
}

}  // namespace

int PxBase::LoadLibraries(int mask) {
  g_strLastError.clear();
  for (LibrarySlot& slot : g_libraries) {
    if (!(mask & slot.nBit) || slot.hModule) continue;
    slot.hModule = LoadLibraryA(slot.pszModule);
    if (slot.hModule && slot.nBit == PX_FIL) {
      auto setLoader =
          reinterpret_cast<PxfSetModuleLoaderFn>(GetProcAddress(slot.hModule, "PxfSetModuleLoader"));
      if (setLoader) setLoader(&LoadModule, &ModuleProc);
    }
    if (!slot.hModule) {
      char text[160];
      std::snprintf(text, sizeof(text), "%s did not load (error %lu)", slot.pszModule,
                    static_cast<unsigned long>(platform::GetLastError()));
      if (!g_strLastError.empty()) g_strLastError += "; ";
      g_strLastError += text;
    }
  }
  return GetLoadedLibraries();
}

int PxBase::GetLoadedLibraries() {
  int mask = 0;
  for (const LibrarySlot& slot : g_libraries)
    if (slot.hModule) mask |= slot.nBit;
  return mask;
}

int PxBase::UnloadLibraries(int mask) {
  for (LibrarySlot& slot : g_libraries) {
    if (!(mask & slot.nBit) || !slot.hModule) continue;
    FreeLibrary(slot.hModule);
    slot.hModule = nullptr;
  }
  return GetLoadedLibraries();
}

void* PxBase::LibraryHandle(int bit) {
  for (const LibrarySlot& slot : g_libraries)
    if (slot.nBit == bit) return slot.hModule;
  return nullptr;
}

std::string PxBase::LastLoadError() {
  return g_strLastError;
}
