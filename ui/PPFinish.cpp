#include "ui/PPFinish.h"

#include <cstdio>
#include <cstring>

#include "app/FileTypeTable.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/UiTypes.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {

constexpr int kFirstStatic = 1028;
constexpr int kLines = 14;
constexpr size_t kLineWidth = 60;
constexpr const char* kUserDefined = "USER DEFINED STRING";

enum : UINT {
  kDeleteLine = 112,
  kFirstLine = 148,
  kLabelDest = 149,
  kDestFile = 150,
  kDestMail = 151,
  kDestApp = 152,
  kLabelName = 154,
  kLabelDevice = 155,
  kYes = 158,
  kNo = 159,
  kLabelRes = 160,
  kLabelDepth = 161,
  kLabelPaper = 162,
  kUnitMm = 163,
  kDpi = 164,
  kLabelNoMailWindow = 167,
  kLabelApp = 169,
  kLabelNote = 170,
  kLabelSubject = 171,
  kLabelTo = 172,
  kLabelOutFile = 173,
  kLabelType = 174,
  kLabelDir = 175,
  kLabelWidth = 187,
  kLabelHeight = 188,
  kValueUnit = 189,
  kScannerSettings = 190,
  kYesWithName = 204,
  kLine = 205,
  kResValue = 206,
  kDepth1 = 207,
  kDepth8 = 208,
  kDepth24 = 209,
  kUnitInches = 142,
};

// Call counter of the review, for the program's run.
int g_reviewCalls = 0;

std::string TypeLabel(int type, DebugTrace& trace) {
  for (const FileTypeEntry& entry : kFileTypeTable)
    if (entry.nType == type) return qs::LoadStr(entry.nDescString, trace, __LINE__);
  return std::to_string(type);
}

}  // namespace

BOOL PPFinish::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  EnableToolTips(TRUE);
  return TRUE;
}

BOOL PPFinish::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
  if (wiz->m_nMode == DeviceDestinations) {
    wiz->EndDialog(kResultDeviceDestinations);
    return CPropertyPage::OnSetActive();
  }
  if (wiz->m_nMode == Review) {
    ShowErrorMessages();
  } else {
    std::string text;
    wiz->GetFinishBtnText(text);
    wiz->SetFinishText(text);
    GenerateStrings();
    DisplayStrings();
  }
  return CPropertyPage::OnSetActive();
}

