// PPFinish: the wizard's last page (template 139). Shows a summary of what the wizard is about to do in
// statics 1028 to 1041 and, on Finish, saves or deletes the Quick Set. In mode 7 it ends the wizard
// with -10 as soon as it would be shown.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/PropertyPage.h"

class PPFinish : public CPropertyPage {
 public:
  enum { IDD = 139 };
  PPFinish() : CPropertyPage(IDD) {}
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  BOOL OnWizardFinish() override;
  LRESULT OnWizardBack() override;
  BOOL OnToolTipText(int id, char* buffer) override;

  void GenerateStrings();
  // Review mode: the summary of review call 1, 2 or 3.
  void GenerateReviewStrings(int call);
  void DisplayStrings();
  static std::string ShownLine(const std::string& line);
  bool ShowErrorMessages();

  std::vector<std::string> m_Summary;
};
