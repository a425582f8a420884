// Windows base types, error codes and the thread's last error, as the system's own code expects them.
// Callers: every platform layer and the system's own code. The layers set the last error exactly
// where the Windows call they stand in for would; FormatMessageText gives the system text of a code.
#pragma once

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using HMODULE = void*;  // a dlopen handle
using HWND = void*;     // a window of the ui layer, or null
using REGSAM = DWORD;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Win32 error codes the layers report (winerror.h values).
enum : LONG {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DATA = 13,
  ERROR_OUTOFMEMORY = 14,
  ERROR_NOT_SAME_DEVICE = 17,
  ERROR_NO_MORE_FILES = 18,
  ERROR_BAD_LENGTH = 24,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_HANDLE_EOF = 38,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_BROKEN_PIPE = 109,
  ERROR_BUFFER_OVERFLOW = 111,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_MOD_NOT_FOUND = 126,
  ERROR_PROC_NOT_FOUND = 127,
  ERROR_NEGATIVE_SEEK = 131,
  ERROR_SEEK_ON_DEVICE = 132,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_BAD_PATHNAME = 161,
  ERROR_BUSY = 170,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_BAD_EXE_FORMAT = 193,
  ERROR_ENVVAR_NOT_FOUND = 203,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_FILE_TOO_LARGE = 223,
  ERROR_MORE_DATA = 234,
  ERROR_DIRECTORY = 267,
  ERROR_NO_MORE_ITEMS = 259,
  ERROR_BADDB = 1009,
  ERROR_REGISTRY_IO_FAILED = 1016,
  ERROR_KEY_DELETED = 1018,
  ERROR_CANCELLED = 1223,
  ERROR_TIMEOUT = 1460,
  ERROR_CANT_RESOLVE_FILENAME = 1921,
};

namespace platform {

// The calling thread's last error, as GetLastError/SetLastError keep it.
DWORD GetLastError();
void SetLastError(DWORD code);

// Maps an errno value to the Win32 code a Windows call would have set.
DWORD ErrorFromErrno(int err);

// The system message text of a code, as FormatMessage gives it (ends with "\r\n" like Windows).
std::string FormatMessageText(DWORD code);

}  // namespace platform
