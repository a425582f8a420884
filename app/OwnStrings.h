// OwnStrings: the string table the program carries itself, for the one message it must show when the
// resource library is missing (string 3000, "resource library not found - reinstall"). Twenty language
// variants; the user's language is chosen, then its primary language, then English.
// Callers: ScanApp::LoadResourceDll.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"

class OwnStrings {
 public:
  static constexpr UINT kIdsNoResources = 3000;

  // The string in the user's language (GetUserDefaultLangID). False and an empty text for other ids.
  static bool Load(UINT id, std::string& text);
  // The same for a given Windows language identifier.
  static bool Load(UINT id, WORD language, std::string& text);
};
