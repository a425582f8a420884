#include "TestDialogs.h"

#include <cstdlib>
#include <cstring>

#include "platform/module/Module.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

bool UseTestResources() {
  HMODULE module = LoadLibraryA("m3uitestres.dll");
  platform::ui::SetResourceModule(module);
  return module != nullptr;
}

EveryControlDialog::EveryControlDialog() : CDialog(500) {
  OnClicked(180, [this] {
    SetDlgItemText(100, "pushed");
    m_strEvents += "push;";
  });
  OnClicked(101, [this] { m_strEvents += "check;"; });
  OnClicked(111, [this] { m_strEvents += "radio111;"; });
  OnCommandMap(140, LBN_DBLCLK, [this] {
    std::string text;
    auto* list = GetDlgItemAs<CListBox>(140);
    list->GetText(list->GetCurSel(), text);
    m_strEvents += "dblclk " + text + ";";
  });
  OnCommandMap(130, CBN_SELCHANGE, [this] { m_strEvents += "combo;"; });
  OnCommandMap(150, SLN_POSCHANGED, [this] { m_strEvents += "slider;"; });
  OnCommandMap(160, TVN_SELCHANGED, [this] { m_strEvents += "tree;"; });
}

BOOL EveryControlDialog::OnInitDialog() {
  auto* drop = GetDlgItemAs<CComboBox>(130);
  for (const char* t : {"Gamma", "alpha", "Beta"}) drop->AddString(t);
  auto* sorted = GetDlgItemAs<CListBox>(140);
  for (const char* t : {"zeta", "Alpha", "beta"}) sorted->AddString(t);
  auto* plain = GetDlgItemAs<CListBox>(141);
  for (const char* t : {"one", "two"}) plain->AddString(t);
  auto* slider = GetDlgItemAs<CSliderCtrl>(150);
  slider->SetRange(2, 255);
  auto* tree = GetDlgItemAs<CTreeCtrl>(160);
  HTREEITEM top = tree->InsertItem("Top");
  tree->InsertItem("Child A", top);
  tree->InsertItem("Child B", top);
  tree->InsertItem("a|b", top);  // a folder name may hold the path separator of the script
  CDialog::OnInitDialog();
  EnableToolTips(TRUE);
  return TRUE;
}

void EveryControlDialog::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, 100, m_strName);
  DDV_MaxChars(pDX, m_strName, 12);
  DDX_Check(pDX, 101, m_nCheck);
  DDX_Radio(pDX, 110, m_nRadio);
  DDX_CBString(pDX, 130, m_strDropList);
  DDX_Slider(pDX, 150, m_nSlider);
  DDX_Text(pDX, 170, m_nNumber);
}

BOOL EveryControlDialog::OnToolTipText(int id, char* buffer) {
  if (id != 180) return FALSE;
  std::strncpy(buffer, "Press to rename", kToolTipBufferSize - 1);
  return TRUE;
}

BOOL TestPage::OnSetActive() {
  ++m_nActivations;
  const bool last = GetSheet()->GetPageIndex(this) == GetSheet()->GetPageCount() - 1;
  const bool first = GetSheet()->GetPageIndex(this) == 0;
  GetSheet()->SetWizardButtons((first ? DWORD{0} : DWORD{PSWIZB_BACK}) |
                               (last ? DWORD{PSWIZB_FINISH} : DWORD{PSWIZB_NEXT}));
  if (last) GetSheet()->SetFinishText("Done");
  return CPropertyPage::OnSetActive();
}

void TestPage::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, 300, m_strText);
  DDX_Check(pDX, 301, m_nStay);
}

LRESULT TestPage::OnWizardNext() {
  UpdateData(TRUE);
  if (m_nStay) return -1;
  if (m_strText == "end") {
    GetSheet()->EndDialog(-10);
    return -1;
  }
  if (m_strText.rfind("jump ", 0) == 0) return std::atoi(m_strText.c_str() + 5);
  return 0;
}

LRESULT TestPage::OnWizardBack() {
  UpdateData(TRUE);
  if (m_strText.rfind("jump ", 0) == 0) return std::atoi(m_strText.c_str() + 5);
  return 0;
}

BOOL TestPage::OnWizardFinish() {
  UpdateData(TRUE);
  return m_nStay ? FALSE : TRUE;
}

TestWizard::TestWizard() : CPropertySheet(1u) {
  AddPage(&m_page1);
  AddPage(&m_page2);
  AddPage(&m_page3);
  SetWizardMode();
}
