#include "platform/ui/PropertyPage.h"

#include "platform/ui/PropertySheet.h"

void CPropertyPage::EndDialog(int result) {
  if (m_pSheet != nullptr) m_pSheet->EndDialog(result);
}

void CPropertyPage::OnOK() {
  if (m_pSheet != nullptr) m_pSheet->PressButton(m_pSheet->CanFinish() ? PSBTN_FINISH : PSBTN_NEXT);
}

void CPropertyPage::OnCancel() {
  if (m_pSheet != nullptr) m_pSheet->PressButton(PSBTN_CANCEL);
}

bool CPropertyPage::Open() {
  if (m_bInitialised) return true;
  if (!CreateControls()) return false;
  m_bInitialised = true;
  SetHasWindow(true);
  OnInitDialog();
  return true;
}
