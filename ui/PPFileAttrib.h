// PPFileAttrib: the wizard page (template 150) for the quality or compression level of the file types
// that have one (JPEG, PNG, PDF): slider 82. For PDF also the text layer: check box 84 "Make the text
// searchable" and the OCR languages in combo 86 (the installed ones; "Ocr").
#pragma once

#include <string>
#include <vector>

#include "platform/ui/ComboBox.h"
#include "platform/ui/PropertyPage.h"
#include "platform/ui/SliderCtrl.h"

class PPFileAttrib : public CPropertyPage {
 public:
  enum { IDD = 150 };
  PPFileAttrib();
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  CSliderCtrl m_Slider;
  CComboBox m_Languages;  // 86: each choice by its languages' own names
  int m_nSearchable = 0;  // 84

 private:
  void ShowOcr(bool pdf);
  void OnSearchable();
  void SaveOcr();
  void AddChoice(const std::string& languages);
  // The index of the list among the choices, -1 when it is not one.
  int ChoiceOf(const std::string& languages) const;
  std::vector<std::string> m_choices;  // the lists behind the box's items, in its order
  std::string m_strInstalled;          // read once per wizard: loading the OCR library is not free
  bool m_bLanguagesRead = false;
};
