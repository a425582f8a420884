// CreateFileA, ReadFile, WriteFile and the file-system operations (see Files.h).
#include "platform/files/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/files/FileObject.h"
#include "platform/files/ShareLock.h"

namespace platform::files {

namespace {

std::mutex g_hookMutex;
WriteFaultHook g_writeHook;

BOOL Fail(DWORD code) {
  platform::SetLastError(code);
  return FALSE;
}

std::string Parent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

DWORD ErrorOfOpen(int err, const std::string& path) {
  if (err == ENOENT) return MissingError(path);
  if (err == ENOTDIR) return ERROR_PATH_NOT_FOUND;
  return platform::ErrorFromErrno(err);
}

bool IsReadOnlyFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// Opens like CreateFileA; on failure returns null and sets *error.
FileObject* OpenFile(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     DWORD* error, bool* existed, bool privateFile = false) {
  *existed = false;
  if (!name || !*name) {
    *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  const std::string path = name;
  const bool reads = access & GENERIC_READ;
  const bool writes = access & GENERIC_WRITE;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !writes)) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  // What this program makes holds the user's data: private to the user.
  const mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) ? 0400 : 0600;
  // A writer is opened read-write when it may be, so that it can carry the share markers (read locks).
  int baseFlags = O_CLOEXEC | O_NOCTTY | (writes ? O_RDWR : O_RDONLY);
  // A private file is never reached through a link, and a FIFO in its place must not block the open.
  if (privateFile) baseFlags |= O_NOFOLLOW | O_NONBLOCK;
  int fd = -1;
  int err = 0;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    int extra = 0;
    if (disposition == CREATE_NEW) extra = O_CREAT | O_EXCL;
    fd = open(name, baseFlags | extra, mode);
    if (fd < 0 && errno == EACCES && writes && !reads && (baseFlags & O_RDWR)) {
      baseFlags = (baseFlags & ~O_RDWR) | O_WRONLY;
      fd = open(name, baseFlags | extra, mode);
    }
    err = errno;
    if (fd >= 0) {
      *existed = disposition != CREATE_NEW;
      break;
    }
    if (err == ENOENT && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) {
      fd = open(name, baseFlags | O_CREAT | O_EXCL, mode);
      err = errno;
      if (fd >= 0) break;
      if (err == EEXIST) continue;  // created by someone else meanwhile: open it as existing
    }
    break;
  }
  if (fd < 0) {
    *error = (disposition == CREATE_NEW && err == EEXIST) ? static_cast<DWORD>(ERROR_FILE_EXISTS)
             : (privateFile && (err == ELOOP || err == EISDIR || err == ENXIO))
                 ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                 : ErrorOfOpen(err, path);
    return nullptr;
  }
  struct stat st {};
  fstat(fd, &st);
  if (privateFile) {
    // Only the user's own regular file with no second name; it is narrowed to 0600 when wider.
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
        ((st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 0700) != 0)) {
      close(fd);
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  if (S_ISDIR(st.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    close(fd);
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  bool lockWaitedOut = false;
  if (S_ISREG(st.st_mode)) {
    const DWORD shareResult = AcquireShare(fd, access, share, flags, &lockWaitedOut);
    if (shareResult != ERROR_SUCCESS) {
      close(fd);
      *error = shareResult;
      return nullptr;
    }
    // Truncate only after the sharing check, so a refused open never damages another handle's file.
    if (*existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
        ftruncate(fd, 0) != 0) {
      *error = platform::ErrorFromErrno(errno);
      close(fd);
      return nullptr;
    }
  }
  auto* file = new FileObject(fd, access, path, flags & FILE_FLAG_DELETE_ON_CLOSE);
  file->SetLockWaitedOut(lockWaitedOut);
  return file;
}

FileObject* FileOf(HANDLE handle) {
  return static_cast<FileObject*>(platform::LookupHandle(handle, HandleObject::Kind::File));
}

bool CopyContents(int from, int to, DWORD* error) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = ERROR_READ_FAULT;
      return false;
    }
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        *error = (w < 0 && (errno == ENOSPC || errno == EDQUOT)) ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
        return false;
      }
      done += w;
    }
  }
}

