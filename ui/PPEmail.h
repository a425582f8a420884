// PPEmail: the wizard page (template 133) for the e-mail destination: recipients, subject, message,
// file type and whether the mail program's window is shown before sending.
#pragma once

#include <string>

#include "platform/ui/ComboBox.h"
#include "platform/ui/PropertyPage.h"

class PPEmail : public CPropertyPage {
 public:
  enum { IDD = 133 };
  PPEmail() : CPropertyPage(IDD) {}
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strTo;        // 64
  std::string m_strSubject;   // 65
  std::string m_strNote;      // 67
  int m_bShowMailDialog = 1;  // 1025
  CComboBox m_Type;           // 69
};
