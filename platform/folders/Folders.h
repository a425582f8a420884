// Where things live for the user and this computer, in Win32 shapes: the temporary folder, the shell's
// special folders (documents, the Windows folder), the computer name, the locale's country code and the
// user's language identifier. Callers: the log placement, path utilities (temporary and data folders,
// PC name, destination prefix), the wizard's paper-size choice, the resource-language choice.
// docs/platform.md "Conventions": temporary folder $TMPDIR else "/tmp/"; documents as `xdg-user-dir
// DOCUMENTS` (read from user-dirs.dirs, no process is spawned) else ~/Documents; the Windows folder /etc.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"
#include "platform/folders/XdgFolders.h"

// $TMPDIR (when set and not empty) else "/tmp/", always ending with "/". Returns the length without the
// terminating zero; when size is too small, the size needed including it (and buf is not written).
DWORD GetTempPathA(DWORD size, char* buf);

enum class SpecialFolder {
  Personal,  // the user's documents folder
  Windows,   // the Windows folder: /etc
};

// Like SHGetSpecialFolderPath: the folder without a trailing "/" (callers add the separator, so the
// Windows folder becomes "/etc/"). With create, a missing folder is created (with its parents); without
// it, or when creation fails, a missing folder gives false.
bool GetSpecialFolder(SpecialFolder which, std::string& path, bool create);

// gethostname as it is (not upper-cased or cut to 15 characters like a NetBIOS name). *size in: the
// buffer's size; out: the length without the zero, or on a too-small buffer FALSE with
// ERROR_BUFFER_OVERFLOW and the size needed including the zero.
BOOL GetComputerNameA(char* buf, DWORD* size);

// The international telephone prefix of the LC_TELEPHONE locale (1 for en_US, 44 for en_GB, 49 for de_DE);
// 1 when the locale is unknown or has none. The process's own locale settings are not changed.
int GetLocaleCountryCode();

// The Windows language identifier of the user's messages language (LC_ALL, else LC_MESSAGES, else LANG),
// among the 20 languages of string 3000: cs 1029, da 1030, de 1031, en 1033, es 3082, fi 1035, fr 1036,
// hu 1038, it 1040, ko 1042, nl 1043, nb/nn/no 1044, pl 1045, pt 1046, ru 1049, sv 1053, th 1054, tr 1055,
// zh 2052 (zh_TW, zh_HK, zh_MO and Hant: 1028). 1033 when unknown.
WORD GetUserDefaultLangID();

namespace platform::folders {

// The documents folder as xdg-user-dir would print it, read from userDirsFile (for tests; null: the
// user's ${XDG_CONFIG_HOME:-~/.config}/user-dirs.dirs); ~/Documents when it does not say.
std::string DocumentsFolder(const char* userDirsFile = nullptr);

// The Windows folder without its final "/": /etc, or $MARLIN3_WINDOWS_DIR when it is an absolute path
// (tests and demos place the OCR application's readiris.ini there).
std::string WindowsFolder();

// The language identifier of a locale name such as "de_DE.UTF-8" (1033 when unknown).
WORD LangIdOfLocale(const std::string& locale);

// Makes folder (no final "/") with mode 0700 and checks it with lstat: a folder, not a link, owned by
// this user. A folder of the user's own that is open to others is narrowed to 0700. Anything else there
// (another user's folder, a link, a file, a FIFO) is refused: false, and *why names the cause.
bool MakePrivateFolder(const std::string& folder, std::string* why = nullptr);

// A new private folder "<prefix>XXXXXX" (mkdtemp, 0700), with its final "/"; empty when none can be made.
std::string NewPrivateFolder(const std::string& prefix);

// Removes the regular files (and links) of this user whose names start with prefix from folder (no final
// "/") when they were last written more than maxAgeSeconds ago; the number removed. Nothing is followed.
int RemoveOldFiles(const std::string& folder, const std::string& prefix, long maxAgeSeconds);

// Where marlin3 writes below the system's temporary folder, ending with "/": that folder itself when it
// is already this user's and nobody else can create names in it (owned by the user, no group or other
// write), else "<tmp>marlin3-<uid>/" (MakePrivateFolder). When that name is refused, *refusal says why
// and a new private folder "<tmp>marlin3-<uid>-XXXXXX/" is used, the same one for the rest of the
// process. Empty when no private folder can be had (*refusal says why). A $TMPDIR too long for a path
// counts as "/tmp/".
std::string PrivateTempFolder(std::string* refusal = nullptr);

}  // namespace platform::folders
