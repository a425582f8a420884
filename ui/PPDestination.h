// PPDestination: the wizard page (template 130) that chooses where scans go (file, e-mail or
// application) and whether the scanner's own window supplies the scan settings.
#pragma once

#include "platform/ui/PropertyPage.h"

class PPDestination : public CPropertyPage {
 public:
  enum { IDD = 130 };
  PPDestination() : CPropertyPage(IDD) {}
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  int m_nDest = 0;
  int m_bUseScannerSettings = 0;
};
