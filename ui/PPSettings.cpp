#include "ui/PPSettings.h"

#include <cmath>
#include <cstdio>

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {

struct Label {
  int nValue;
  UINT nString;
};
constexpr Label kResolutions[] = {{75, 113},  {100, 114}, {150, 115}, {200, 116},
                                  {300, 117}, {600, 118}, {1200, 203}};
constexpr Label kDepths[] = {{1, 119}, {8, 121}, {24, 120}};
constexpr UINT kInches = 142;
constexpr UINT kMetric = 143;

struct Unit {
  double dFactor;  // twips per unit
  int nDecimals;
  int nLeast, nWidest, nHighest;  // tenths of the unit
};
constexpr Unit kInchUnit{1440.0, 2, 10, 85, 150};
constexpr Unit kMmUnit{56.7, 1, 254, 2159, 3810};
constexpr double kTolerance = 0.005;

void Fill(CComboBox& combo, const Label* table, size_t n, DebugTrace& trace) {
  combo.ResetContent();
  for (size_t i = 0; i < n; ++i) {
    const int index = combo.AddString(qs::LoadStr(table[i].nString, trace, __LINE__));
    if (index < 0) {
      trace.Error(TRACE_NUMBERED("AddString failed"));
      continue;
    }
    if (combo.SetItemData(index, static_cast<DWORD_PTR>(table[i].nValue)) == CB_ERR)
      trace.Error(TRACE_NUMBERED("SetItemData failed"));
  }
}

// Selects the entry with this item data; the first entry when none has it.
void SelectData(CComboBox& combo, int value) {
  for (int i = 0; i < combo.GetCount(); ++i) {
    if (static_cast<int>(combo.GetItemData(i)) == value) {
      combo.SetCurSel(i);
      return;
    }
  }
  combo.SetCurSel(0);
}

int ReadData(CComboBox& combo, int fallback, DebugTrace& trace) {
  const int sel = combo.GetCurSel();
  if (sel == CB_ERR) {
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
    return fallback;
  }
  return static_cast<int>(combo.GetItemData(sel));
}

std::string Printf(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace

PPSettings::PPSettings() : CPropertyPage(IDD) {
  OnClicked(46, [this] { OnRadio(); });
  OnClicked(47, [this] { OnRadio(); });
}

double PPSettings::FixDecimals(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::trunc(value * scale + 0.5) / scale;
}

void PPSettings::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 42, m_Res);
  DDX_Control(pDX, 44, m_Depth);
  DDX_Control(pDX, 48, m_Paper);
  DDX_Control(pDX, 50, m_Unit);
  DDX_Text(pDX, 54, m_dWidth);
  DDX_Text(pDX, 52, m_dHeight);
  DDX_Radio(pDX, 46, m_nRadio);
  DDX_Check(pDX, 60, m_bSkipBlank);
  DDX_Check(pDX, 61, m_bCropBorder);
  DDX_Check(pDX, 62, m_bUpright);
  DDX_Check(pDX, 63, m_bDeskew);
}

void PPSettings::LoadControls() {
  DebugTrace trace("LoadControls", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  Fill(m_Res, kResolutions, std::size(kResolutions), trace);
  SelectData(m_Res, wiz->m_nRes);
  Fill(m_Depth, kDepths, std::size(kDepths), trace);
  SelectData(m_Depth, wiz->m_nBitDepth);
  m_Paper.ResetContent();
  for (int code = 1; code <= 28; ++code) {
    const int index = m_Paper.AddString(qs::LoadStr(qs::PaperLabel(code), trace, __LINE__));
    if (index < 0) {
      trace.Error(TRACE_NUMBERED("AddString failed"));
      continue;
    }
    if (m_Paper.SetItemData(index, static_cast<DWORD_PTR>(code)) == CB_ERR)
      trace.Error(TRACE_NUMBERED("SetItemData failed"));
  }
  int paper = wiz->m_nPaperSize;
  if (paper == qs::kPaperCustom) {
    bool metric = false;
    paper = 1;
    wiz->FindLocalInfo(paper, metric);
  }
  SelectData(m_Paper, paper);
  const Label units[] = {{0, kInches}, {1, kMetric}};
  Fill(m_Unit, units, 2, trace);
  SelectData(m_Unit, wiz->m_bIsMetric ? 1 : 0);
}

BOOL PPSettings::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  LoadControls();
  GotoDlgCtrl(GetDlgItem(42));
  return FALSE;
}

void PPSettings::UpdateComboBoxControls() {
  CQsWizard* wiz = WizardOf(this);
  SelectData(m_Res, m_nRes);
  SelectData(m_Depth, m_nBitDepth);
  m_nRadio = m_nPaper == qs::kPaperCustom ? 1 : 0;
  if (m_nPaper != qs::kPaperCustom) SelectData(m_Paper, m_nPaper);
  SelectData(m_Unit, wiz->m_bIsMetric ? 1 : 0);
}