// Copies a regular file to a temporary name beside the target and renames it into place.
DWORD CopyAcross(const std::string& from, const std::string& to, bool replace) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return ErrorOfOpen(errno, from);
  struct stat st {};
  fstat(in, &st);
  const std::string temp =
      Parent(to) + "/.marlin3-move-" + std::to_string(getpid()) + "-" + LastComponent(to);
  const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    const DWORD e = ErrorOfOpen(errno, to);
    close(in);
    return e;
  }
  DWORD error = ERROR_SUCCESS;
  bool ok = CopyContents(in, out, &error);
  close(in);
  if (ok) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    // What replaces a file is on the disk before the old one goes.
    if (replace && fsync(out) != 0 && errno != EINVAL) {
      ok = false;
      error = platform::ErrorFromErrno(errno);
    }
  }
  if (close(out) != 0 && ok) {
    ok = false;
    error = ERROR_WRITE_FAULT;
  }
  if (ok) {
    const int rc = replace ? rename(temp.c_str(), to.c_str())
                           : renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0) {
      ok = false;
      error = errno == EEXIST ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : platform::ErrorFromErrno(errno);
    }
  }
  if (!ok) {
    unlink(temp.c_str());
    return error;
  }
  unlink(from.c_str());
  return ERROR_SUCCESS;
}

}  // namespace

FileObject::~FileObject() {
  if (m_deleteOnClose) unlink(m_path.c_str());
  if (m_fd >= 0) close(m_fd);
}

