// Kernel-object handles in the Win32 shape: files, find handles, snapshots and processes are all
// HANDLEs closed with CloseHandle. Callers: the files, process and (through them) every other layer.
// A HANDLE points to a HandleObject owned by the layer that made it; CloseHandle checks that the handle
// is live (a handle closed twice or never made fails with ERROR_INVALID_HANDLE instead of crashing).
#pragma once

#include "platform/base/WinTypes.h"

using HANDLE = void*;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// Closes a handle made by any layer. FALSE with ERROR_INVALID_HANDLE for a handle that is not live.
BOOL CloseHandle(HANDLE handle);

namespace platform {

// Base of every object behind a HANDLE. Register() makes it live; CloseHandle unregisters and deletes.
class HandleObject {
 public:
  enum class Kind { File, Find, Snapshot, Process, Thread };
  explicit HandleObject(Kind kind) : m_kind(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;
  Kind kind() const { return m_kind; }

 private:
  Kind m_kind;
};

// Makes the object reachable as a HANDLE (takes ownership).
HANDLE RegisterHandle(HandleObject* object);
// The live object behind a handle if it is of the given kind, else null (the caller reports
// ERROR_INVALID_HANDLE). The object stays valid until CloseHandle on the same thread's call returns.
HandleObject* LookupHandle(HANDLE handle, HandleObject::Kind kind);

}  // namespace platform
