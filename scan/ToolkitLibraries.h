// The toolkit libraries the scan job needs, loaded on demand: a library already loaded is kept, a missing
// one is loaded and checked, and a failure is the log line "LoadLibraries PX_KRN failed" (or PX_FIL,
// PX_TWN). TwainScan and FileConvert set up their libraries through this one step.
#pragma once

#include "log/DebugTrace.h"
#include "pxclass/PxBase.h"

inline bool EnsureToolkitLibrary(int bit, const char* name, DebugTrace& trace) {
  if ((PxBase::GetLoadedLibraries() & bit) != 0 || (PxBase::LoadLibraries(bit) & bit) != 0) return true;
  trace.Write(std::string("LoadLibraries ") + name + " failed");
  return false;
}
