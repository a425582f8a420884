// PPApp: the wizard page (template 134) for the application destination: the program that opens the
// scans, the file type, and optionally a folder to save into without asking for a name.
#pragma once

#include <string>

#include "platform/ui/ComboBox.h"
#include "platform/ui/PropertyPage.h"

class PPApp : public CPropertyPage {
 public:
  enum { IDD = 134 };
  PPApp();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnToolTipText(int id, char* buffer) override;
  void OnDontPromptForFilename();
  void OnFileBowse();
  void OnDirBrowse();

  std::string m_strAppExe;           // 75
  std::string m_strDir;              // 78
  int m_bDontPromptForFilename = 0;  // 1046
  CComboBox m_Type;                  // 77
};
