// The file library's entry points as the class library reaches them: resolved by name from the
// loaded "pxfile.dll" each time (cheap next to image work, and never stale after UnloadLibraries).
#pragma once

#include "pxfile/PxFileApi.h"

namespace pxclass {

// The entry point `name` of the loaded file library cast to T, or null when it is not loaded.
void* FileLibraryProc(const char* name);

template <typename T>
T FileProc(const char* name) {
  return reinterpret_cast<T>(FileLibraryProc(name));
}

}  // namespace pxclass
