// The resource strings the main dialog and the wizard load, and the small helpers their pages share:
// loading a string with the numbered failure line, the wizard's message box (caption string 176) and
// trimming blanks.
#pragma once

#include <string>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/MessageBox.h"

namespace qs {

enum : UINT {
  kIdsOneTimeEntry = 85,
  kIdsDefaultQs = 89,
  kIdsOneTimeButton = 92,
  kIdsScanButton = 95,
  kIdsAboutItem = 101,
  kIdsWizardCaption = 102,
  kIdsScratchQs = 104,
  kIdsFinishSave = 106,
  kIdsFinishDelete = 107,
  kIdsDeviceUpdateFailed = 108,
  kIdsWizardMsgCaption = 176,
  kIdsAppMissing = 177,
  kIdsNoSelection = 179,
  kIdsQsNameEmpty = 180,
  kIdsDevNameEmpty = 181,
  kIdsSizeTooSmall = 182,
  kIdsOutPathBad = 183,
  kIdsFolderEmpty = 184,
  kIdsQsNameExists = 198,
  kIdsOverwrite = 219,
  kIdsSetupTip = 228,
  kIdsTitleScanReg = 230,
  kIdsDevNameDup = 231,
  kIdsDevNameInvalid = 232,
  kIdsHeightTooBig = 252,
  kIdsWidthTooBig = 253,
  kIdsMailNeedsToSubject = 254,
};

// A string of the resource library; a failure writes the numbered "LoadString failed" error and gives "".
inline std::string LoadStr(UINT id, DebugTrace& trace, int place) {
  std::string text;
  if (!AfxLoadString(id, text)) trace.Error(DebugTrace::Numbered(place, "LoadString failed"));
  return text;
}

// The wizard's message box: caption string 176.
inline int WizardMessage(const std::string& text, UINT type = MB_OK) {
  std::string caption;
  AfxLoadString(kIdsWizardMsgCaption, caption);
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
}

inline int WizardMessage(UINT id, DebugTrace& trace, int place, UINT type = MB_OK) {
  return WizardMessage(LoadStr(id, trace, place), type);
}

// "%1" and "%2" of a resource string replaced by the arguments.
inline std::string Format2(UINT id, const std::string& a, const std::string& b, DebugTrace& trace,
                           int place) {
  std::string text = LoadStr(id, trace, place);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
      out += text[i + 1] == '1' ? a : b;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Label strings of the paper codes 1 to 28 (29 is the custom size).
inline constexpr UINT kPaperLabels[28] = {136, 137, 135, 126, 125, 124, 130, 133, 132, 131,
                                          134, 127, 128, 129, 138, 139, 123, 122, 140, 257,
                                          258, 259, 260, 261, 262, 263, 264, 265};
inline constexpr int kPaperCustom = 29;

inline UINT PaperLabel(int code) {
  return code >= 1 && code <= 28 ? kPaperLabels[code - 1] : 0;
}

inline std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace qs
