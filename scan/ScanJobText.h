// Resource string numbers of the scan job and the convert task, and the two small helpers they share:
// a string that logs its failed load, and the exclamation box with the scan caption (never shown when
// every hide bit is set).
#pragma once

#include <string>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/MessageBox.h"
#include "scan/ScanNotice.h"
#include "settings/SettingsSchema.h"

namespace scanjob {

struct Ids {
  enum : UINT {
    kOcrQuickSet = 90,
    kTitleScan = 145,
    kCompanyName = 147,
    kLibrariesMissing = 191,
    kScanCaption = 193,
    kLowResources = 199,
    kNoSource = 200,
    kAcquireFailed = 201,
    kOcrDevDest = 213,
    kNoMail = 215,
    kAppLaunchFailed = 216,
    kOverwrite = 219,
    kOverwriteCaption = 220,
    kConvertFailed = 221,
    kTitleScanReg = 230,
    kCreateFolder = 245,
    kNoMailProgram = 608,
    kMailCause = 609,
    kScannerMissing = 610,
    kOcrCannotStart = 310,
    kAllPagesBlank = 320,
  };
};

// A resource string; a failed load is the numbered "LoadString failed" error and gives "".
inline std::string LoadText(UINT id, DebugTrace& trace, int place) {
  std::string text;
  if (!AfxLoadString(id, text)) trace.Error(DebugTrace::Numbered(place, "LoadString failed"));
  return text;
}

// Not with every hide bit set: such a run has nobody to answer a box, and its log line says it all.
// The text is also what the job's failure notice says.
inline void ShowScanBox(int hide, const std::string& text, const std::string& caption) {
  const std::string shown = Outcome().strCause.empty() ? text : text + "\n\n" + Outcome().strCause;
  Outcome().strFailure = shown;
  if (hide == settings::kHideAll) return;
  MessageBoxA(nullptr, shown.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace scanjob
