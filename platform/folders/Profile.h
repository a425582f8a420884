// The Windows folder, the current folder and private profile (.ini) files in Win32 shapes. Callers: the
// OCR application link (its readiris.ini). The Windows folder is /etc (docs/platform.md); a profile file
// named without a folder is looked for there, as Windows does. Sections and keys compare ignoring case;
// values lose the blanks around them and one pair of enclosing double quotes. A file larger than 1 MiB
// is not read (the default is returned), so a hostile file cannot hold the caller.
#pragma once

#include "platform/base/WinTypes.h"

// The Windows folder (platform::folders::WindowsFolder: /etc) without the final "/". Returns the length; when size is too small, the size needed.
UINT GetWindowsDirectoryA(char* buf, UINT size);

// The process's current folder (without a final "/" except for "/"). Returns the length; when size is
// too small, the size needed including the zero; 0 on failure with the last error set.
DWORD GetCurrentDirectoryA(DWORD size, char* buf);

// The value of key in [section] of file, else defaultValue; copied cut to size - 1 characters and
// zero-terminated. Returns the number of characters copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file);
