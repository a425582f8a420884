// The host's own texts: the wizard's button row and the message boxes' buttons, which on Windows come
// from the system's common controls in the user's language rather than from the program's resources.
// Ours come in the languages of the resource library, chosen as its strings are (English otherwise).
#pragma once

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace platform::ui {

enum class Stock { kBack, kNext, kFinish, kCancel, kHelp, kOk, kYes, kNo, kAbort, kRetry, kIgnore };

// With the access key marked by "&", as a template's texts.
std::string StockText(Stock which, WORD language);
std::string StockText(Stock which);  // in the user's language

// The languages the table holds, English first.
std::vector<WORD> StockLanguages();

}  // namespace platform::ui
