#include "ui/PPFileAttrib.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

void PPFileAttrib::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 82, m_Slider);
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
  return CPropertyPage::OnSetActive();
}

LRESULT PPFileAttrib::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->m_nQuality = m_Slider.GetPos();
  return wiz->GetNextPage(kPageFileAttrib);
}

LRESULT PPFileAttrib::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageFileAttrib);
}