DWORD MissingError(const std::string& path) {
  struct stat st {};
  const std::string parent = Parent(path);
  return (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
}

DWORD AttributesOf(const struct stat& st, const std::string& name) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (IsReadOnlyFile(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void ToFileTime(const struct timespec& ts, DWORD& low, DWORD& high) {
  const uint64_t value = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull +
                         static_cast<uint64_t>(ts.tv_nsec) / 100u;
  low = static_cast<DWORD>(value & 0xFFFFFFFFu);
  high = static_cast<DWORD>(value >> 32);
}

void SetWriteFaultHook(WriteFaultHook hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_writeHook = std::move(hook);
}

}  // namespace platform::files

using platform::files::FileObject;

namespace {

// CreateFile's handle and last error: ERROR_ALREADY_EXISTS where the disposition reports an existing file.
HANDLE OpenAndRegister(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flagsAndAttributes, bool privateFile) {
  DWORD error = ERROR_SUCCESS;
  bool existed = false;
  FileObject* file = platform::files::OpenFile(name, access, share, disposition, flagsAndAttributes, &error,
                                               &existed, privateFile);
  if (!file) {
    platform::SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  platform::SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return platform::RegisterHandle(file);
}

}  // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  return OpenAndRegister(name, access, share, disposition, flagsAndAttributes, false);
}

HANDLE platform::files::CreatePrivateFileA(const char* name, DWORD access, DWORD share, DWORD disposition) {
  return OpenAndRegister(name, access, share, disposition, FILE_ATTRIBUTE_NORMAL, true);
}

bool platform::files::LockWaitedOut(HANDLE handle) {
  FileObject* file = FileOf(handle);
  return file != nullptr && file->LockWaitedOut();
}

bool platform::files::SameFile(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
  if (read) *read = 0;
  FileObject* file = platform::files::FileOf(handle);
  if (!file) return platform::files::Fail(ERROR_INVALID_HANDLE);
  if (!(file->access() & GENERIC_READ)) return platform::files::Fail(ERROR_ACCESS_DENIED);
  if (!buffer && toRead) return platform::files::Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  while (done < toRead) {
    const ssize_t n = ::read(file->fd(), static_cast<char*>(buffer) + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read) *read = done;
      return platform::files::Fail(errno == EISDIR ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT);
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
    struct stat st {};
    if (fstat(file->fd(), &st) == 0 && !S_ISREG(st.st_mode)) break;  // pipes and devices: what is there
  }
  if (read) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped) {
  if (written) *written = 0;
  FileObject* file = platform::files::FileOf(handle);
  if (!file) return platform::files::Fail(ERROR_INVALID_HANDLE);
  if (!(file->access() & GENERIC_WRITE)) return platform::files::Fail(ERROR_ACCESS_DENIED);
  if (!buffer && toWrite) return platform::files::Fail(ERROR_INVALID_PARAMETER);
  platform::files::WriteFault fault;
  {
    std::lock_guard<std::mutex> lock(platform::files::g_hookMutex);
    if (platform::files::g_writeHook) fault = platform::files::g_writeHook(file->path(), toWrite);
  }
  DWORD limit = toWrite;
  if (fault.error != ERROR_SUCCESS)
    limit = fault.bytesBeforeFailure < toWrite ? fault.bytesBeforeFailure : toWrite;
  DWORD done = 0;
  while (done < limit) {
    const ssize_t n = ::write(file->fd(), static_cast<const char*>(buffer) + done, limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = done;
      if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) return platform::files::Fail(ERROR_DISK_FULL);
      if (n < 0 && errno == EFBIG) return platform::files::Fail(ERROR_FILE_TOO_LARGE);
      return platform::files::Fail(ERROR_WRITE_FAULT);
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  if (fault.error != ERROR_SUCCESS) return platform::files::Fail(fault.error);
  return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
  FileObject* file = platform::files::FileOf(handle);
  if (!file) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t offset = distance;
  if (distanceHigh)
    offset = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                  static_cast<uint32_t>(distance));
  const int whence = method == FILE_BEGIN     ? SEEK_SET
                     : method == FILE_CURRENT ? SEEK_CUR
                     : method == FILE_END     ? SEEK_END
                                              : -1;
  if (whence < 0) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t base = whence == SEEK_SET ? 0 : lseek(file->fd(), 0, whence);
  if (base < 0 || base + offset < 0) {
    platform::SetLastError(base < 0 ? ERROR_SEEK_ON_DEVICE : ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t pos = lseek(file->fd(), base + offset, SEEK_SET);
  if (pos < 0) {
    platform::SetLastError(platform::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
  platform::SetLastError(ERROR_SUCCESS);  // so a position of 0xFFFFFFFF can be told from a failure
  return static_cast<DWORD>(pos & 0xFFFFFFFF);
}

DWORD GetFileSize(HANDLE handle, DWORD* sizeHigh) {
  FileObject* file = platform::files::FileOf(handle);
  struct stat st {};
  if (!file || fstat(file->fd(), &st) != 0) {
    platform::SetLastError(file ? platform::ErrorFromErrno(errno) : static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  platform::SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFF);
}

BOOL SetEndOfFile(HANDLE handle) {
  FileObject* file = platform::files::FileOf(handle);
  if (!file) return platform::files::Fail(ERROR_INVALID_HANDLE);
  if (!(file->access() & GENERIC_WRITE)) return platform::files::Fail(ERROR_ACCESS_DENIED);
  const off_t pos = lseek(file->fd(), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(file->fd(), pos) != 0)
    return platform::files::Fail(platform::ErrorFromErrno(errno));
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle) {
  FileObject* file = platform::files::FileOf(handle);
  if (!file) return platform::files::Fail(ERROR_INVALID_HANDLE);
  if (fsync(file->fd()) != 0 && errno != EINVAL && errno != EROFS)
    return platform::files::Fail(platform::ErrorFromErrno(errno));
  return TRUE;
}

BOOL DeleteFileA(const char* name) {
  if (!name || !*name) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  struct stat st {};
  if (lstat(name, &st) != 0) return platform::files::Fail(platform::files::ErrorOfOpen(errno, name));
  if (S_ISDIR(st.st_mode) || platform::files::IsReadOnlyFile(st))
    return platform::files::Fail(ERROR_ACCESS_DENIED);
  if (S_ISREG(st.st_mode)) {
    if (DWORD e = platform::files::CheckDeleteAllowed(name)) return platform::files::Fail(e);
  }
  if (unlink(name) != 0) return platform::files::Fail(platform::ErrorFromErrno(errno));
  return TRUE;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
  if (!from || !*from || !to || !*to) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  struct stat src {};
  if (lstat(from, &src) != 0) return platform::files::Fail(platform::files::ErrorOfOpen(errno, from));
  if (S_ISREG(src.st_mode)) {
    if (DWORD e = platform::files::CheckDeleteAllowed(from)) return platform::files::Fail(e);
  }
  const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  struct stat dst {};
  const bool targetExists = lstat(to, &dst) == 0;
  if (targetExists) {
    const bool same = dst.st_dev == src.st_dev && dst.st_ino == src.st_ino;
    if (!same) {
      if (!replace) return platform::files::Fail(ERROR_ALREADY_EXISTS);
      if (S_ISDIR(dst.st_mode) || platform::files::IsReadOnlyFile(dst))
        return platform::files::Fail(ERROR_ACCESS_DENIED);
      if (DWORD e = platform::files::CheckDeleteAllowed(to)) return platform::files::Fail(e);
    }
  }
  if (replace && targetExists && S_ISREG(src.st_mode)) {
    // The new contents reach the disk before the name moves over the old file.
    const int fd = open(from, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      const bool synced = fsync(fd) == 0 || errno == EINVAL;
      close(fd);
      if (!synced) return platform::files::Fail(ERROR_WRITE_FAULT);
    }
  }
  int rc = replace ? rename(from, to) : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  if (rc != 0 && !replace && errno == EINVAL) {
    // A file system without RENAME_NOREPLACE: the existence check above stands in for it.
    rc = targetExists ? (errno = EEXIST, -1) : rename(from, to);
  }
  if (rc == 0) return TRUE;
  if (errno == EEXIST) return platform::files::Fail(ERROR_ALREADY_EXISTS);
  if (errno == EXDEV) {
    if (!S_ISREG(src.st_mode)) return platform::files::Fail(ERROR_NOT_SAME_DEVICE);
    if (DWORD e = platform::files::CopyAcross(from, to, replace)) return platform::files::Fail(e);
    return TRUE;
  }
  if (errno == ENOENT) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  return platform::files::Fail(platform::ErrorFromErrno(errno));
}

BOOL MoveFileA(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED);
}

BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists) {
  DWORD error = ERROR_SUCCESS;
  bool existed = false;
  FileObject* in =
      platform::files::OpenFile(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING, 0, &error, &existed);
  if (!in) return platform::files::Fail(error);
  struct stat st {};
  fstat(in->fd(), &st);
  FileObject* out = platform::files::OpenFile(to, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS,
                                              0, &error, &existed);
  if (!out) {
    delete in;
    return platform::files::Fail(error);
  }
  const bool ok = platform::files::CopyContents(in->fd(), out->fd(), &error);
  if (ok) fchmod(out->fd(), st.st_mode & 07777);
  const std::string target = out->path();
  delete in;
  delete out;
  if (!ok) {
    unlink(target.c_str());
    return platform::files::Fail(error);
  }
  return TRUE;
}

BOOL CreateDirectoryA(const char* path, void* security) {
  if (!path || !*path) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  if (mkdir(path, 0777) == 0) return TRUE;
  if (errno == EEXIST) return platform::files::Fail(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT || errno == ENOTDIR) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  return platform::files::Fail(platform::ErrorFromErrno(errno));
}

BOOL RemoveDirectoryA(const char* path) {
  if (!path || !*path) return platform::files::Fail(ERROR_PATH_NOT_FOUND);
  if (rmdir(path) == 0) return TRUE;
  if (errno == ENOTEMPTY || errno == EEXIST) return platform::files::Fail(ERROR_DIR_NOT_EMPTY);
  if (errno == ENOTDIR) return platform::files::Fail(ERROR_DIRECTORY);
  if (errno == ENOENT) return platform::files::Fail(platform::files::MissingError(path));
  return platform::files::Fail(platform::ErrorFromErrno(errno));
}

DWORD GetFileAttributesA(const char* path) {
  struct stat st {};
  if (!path || !*path) {
    platform::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(path, &st) != 0) {
    platform::SetLastError(platform::files::ErrorOfOpen(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  return platform::files::AttributesOf(st, platform::files::LastComponent(path));
}
