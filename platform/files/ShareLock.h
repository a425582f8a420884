// Windows' FILE_SHARE_* rules between handles and processes, on open-file-description (OFD) locks
// (internal to platform/files). Each handle of a regular file takes shared locks on marker bytes far
// beyond any data (2^62 + slot): "has read access", "has write access", "denies read", "denies write",
// "denies delete". An open first checks, under an exclusive flock() on its own descriptor used as a
// short critical section, that no other description holds a marker that conflicts with it, then takes
// its own markers. OFD locks belong to the open description, so they work between handles of one
// process too, and vanish when the handle is closed or the process dies.
#pragma once

#include "platform/base/WinTypes.h"

namespace platform::files {

// ERROR_SUCCESS (fd now carries its markers) or ERROR_SHARING_VIOLATION. fd should be open for reading
// (the markers are read locks); a write-only descriptor is checked but cannot mark itself.
// The critical section's flock is waited for at most kShareLockWaitMs; past that the check goes on
// without it (*waitedOut set), so a lock held by another program delays an open but never stops it.
constexpr int kShareLockWaitMs = 2000;
DWORD AcquireShare(int fd, DWORD access, DWORD share, DWORD flags, bool* waitedOut = nullptr);

// ERROR_SHARING_VIOLATION when some handle holds the file open without FILE_SHARE_DELETE.
DWORD CheckDeleteAllowed(const char* path);

}  // namespace platform::files
