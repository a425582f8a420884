// PPSave: the wizard page (template 137) that names a new Quick Set and, where the device can receive
// scan-to destinations, the name under which the device's panel lists it (with this computer's network
// prefix on a networked device).
#pragma once

#include <string>

#include "platform/ui/Edit.h"
#include "platform/ui/PropertyPage.h"

class PPSave : public CPropertyPage {
 public:
  enum { IDD = 137 };
  PPSave();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;
  void UpdateControls();
  void OnAddToDevice();
  void ShowErrorMessages();

  std::string m_strQsName;   // edit 1021
  std::string m_strDevName;  // edit 1030
  int m_bAddToDevice = 1;    // check box 1029
  bool m_bScanTo = false;
  bool m_bNetworked = false;
  std::string m_strPrefix;  // static 1059
  CEdit m_QsNameEdit;
  CEdit m_DevNameEdit;
};
