// FILE_SHARE_* emulation with OFD locks (see ShareLock.h).
#include "platform/files/ShareLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/Files.h"

namespace platform::files {

namespace {

constexpr off_t kMarkerBase = static_cast<off_t>(1) << 62;

enum Slot : off_t { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3, kDeniesDelete = 4 };

// Whether another open description holds the marker (a write-lock probe conflicts with any lock).
bool HeldByOther(int fd, Slot slot) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkerBase + slot;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool Mark(int fd, Slot slot) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkerBase + slot;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

}  // namespace

DWORD AcquireShare(int fd, DWORD access, DWORD share, DWORD flags, bool* waitedOut) {
  const bool reads = access & GENERIC_READ;
  const bool writes = access & GENERIC_WRITE;
  const bool deletes = flags & FILE_FLAG_DELETE_ON_CLOSE;
  // Held only for a few checks by this layer, so a lock busy for long is someone else's.
  bool locked = false;
  for (int waited = 0; !(locked = flock(fd, LOCK_EX | LOCK_NB) == 0); waited += 10) {
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (waited >= kShareLockWaitMs) {
      if (waitedOut) *waitedOut = true;
      break;
    }
    usleep(10000);
  }
  DWORD result = ERROR_SUCCESS;
  if ((reads && HeldByOther(fd, kDeniesRead)) || (writes && HeldByOther(fd, kDeniesWrite)) ||
      (deletes && HeldByOther(fd, kDeniesDelete)) ||
      (!(share & FILE_SHARE_READ) && HeldByOther(fd, kHasRead)) ||
      (!(share & FILE_SHARE_WRITE) && HeldByOther(fd, kHasWrite))) {
    result = ERROR_SHARING_VIOLATION;
  } else {
    if (reads) Mark(fd, kHasRead);
    if (writes) Mark(fd, kHasWrite);
    if (!(share & FILE_SHARE_READ)) Mark(fd, kDeniesRead);
    if (!(share & FILE_SHARE_WRITE)) Mark(fd, kDeniesWrite);
    if (!(share & FILE_SHARE_DELETE)) Mark(fd, kDeniesDelete);
  }
  if (locked) flock(fd, LOCK_UN);
  return result;
}

DWORD CheckDeleteAllowed(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return ERROR_SUCCESS;  // nothing this layer could have opened it with
  const bool denied = HeldByOther(fd, kDeniesDelete);
  close(fd);
  return denied ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace platform::files
