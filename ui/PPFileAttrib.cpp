#include "ui/PPFileAttrib.h"

#include <vector>

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "scan/OcrPages.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {

// The choices of the language box: each installed language, and each other one with English, which
// letters in most languages quote.
std::vector<std::string> LanguageChoices(const std::string& installed) {
  const std::vector<std::string> names = OcrPages::SplitLanguages(installed);
  std::vector<std::string> choices = names;
  bool english = false;
  for (const std::string& name : names) english = english || name == "eng";
  if (english)
    for (const std::string& name : names)
      if (name != "eng") choices.push_back(name + "+eng");
  return choices;
}

}  // namespace

PPFileAttrib::PPFileAttrib() : CPropertyPage(IDD) {
  OnClicked(84, [this] { OnSearchable(); });
}

void PPFileAttrib::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 82, m_Slider);
  DDX_Control(pDX, 86, m_Languages);
  DDX_Check(pDX, 84, m_nSearchable);
}

BOOL PPFileAttrib::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  const bool png = wiz->m_nType == PX_TYPE_PNG;
  m_Slider.SetRange(png ? 1 : 2, png ? 9 : 255, TRUE);
  if (wiz->m_nQuality == -1) wiz->m_nQuality = PxDefaultQuality(wiz->m_nType);
  wiz->m_nQuality = wiz->m_ValueGetter.CheckQualityLevel(wiz->m_nQuality, wiz->m_nType);
  m_Slider.SetPos(wiz->m_nQuality);

  const bool pdf = OcrPages::TakesText(wiz->m_nType);
  if (pdf && !m_bLanguagesRead) {
    m_bLanguagesRead = true;
    m_strInstalled = OcrPages::InstalledLanguages();
    trace.Write("Installed OCR languages: '" + m_strInstalled + "'");
    m_Languages.ResetContent();
    m_choices.clear();
    for (const std::string& choice : LanguageChoices(m_strInstalled)) AddChoice(choice);
  }
  if (pdf) {
    // A stored list that is not among the choices (typed on the command line) is kept as a choice.
    if (!wiz->m_strOcr.empty() && ChoiceOf(wiz->m_strOcr) < 0) AddChoice(wiz->m_strOcr);
    const int at = ChoiceOf(wiz->m_strOcr.empty() ? "eng" : wiz->m_strOcr);
    m_Languages.SetCurSel(at < 0 ? 0 : at);
    m_nSearchable = wiz->m_strOcr.empty() ? 0 : 1;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
  ShowOcr(pdf);
  return CPropertyPage::OnSetActive();
}

void PPFileAttrib::ShowOcr(bool pdf) {
  // Without any installed language there is nothing to choose: the box stays, unticked and disabled.
  const bool any = m_Languages.GetCount() > 0;
  for (int id : {84, 85, 86})
    if (CWnd* c = GetDlgItem(id)) c->ShowWindow(pdf ? SW_SHOW : SW_HIDE);
  if (CWnd* c = GetDlgItem(84)) c->EnableWindow(pdf && any);
  for (int id : {85, 86})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(pdf && any && m_nSearchable != 0);
}

void PPFileAttrib::OnSearchable() {
  DebugTrace trace("OnSearchable", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  ShowOcr(true);
}

void PPFileAttrib::SaveOcr() {
  DebugTrace trace("SaveOcr", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  if (!OcrPages::TakesText(wiz->m_nType)) {
    wiz->m_strOcr.clear();  // only PDF carries text
    return;
  }
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  const int sel = m_Languages.GetCurSel();
  const bool chosen = m_nSearchable != 0 && sel >= 0 && static_cast<size_t>(sel) < m_choices.size();
  wiz->m_strOcr = chosen ? m_choices[static_cast<size_t>(sel)] : std::string();
}

void PPFileAttrib::AddChoice(const std::string& languages) {
  m_Languages.AddString(OcrPages::LanguageTitle(languages));
  m_choices.push_back(languages);
}

int PPFileAttrib::ChoiceOf(const std::string& languages) const {
  for (size_t i = 0; i < m_choices.size(); ++i)
    if (m_choices[i] == languages) return static_cast<int>(i);
  return -1;
}

LRESULT PPFileAttrib::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->m_nQuality = m_Slider.GetPos();
  SaveOcr();
  return wiz->GetNextPage(kPageFileAttrib);
}

LRESULT PPFileAttrib::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  SaveOcr();
  return WizardOf(this)->GetPreviousPage(kPageFileAttrib);
}
