// PPDelete: the wizard page (template 140) that picks the Quick Set to delete from list box 1044. The
// scratch Quick Set is never listed; a double-click presses Next.
#pragma once

#include <string>

#include "platform/ui/ListBox.h"
#include "platform/ui/PropertyPage.h"

class PPDelete : public CPropertyPage {
 public:
  enum { IDD = 140 };
  PPDelete();
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strSelected;
  CListBox m_List;
};
