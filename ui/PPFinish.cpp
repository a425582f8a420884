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

// The summary's lines, one kind of line each; in review an empty value reads "USER DEFINED STRING".
class SummaryLines {
 public:
  SummaryLines(std::vector<std::string>& out, bool review, DebugTrace& trace)
      : m_out(out), m_bReview(review), m_trace(trace) {}
  std::string S(UINT id) { return qs::LoadStr(id, m_trace, __LINE__); }
  std::string Value(const std::string& v) const {
    return m_bReview && v.empty() ? std::string(kUserDefined) : v;
  }
  void Plain(const std::string& text) { m_out.push_back(text); }
  void Line(UINT label, const std::string& v) {
    m_out.push_back(qs::Format2(kLine, S(label), Value(v), m_trace, __LINE__));
  }
  void Dest(int dest) { Line(kLabelDest, S(dest == 1 ? kDestMail : dest == 2 ? kDestApp : kDestFile)); }
  void Device(bool add, const std::string& devDest) {
    Line(kLabelDevice, add ? qs::Format2(kYesWithName, S(kYes), Value(devDest), m_trace, __LINE__) : S(kNo));
  }
  void Res(int res) {
    Line(kLabelRes, qs::Format2(kResValue, std::to_string(res), S(kDpi), m_trace, __LINE__));
  }
  void Depth(int depth) { Line(kLabelDepth, S(depth == 1 ? kDepth1 : depth == 8 ? kDepth8 : kDepth24)); }
  void CustomSize(int inX, int inY, bool metric) {
    const std::string unit = S(metric ? kUnitMm : kUnitInches);
    const double factor = metric ? 56.7 : 1440.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%5.2f", inX / factor);
    Line(kLabelWidth, qs::Format2(kValueUnit, buf, unit, m_trace, __LINE__));
    std::snprintf(buf, sizeof buf, "%5.2f", inY / factor);
    Line(kLabelHeight, qs::Format2(kValueUnit, buf, unit, m_trace, __LINE__));
  }
  void Paper(int code) {
    const UINT paper = qs::PaperLabel(code);
    Line(kLabelPaper, paper != 0 ? S(paper) : std::to_string(code));
  }
  void App(const std::string& exe, const std::string& type) {
    Line(kLabelApp, exe);
    Line(kLabelType, type);
  }
  void MailWindow(bool shown) { Line(kLabelNoMailWindow, S(shown ? kNo : kYes)); }
  void MailTexts(const CQsWizard& wiz) {
    Line(kLabelNote, wiz.m_strNote);
    Line(kLabelSubject, wiz.m_strSubject);
    Line(kLabelTo, wiz.m_strTo);
  }
  void OutFile(const std::string& path) { Line(kLabelOutFile, path); }
  void Folder(const std::string& type, const std::string& dir) {
    Line(kLabelType, type);
    Line(kLabelDir, dir);
  }

 private:
  std::vector<std::string>& m_out;
  bool m_bReview;
  DebugTrace& m_trace;
};

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
  m_Summary.clear();
  SummaryLines lines(m_Summary, wiz->m_nMode == Review, trace);
  if (wiz->m_nMode == RemoveQs) {
    lines.Plain(lines.S(kDeleteLine));
    lines.Plain(lines.Value(wiz->m_strQsName));
    return;
  }
  lines.Plain(lines.S(kFirstLine));
  const bool named = wiz->m_nMode == NewQs || wiz->m_nMode == ModifyQs;
  if (named) lines.Line(kLabelName, wiz->m_strQsName);
  lines.Dest(wiz->m_nDest);
  if (named && wiz->ScanToAvailable()) lines.Device(wiz->m_bAddToDevice, wiz->m_strDevDest);
  if (wiz->UseScannerSettings) {
    lines.Plain(lines.S(kScannerSettings));
  } else {
    lines.Res(wiz->m_nRes);
    lines.Depth(wiz->m_nBitDepth);
    if (wiz->m_nInX != 0 || wiz->m_nInY != 0)
      lines.CustomSize(wiz->m_nInX, wiz->m_nInY, wiz->m_bIsMetric);
    else
      lines.Paper(wiz->m_nPaperSize);
  }
  const std::string type = TypeLabel(wiz->m_nType, trace);
  if (wiz->m_nDest == 2) {
    lines.App(wiz->m_strAppExe, type);
  } else if (wiz->m_nDest == 1) {
    lines.MailWindow(wiz->ShowMailDialog);
    lines.Line(kLabelType, type);
    lines.MailTexts(*wiz);
  } else if (!wiz->m_strOutFile.empty()) {
    lines.OutFile(wiz->m_strOutFile);
  } else {
    lines.Folder(type, wiz->m_strDir);
  }
}

