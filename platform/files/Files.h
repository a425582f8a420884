// Files and folders in their Win32 shapes: CreateFileA with Windows' dispositions and sharing, ReadFile,
// WriteFile, moves, copies, attributes, FindFirstFile wildcards and the logical drives.
// Callers: the diagnostic log (shared-for-reading log file), path utilities, scan delivery, the directory
// browse dialog. Paths use "/" (docs/platform.md "Conventions"); no backslash is converted. Every
// failure sets the last error to the code Windows would give. FILE_SHARE_* is honoured between handles of
// this and other processes through advisory open-file-description locks (docs/platform.md "Sharing");
// programs that do not use this layer are not stopped by it. All descriptors are close-on-exec, so no handle
// leaks into a child.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/WinTypes.h"

enum : DWORD {
  GENERIC_READ = 0x80000000u,
  GENERIC_WRITE = 0x40000000u,

  FILE_SHARE_READ = 0x1,
  FILE_SHARE_WRITE = 0x2,
  FILE_SHARE_DELETE = 0x4,

  CREATE_NEW = 1,
  CREATE_ALWAYS = 2,
  OPEN_EXISTING = 3,
  OPEN_ALWAYS = 4,
  TRUNCATE_EXISTING = 5,

  FILE_ATTRIBUTE_READONLY = 0x1,
  FILE_ATTRIBUTE_HIDDEN = 0x2,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_ARCHIVE = 0x20,
  FILE_ATTRIBUTE_DEVICE = 0x40,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu,

  FILE_BEGIN = 0,
  FILE_CURRENT = 1,
  FILE_END = 2,
  INVALID_SET_FILE_POINTER = 0xFFFFFFFFu,
  INVALID_FILE_SIZE = 0xFFFFFFFFu,

  MOVEFILE_REPLACE_EXISTING = 0x1,
  MOVEFILE_COPY_ALLOWED = 0x2,
  MOVEFILE_WRITE_THROUGH = 0x8,
};

// CreateFileA flags beside the attributes.
enum : DWORD {
  FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u,  // lets a folder be opened (for its attributes)
  FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u,   // the file is removed when its handle is closed
};

constexpr DWORD MAX_PATH = 260;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed with the last error ERROR_ALREADY_EXISTS;
// CREATE_NEW on one fails with ERROR_FILE_EXISTS; a missing folder gives ERROR_PATH_NOT_FOUND; an open
// that collides with another handle's sharing gives ERROR_SHARING_VIOLATION (and truncates nothing).
// A folder cannot be opened (ERROR_ACCESS_DENIED). FILE_ATTRIBUTE_READONLY on a new file makes it 0444.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// At the end of the file: TRUE with *read == 0. A handle opened without GENERIC_READ: ERROR_ACCESS_DENIED.
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
// Writes all bytes or fails: ERROR_DISK_FULL when the file system is full (also /dev/full), ERROR_WRITE_FAULT
// when the device stops taking bytes; *written tells how many went out.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);

// Refuses a read-only file (ERROR_ACCESS_DENIED, as Windows does) and a file another handle holds open
// without FILE_SHARE_DELETE (ERROR_SHARING_VIOLATION).
BOOL DeleteFileA(const char* name);
// Fails with ERROR_ALREADY_EXISTS when the target exists. Moves across file systems by copying.
BOOL MoveFileA(const char* from, const char* to);
// MOVEFILE_REPLACE_EXISTING replaces an existing file (not a folder). Files always move across file
// systems (by copy and delete), with or without MOVEFILE_COPY_ALLOWED: on Windows temporary and
// documents folders share a volume, here /tmp is often a separate tmpfs.
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
// failIfExists: ERROR_FILE_EXISTS when the target exists. Copies the permission bits.
BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists);
// ERROR_ALREADY_EXISTS when it exists, ERROR_PATH_NOT_FOUND when the parent is missing.
BOOL CreateDirectoryA(const char* path, void* security);
// ERROR_DIR_NOT_EMPTY when it has entries.
BOOL RemoveDirectoryA(const char* path);
// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_HIDDEN (name starts with "."), FILE_ATTRIBUTE_READONLY (a file
// without the owner's write bit), FILE_ATTRIBUTE_DEVICE (neither a regular file nor a folder: a FIFO,
// socket or device, whose open may block or never end), else FILE_ATTRIBUTE_NORMAL;
// INVALID_FILE_ATTRIBUTES when missing.
DWORD GetFileAttributesA(const char* path);

// "folder/pattern" with '*' and '?' (ignoring case; "*.*" matches every name). "." and ".." are reported
// first, except in the root of a volume (as Windows omits them in a drive's root); the other names follow
// in case-insensitive order. A pattern without wildcards finds that one entry, spelled exactly (as
// CreateFileA sees it). No match: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND; a missing folder:
// ERROR_PATH_NOT_FOUND. Names longer than 259 bytes are skipped. FindNextFileA gives ERROR_NO_MORE_FILES at
// the end.
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// The logical drives: "/" and the mounted volumes a user expects (docs/platform.md "Logical drives"),
// each ending with "/", separated by zeros and ended by a second zero. Returns the length without the
// final zero, or the size needed (final zero included) when size is too small.
DWORD GetLogicalDriveStringsA(DWORD size, char* buffer);

namespace platform::files {

// Test seam for WriteFile faults: the hook sees the file's path and the byte count and returns an
// error (ERROR_SUCCESS: write normally) plus how many bytes to write first (a short write).
struct WriteFault {
  DWORD error = ERROR_SUCCESS;
  DWORD bytesBeforeFailure = 0;
};
using WriteFaultHook = std::function<WriteFault(const std::string& path, DWORD toWrite)>;
void SetWriteFaultHook(WriteFaultHook hook);

// CreateFileA for a file only this user may hold (the log, files in the temporary folders): the name
// is never followed when it is a link, a FIFO, device or folder in its place is refused without being
// opened for use (no open blocks), and so is another user's file or one with a second hard link; an
// existing file of the user's is narrowed to 0600. Refusals give ERROR_ACCESS_DENIED.
HANDLE CreatePrivateFileA(const char* name, DWORD access, DWORD share, DWORD disposition);

// Whether the sharing check of this handle's open found its short lock busy past the bound (another
// program held it) and went on without it (docs/platform.md "Sharing").
bool LockWaitedOut(HANDLE handle);

// Whether both names reach the same file (device and inode); false when either is missing.
bool SameFile(const char* a, const char* b);

// The logical drives as a list (what GetLogicalDriveStringsA packs); mountsFile is for tests.
std::vector<std::string> LogicalDrives(const char* mountsFile = "/proc/self/mounts");

}  // namespace platform::files
