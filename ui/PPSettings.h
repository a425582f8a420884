// PPSettings: the wizard page (template 131) for the Quick Set's own scan settings: resolution, bit
// depth and paper, a standard size or a custom width and height in inches or millimetres (stored in
// twips, checked against the glass's limits on Next), and the cleanup of each page before it is saved.
#pragma once

#include "platform/ui/ComboBox.h"
#include "platform/ui/PropertyPage.h"

class PPSettings : public CPropertyPage {
 public:
  enum { IDD = 131 };
  PPSettings();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  void LoadControls();
  void UpdateComboBoxControls();
  void OnRadio();
  void ShowErrorMessages();
  static double FixDecimals(double value, int decimals);

  double m_dWidth = 1.0;   // edit 54, display unit
  double m_dHeight = 1.0;  // edit 52
  int m_nRadio = -1;       // 0 standard, 1 custom
  int m_nPaper = 29;
  int m_nRes = 150;
  int m_nBitDepth = 24;
  int m_bSkipBlank = 0;  // check boxes 60..63: the page cleanup
  int m_bCropBorder = 0;
  int m_bUpright = 0;
  int m_bDeskew = 0;
  CComboBox m_Res;    // 42
  CComboBox m_Depth;  // 44
  CComboBox m_Paper;  // 48
  CComboBox m_Unit;   // 50
};