// The review's summaries, by call: 1 the delete summary, 2 the new or modify summary with every variant
// of its lines (14, the page's capacity), 3 the destinations' detail lines with their variants and the
// line for the scanner's own settings, which no other call shows.
void PPFinish::GenerateReviewStrings(int call) {
  DebugTrace trace("GenerateReviewStrings", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  m_Summary.clear();
  SummaryLines lines(m_Summary, true, trace);
  if (call == 1) {
    lines.Plain(lines.S(kDeleteLine));
    lines.Plain(lines.Value(wiz->m_strQsName));
    return;
  }
  if (call == 2) {
    lines.Plain(lines.S(kFirstLine));
    lines.Line(kLabelName, wiz->m_strQsName);
    for (int dest : {0, 1, 2}) lines.Dest(dest);
    lines.Device(true, wiz->m_strDevDest);
    lines.Device(false, wiz->m_strDevDest);
    lines.Res(wiz->m_nRes);
    for (int depth : {1, 8, 24}) lines.Depth(depth);
    lines.CustomSize(wiz->m_nInX, wiz->m_nInY, wiz->m_bIsMetric);
    lines.Paper(wiz->m_nPaperSize);
    return;
  }
  const std::string type = TypeLabel(wiz->m_nType, trace);
  lines.Plain(lines.S(kScannerSettings));
  lines.App(wiz->m_strAppExe, type);
  lines.MailWindow(true);
  lines.MailWindow(false);
  lines.Line(kLabelType, type);
  lines.MailTexts(*wiz);
  lines.OutFile(wiz->m_strOutFile);
  lines.Folder(type, wiz->m_strDir);
}

// A summary line as its static shows it: its first line (a Note may hold several), at most kLineWidth
// characters (a UTF-8 character is never cut), and "..." when anything is left out, so the tool tip
// offers the whole line.
std::string PPFinish::ShownLine(const std::string& line) {
  const size_t lineEnd = line.find_first_of("\r\n");
  const std::string first = line.substr(0, lineEnd);
  size_t at = 0;
  for (size_t chars = 0; at < first.size() && chars < kLineWidth; ++chars) {
    ++at;
    while (at < first.size() && (static_cast<unsigned char>(first[at]) & 0xC0) == 0x80) ++at;
  }
  return at < first.size() || lineEnd != std::string::npos ? first.substr(0, at) + "..." : first;
}

void PPFinish::DisplayStrings() {
  DebugTrace trace("DisplayStrings", __FILE__);
  if (m_Summary.size() > kLines)
    trace.WriteFormat("%d strings but only 14 allowed", static_cast<long long>(m_Summary.size()));
  // Statics beyond the summary are emptied, so a shorter summary shown again leaves nothing behind.
  for (int i = 0; i < kLines; ++i) {
    SetDlgItemText(kFirstStatic + i,
                   i < static_cast<int>(m_Summary.size()) ? ShownLine(m_Summary[i]) : std::string());
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
  static constexpr UINT kFinishTexts[] = {qs::kIdsFinishDelete, qs::kIdsFinishSave, qs::kIdsScanButton};
  if (g_reviewCalls > 3) return false;
  std::string text;
  AfxLoadString(kFinishTexts[g_reviewCalls - 1], text);
  wiz->SetFinishText(text);
  GenerateReviewStrings(g_reviewCalls);
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