BOOL PPSettings::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  m_nRes = wiz->m_nRes;
  m_nBitDepth = wiz->m_nBitDepth;
  m_nPaper = wiz->m_nPaperSize;
  m_nRadio = m_nPaper == qs::kPaperCustom ? 1 : 0;
  m_bSkipBlank = wiz->m_bSkipBlank ? 1 : 0;
  m_bCropBorder = wiz->m_bCropBorder ? 1 : 0;
  m_bUpright = wiz->m_bUpright ? 1 : 0;
  m_bDeskew = wiz->m_bDeskew ? 1 : 0;
  const Unit& unit = wiz->m_bIsMetric ? kMmUnit : kInchUnit;
  m_dHeight = FixDecimals(wiz->m_nInY / unit.dFactor, unit.nDecimals);
  m_dWidth = FixDecimals(wiz->m_nInX / unit.dFactor, unit.nDecimals);
  UpdateComboBoxControls();
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  OnRadio();
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

void PPSettings::OnRadio() {
  DebugTrace trace("OnRadio", __FILE__);
  for (int id : {54, 52})
    if (GetDlgItemText(id).empty()) SetDlgItemText(id, "0");
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  const BOOL custom = m_nRadio == 1;
  if (CWnd* c = GetDlgItem(48)) c->EnableWindow(!custom);
  for (int id : {50, 54, 52, 49, 51, 53})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(custom);
}

void PPSettings::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  std::string text;
  AfxFormatString1(text, qs::kIdsSizeTooSmall, "1");
  qs::WizardMessage(text);
  qs::WizardMessage(qs::Format2(qs::kIdsWidthTooBig, "99.9", "Inches", trace, __LINE__));
  qs::WizardMessage(qs::Format2(qs::kIdsHeightTooBig, "99.9", "mm", trace, __LINE__));
}

LRESULT PPSettings::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  // A size edit that does not hold a number is refused by the exchange: stay so it can be mended.
  if (!UpdateData(TRUE)) {
    trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
    if (m_nRadio == 1) return -1;
  }
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) {
    ShowErrorMessages();
  } else {
    std::string unitText;
    AfxLoadString(kInches, unitText);
    wiz->m_bIsMetric = m_Unit.GetWindowText() != unitText;
    if (m_nRadio == 1) {
      const Unit& unit = wiz->m_bIsMetric ? kMmUnit : kInchUnit;
      const double least = unit.nLeast * 0.1;
      const double widest = unit.nWidest * 0.1;
      const double highest = unit.nHighest * 0.1;
      if (least - m_dHeight > kTolerance || least - m_dWidth > kTolerance) {
        std::string text;
        AfxFormatString1(text, qs::kIdsSizeTooSmall, Printf("%3.1f", least).c_str());
        qs::WizardMessage(text);
        GotoDlgCtrl(GetDlgItem(least - m_dHeight > kTolerance ? 52 : 54));
        return -1;
      }
      const std::string unitLabel = qs::LoadStr(wiz->m_bIsMetric ? kMetric : kInches, trace, __LINE__);
      if (m_dWidth - widest > kTolerance) {
        qs::WizardMessage(
            qs::Format2(qs::kIdsWidthTooBig, Printf("%.1f", widest), unitLabel, trace, __LINE__));
        GotoDlgCtrl(GetDlgItem(54));
        return -1;
      }
      if (m_dHeight - highest > kTolerance) {
        qs::WizardMessage(
            qs::Format2(qs::kIdsHeightTooBig, Printf("%.1f", highest), unitLabel, trace, __LINE__));
        GotoDlgCtrl(GetDlgItem(52));
        return -1;
      }
    }
  }
  wiz->m_nRes = static_cast<int16_t>(ReadData(m_Res, wiz->m_nRes, trace));
  wiz->m_nBitDepth = static_cast<int16_t>(ReadData(m_Depth, wiz->m_nBitDepth, trace));
  wiz->m_bSkipBlank = m_bSkipBlank != 0;
  wiz->m_bCropBorder = m_bCropBorder != 0;
  wiz->m_bUpright = m_bUpright != 0;
  wiz->m_bDeskew = m_bDeskew != 0;
  if (m_nRadio == 1) {
    const Unit& unit = wiz->m_bIsMetric ? kMmUnit : kInchUnit;
    // Review mode skips the checks: keep the products inside an int whatever was typed.
    auto twips = [&unit](double v) {
      const double t = std::trunc(v * unit.dFactor);
      return static_cast<int32_t>(std::isfinite(t) ? std::fmax(-1e9, std::fmin(1e9, t)) : 0.0);
    };
    wiz->m_nInY = twips(m_dHeight);
    wiz->m_nInX = twips(m_dWidth);
    wiz->m_nPaperSize = qs::kPaperCustom;
  } else {
    wiz->m_nInX = 0;
    wiz->m_nInY = 0;
    wiz->m_nPaperSize = ReadData(m_Paper, wiz->m_nPaperSize, trace);
  }
  return wiz->GetNextPage(kPageSettings);
}

LRESULT PPSettings::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageSettings);
}
