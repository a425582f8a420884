// Entry points of the file library (see PxFileLibrary.h).
#include "toolkit/class/PxFileLibrary.h"

#include "platform/module/Module.h"
#include "pxclass/PxBase.h"

namespace pxclass {

void* FileLibraryProc(const char* name) {
  void* handle = PxBase::LibraryHandle(PxBase::PX_FIL);
  if (!handle) return nullptr;
  return GetProcAddress(static_cast<HMODULE>(handle), name);
}

}  // namespace pxclass
