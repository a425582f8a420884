// PPModify: the wizard page (template 141) that picks the Quick Set to change from list box 1044. The
// scratch Quick Set is never listed; a double-click presses Next.
#pragma once

#include <string>

#include "platform/ui/ListBox.h"
#include "platform/ui/PropertyPage.h"

class PPModify : public CPropertyPage {
 public:
  enum { IDD = 141 };
  PPModify();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strSelected;
  CListBox m_List;
};
