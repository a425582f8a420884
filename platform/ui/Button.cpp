#include "platform/ui/Button.h"

#include "platform/ui/Dialog.h"

void CButton::SetCheck(int check) {
  if (check == m_nCheck) return;
  m_nCheck = check;
  Changed();
}

void CButton::UserClick() {
  if (IsCheckBox()) {
    SetCheck(m_nCheck == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
  } else if (IsRadio() && m_pDialog != nullptr) {
    for (int id : m_pDialog->RadioGroup(m_pDialog->GroupStart(m_nId))) {
      auto* b = m_pDialog->GetDlgItemAs<CButton>(id);
      if (b != nullptr && b != this) b->SetCheck(BST_UNCHECKED);
    }
    SetCheck(BST_CHECKED);
  }
  Notify(BN_CLICKED);
}

void CButton::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  if (auto* b = dynamic_cast<const CButton*>(&other)) m_nCheck = b->m_nCheck;
}
