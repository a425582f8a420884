// The object behind a file HANDLE and helpers shared by the files layer (internal to platform/files).
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/base/Handle.h"

namespace platform::files {

class FileObject : public HandleObject {
 public:
  FileObject(int fd, DWORD access, std::string path, bool deleteOnClose)
      : HandleObject(Kind::File),
        m_fd(fd),
        m_access(access),
        m_path(std::move(path)),
        m_deleteOnClose(deleteOnClose) {}
  ~FileObject() override;
  int fd() const { return m_fd; }
  DWORD access() const { return m_access; }
  const std::string& path() const { return m_path; }
  // The sharing check's lock was busy past its bound and the open went on without it.
  bool LockWaitedOut() const { return m_lockWaitedOut; }
  void SetLockWaitedOut(bool waited) { m_lockWaitedOut = waited; }

 private:
  int m_fd;
  DWORD m_access;
  std::string m_path;
  bool m_deleteOnClose;
  bool m_lockWaitedOut = false;
};

// ERROR_FILE_NOT_FOUND when the folder of path exists, else ERROR_PATH_NOT_FOUND (what Windows tells
// apart for a missing file).
DWORD MissingError(const std::string& path);

// Windows attributes of a stat result and the entry's name.
DWORD AttributesOf(const struct stat& st, const std::string& name);

// Windows FILETIME value (100 ns since 1601) of a Unix time.
void ToFileTime(const struct timespec& ts, DWORD& low, DWORD& high);

}  // namespace platform::files
