// PPFileAttrib: the wizard page (template 150) for the quality or compression level of the file types
// that have one (JPEG, PNG, PDF): slider 82.
#pragma once

#include "platform/ui/PropertyPage.h"
#include "platform/ui/SliderCtrl.h"

class PPFileAttrib : public CPropertyPage {
 public:
  enum { IDD = 150 };
  PPFileAttrib() : CPropertyPage(IDD) {}
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  CSliderCtrl m_Slider;
};
