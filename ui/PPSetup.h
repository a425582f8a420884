// PPSetup: the wizard's task page (template 145): new, modify or delete a Quick Set, or the device's
// destination list. Showing it resets the wizard to a fresh scratch Quick Set; Next sets the mode.
#pragma once

#include "platform/ui/PropertyPage.h"

class PPSetup : public CPropertyPage {
 public:
  enum { IDD = 145 };
  PPSetup();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;
  void DoNext();

  int m_nChoice = 0;  // 0 new, 1 modify, 2 delete, 3 device destinations
};
