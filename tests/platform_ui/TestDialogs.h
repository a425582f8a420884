// Dialogs of the ui layer's tests, shared by the scripted runner and the Qt host test: a dialog with
// every control kind (template 500) and a three-page wizard (templates 510-512) whose pages stay, jump
// and end the sheet depending on what the user entered.
#pragma once

#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/PropertySheet.h"

class EveryControlDialog : public CDialog {
 public:
  EveryControlDialog();
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnToolTipText(int id, char* buffer) override;

  std::string m_strName = "start";
  int m_nCheck = 0;
  int m_nRadio = 1;
  std::string m_strDropList;
  int m_nSlider = 0;
  int m_nNumber = 7;
  std::string m_strEvents;  // notifications in order, for the tests
};

class TestPage : public CPropertyPage {
 public:
  explicit TestPage(UINT id) : CPropertyPage(id) {}
  BOOL OnSetActive() override;
  void DoDataExchange(CDataExchange* pDX) override;
  // Text "jump N": go to template N; "end": end the sheet with -10; check box 301: stay.
  LRESULT OnWizardNext() override;
  LRESULT OnWizardBack() override;
  BOOL OnWizardFinish() override;

  std::string m_strText;
  int m_nStay = 0;
  int m_nActivations = 0;
};

class TestWizard : public CPropertySheet {
 public:
  TestWizard();
  TestPage m_page1{510}, m_page2{511}, m_page3{512};
};

// Sets the ui layer to the test resource library beside the test programs.
bool UseTestResources();