void PPFinish::GenerateStrings() {
  DebugTrace trace("GenerateStrings", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  const bool review = wiz->m_nMode == Review;
  auto value = [review](const std::string& v) { return review && v.empty() ? std::string(kUserDefined) : v; };
  auto S = [&trace](UINT id) { return qs::LoadStr(id, trace, __LINE__); };
  auto line = [&](UINT label, const std::string& v) {
    m_Summary.push_back(qs::Format2(kLine, S(label), value(v), trace, __LINE__));
  };
  m_Summary.clear();
  if (wiz->m_nMode == RemoveQs) {
    m_Summary.push_back(S(kDeleteLine));
    m_Summary.push_back(value(wiz->m_strQsName));
    return;
  }
  m_Summary.push_back(S(kFirstLine));
  const bool named = wiz->m_nMode == NewQs || wiz->m_nMode == ModifyQs;
  if (named) line(kLabelName, wiz->m_strQsName);
  line(kLabelDest, S(wiz->m_nDest == 1 ? kDestMail : wiz->m_nDest == 2 ? kDestApp : kDestFile));
  if (named && wiz->ScanToAvailable()) {
    line(kLabelDevice, wiz->m_bAddToDevice
                           ? qs::Format2(kYesWithName, S(kYes), value(wiz->m_strDevDest), trace, __LINE__)
                           : S(kNo));
  }
  if (wiz->UseScannerSettings) {
    m_Summary.push_back(S(kScannerSettings));
  } else {
    line(kLabelRes, qs::Format2(kResValue, std::to_string(wiz->m_nRes), S(kDpi), trace, __LINE__));
    line(kLabelDepth, S(wiz->m_nBitDepth == 1 ? kDepth1 : wiz->m_nBitDepth == 8 ? kDepth8 : kDepth24));
    if (wiz->m_nInX != 0 || wiz->m_nInY != 0) {
      const std::string unit = S(wiz->m_bIsMetric ? kUnitMm : kUnitInches);
      const double factor = wiz->m_bIsMetric ? 56.7 : 1440.0;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%5.2f", wiz->m_nInX / factor);
      line(kLabelWidth, qs::Format2(kValueUnit, buf, unit, trace, __LINE__));
      std::snprintf(buf, sizeof buf, "%5.2f", wiz->m_nInY / factor);
      line(kLabelHeight, qs::Format2(kValueUnit, buf, unit, trace, __LINE__));
    } else {
      const UINT paper = qs::PaperLabel(wiz->m_nPaperSize);
      line(kLabelPaper, paper != 0 ? S(paper) : std::to_string(wiz->m_nPaperSize));
    }
  }
  const std::string type = TypeLabel(wiz->m_nType, trace);
  if (wiz->m_nDest == 2) {
    line(kLabelApp, wiz->m_strAppExe);
    line(kLabelType, type);
  } else if (wiz->m_nDest == 1) {
    line(kLabelNoMailWindow, S(wiz->ShowMailDialog ? kNo : kYes));
    line(kLabelType, type);
    line(kLabelNote, wiz->m_strNote);
    line(kLabelSubject, wiz->m_strSubject);
    line(kLabelTo, wiz->m_strTo);
  } else if (!wiz->m_strOutFile.empty()) {
    line(kLabelOutFile, wiz->m_strOutFile);
  } else {
    line(kLabelType, type);
    line(kLabelDir, wiz->m_strDir);
  }
}

void PPFinish::DisplayStrings() {
  DebugTrace trace("DisplayStrings", __FILE__);
  if (m_Summary.size() > kLines)
    trace.WriteFormat("%d strings but only 14 allowed", static_cast<long long>(m_Summary.size()));
  // Statics beyond the summary are emptied, so a shorter summary shown again leaves nothing behind.
  for (int i = 0; i < kLines; ++i) {
    std::string text = i < static_cast<int>(m_Summary.size()) ? m_Summary[i] : std::string();
    if (text.size() > kLineWidth) text = text.substr(0, kLineWidth) + "...";
    SetDlgItemText(kFirstStatic + i, text);
  }
}

BOOL PPFinish::OnToolTipText(int id, char* buffer) {
  const int line = id - kFirstStatic;
  if (line < 0 || line >= kLines || line >= static_cast<int>(m_Summary.size())) return FALSE;
  const std::string shown = GetDlgItemText(id);
  if (shown.size() < 3 || shown.compare(shown.size() - 3, 3, "...") != 0) return FALSE;
  std::strncpy(buffer, m_Summary[line].c_str(), kToolTipBufferSize - 1);
  buffer[kToolTipBufferSize - 1] = '\0';
  return TRUE;
}

bool PPFinish::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  ++g_reviewCalls;
  std::string text;
  const WizardMode saved = wiz->m_nMode;
  if (g_reviewCalls == 1) {
    AfxLoadString(qs::kIdsFinishDelete, text);
    wiz->m_nMode = RemoveQs;
  } else if (g_reviewCalls == 2) {
    AfxLoadString(qs::kIdsFinishSave, text);
    wiz->m_nMode = NewQs;
  } else if (g_reviewCalls == 3) {
    AfxLoadString(qs::kIdsScanButton, text);
    wiz->m_nMode = NewQs;
  } else {
    return false;
  }
  wiz->SetFinishText(text);
  GenerateStrings();
  wiz->m_nMode = saved;
  DisplayStrings();
  return true;
}

BOOL PPFinish::OnWizardFinish() {
  DebugTrace trace("OnWizardFinish", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == RemoveQs) {
    wiz->DeleteQs(wiz->m_strQsName);
  } else if (wiz->m_nMode == Review) {
    if (ShowErrorMessages()) return FALSE;
  } else {
    wiz->SaveSettings();
  }
  return TRUE;
}

LRESULT PPFinish::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageFinish);
}
