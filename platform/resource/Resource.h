// Access to the resource library (libmarlin3.so, loaded as "marlin3.dll" through the module layer):
// strings, dialog templates and icons by number, in the user's language with English as fallback.
// Callers: the application framework layer, the ui layer and the system's own code through them.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/resource/ResourceFormat.h"

#include <string>

// Win32 shape: copies the string into buffer (cut to bufferMax - 1 characters, always terminated) and
// returns its length; 0 when the string is missing (the last error is then ERROR_RESOURCE_NAME_NOT_FOUND
// 1814). bufferMax 0 is refused.
int LoadStringA(HMODULE module, UINT id, char* buffer, int bufferMax);

namespace platform::resource {

// The Windows language identifier of the user's language, from LC_MESSAGES / LANG (1033 when unknown).
WORD UserLanguage();

// The string in the user's language, else English. False (and an empty text) when the library lacks it.
bool LoadString(HMODULE module, UINT id, std::string& text);

// Null when the library has no such template or icon.
const M3ResDialog* FindDialog(HMODULE module, UINT id);
const M3ResIcon* FindIcon(HMODULE module, UINT id);

}  // namespace platform::resource
