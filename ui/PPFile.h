// PPFile: the wizard page (template 132) for the file destination. For a Quick Set: save without asking
// into a folder (edit 57, type 63) or ask for a file name starting in a folder (edit 60, type 62). For a
// one-time scan: the full output file path in edit 57, checked and completed on Next.
#pragma once

#include <string>

#include "platform/ui/ComboBox.h"
#include "platform/ui/PropertyPage.h"

class PPFile : public CPropertyPage {
 public:
  enum { IDD = 132 };
  PPFile();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnToolTipText(int id, char* buffer) override;

  enum class Layout { kQuickSet, kOneTimeScan };  // one-time: the output file path alone
  void UpdateUi(Layout layout);
  void OnRadio();
  void OnFileBrowse();
  void OnDirBrowse();
  void SaveData();
  void ShowErrorMessages();

  std::string m_strFile;  // edit 57
  std::string m_strDir;   // edit 60
  int m_nRadio = 0;       // 0 save without asking, 1 ask for a name
  CComboBox m_FileType;   // 63
  CComboBox m_DirType;    // 62

 private:
  // Mode 9: the first Next shows the one-time look.
  bool m_bReviewOneTimeShown = false;
  LRESULT CheckOneTimePath();
};
