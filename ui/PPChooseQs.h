// PPChooseQs: what the modify and delete pages of the wizard share: list box 1044 of the saved Quick Sets
// (the scratch one never listed), a double-click pressing Next, and Next taking the selection as the
// wizard's Quick Set. PPModify and PPDelete differ only in their template, page code, where the focus
// starts and whether the chosen Quick Set's values are loaded; log lines carry the page's own file.
#pragma once

#include <string>

#include "platform/ui/ListBox.h"
#include "platform/ui/PropertyPage.h"

class PPChooseQs : public CPropertyPage {
 public:
  enum class Focus { kDialogDefault, kList };        // where OnInitDialog leaves the focus
  enum class OnChosen { kKeepValues, kLoadValues };  // whether Next loads the chosen Quick Set

  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strSelected;
  CListBox m_List;

 protected:
  // sourceFile: the page's own source file, named in its log lines.
  PPChooseQs(UINT templateId, int pageCode, Focus focus, OnChosen onChosen, const char* sourceFile);

 private:
  int m_nPageCode;
  Focus m_focus;
  OnChosen m_onChosen;
  const char* m_pszSourceFile;
};
