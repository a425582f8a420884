// Access to the resource library (libmarlin3.so, loaded as "marlin3.dll" through the module layer):
// strings, dialog templates and icons by number, in the user's language with English as fallback.
// Callers: the application framework layer, the ui layer and the system's own code through them.
// The tables are read through the library's exported m3res_ functions on every call, so a
// handle stays the only state; a library of another format version counts as holding nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/resource/ResourceFormat.h"

// Win32 shape: copies the string into buffer (cut to bufferMax - 1 characters, always terminated) and
// returns its length; 0 when the string is missing (the last error is then ERROR_RESOURCE_NAME_NOT_FOUND
// 1814). bufferMax 0 is refused.
// Texts are UTF-8, so a cut never splits a character: it ends before the first byte of the character
// that does not fit. An empty string counts as missing, as in a Win32 string table. A null buffer or
// a bufferMax below 1 gives 0 with ERROR_INVALID_PARAMETER; a null module holds no strings (1814).
int LoadStringA(HMODULE module, UINT id, char* buffer, int bufferMax);

namespace platform::resource {

// Win32's ERROR_RESOURCE_NAME_NOT_FOUND, the last error of a failed string load.
inline constexpr DWORD kErrorResourceNameNotFound = 1814;

// The Windows language identifier of the user's language, from LC_ALL / LC_MESSAGES / LANG (the first
// one set and not empty, as POSIX orders them); 1033 when unknown.
WORD UserLanguage();

// The Windows language identifier of a POSIX locale name such as "de_DE.UTF-8", "pt_BR" or "fr";
// 1033 for "C", "POSIX", an empty or null text and languages the table does not know.
WORD LanguageFromLocale(const char* locale);

// How well a text in language `have` serves a user of `want`: 4 the same identifier, 3 the same
// language of another country (2 for Chinese of the other script), 1 English, 0 not at all.
int LanguageMatch(WORD have, WORD want);

// The string in the user's language (the same identifier, else the same language of another
// country), else English, else the first language the library has for it. False (and an empty
// text) when the library lacks it.
bool LoadString(HMODULE module, UINT id, std::string& text);

// The same with an explicit language instead of the user's (tests, the message review).
bool LoadString(HMODULE module, UINT id, WORD language, std::string& text);

// Null when the library has no such template or icon. A template comes in the user's language (or
// the one given) when the library has it so, else in English.
const M3ResDialog* FindDialog(HMODULE module, UINT id);
const M3ResDialog* FindDialog(HMODULE module, UINT id, WORD language);
const M3ResIcon* FindIcon(HMODULE module, UINT id);

// The numbers of every dialog template the library holds, ascending; empty for a null module.
std::vector<UINT> DialogIds(HMODULE module);

}  // namespace platform::resource
