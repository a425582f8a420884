// Child process of the scripted-host tests: runs one scenario on the host MARLIN3_UI chooses and
// prints what the program saw afterwards, one "name=value" line each.
#include <cstdio>
#include <cstring>
#include <string>

#include "TestDialogs.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiHost.h"
#include "platform/ui/WaitCursor.h"

namespace {

// A dialog with the program's window-menu item and a stock icon, as the main dialog sets them up.
class MenuDialog : public EveryControlDialog {
 public:
  BOOL OnInitDialog() override {
    EveryControlDialog::OnInitDialog();
    CMenu* menu = GetSystemMenu(FALSE);
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, 16, "&About Test...");
    SetIcon(platform::ui::LoadIcon(IDI_WARNING), TRUE);
    SetIcon(platform::ui::LoadIcon(IDI_WARNING), FALSE);
    return TRUE;
  }
  void OnSysCommand(UINT id, LPARAM param) override {
    if ((id & 0xFFF0) == 16) {
      m_strEvents += "about;";
      return;
    }
    EveryControlDialog::OnSysCommand(id, param);
  }
};

// A page that logs the order of its handlers; its edit 300 must hold a number to leave it.
std::string g_order;
class OrderPage : public CPropertyPage {
 public:
  explicit OrderPage(UINT id) : CPropertyPage(id) {}
  BOOL OnSetActive() override {
    const bool last = GetSheet()->GetPageIndex(this) == GetSheet()->GetPageCount() - 1;
    GetSheet()->SetWizardButtons(last ? DWORD{PSWIZB_BACK | PSWIZB_FINISH} : DWORD{PSWIZB_NEXT});
    return TRUE;
  }
  void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 300, m_nValue); }
  BOOL OnKillActive() override {
    g_order += "kill;";
    return CPropertyPage::OnKillActive();
  }
  LRESULT OnWizardNext() override {
    g_order += "next;";
    return 0;
  }
  BOOL OnWizardFinish() override {
    g_order += "finish;";
    return TRUE;
  }
  int m_nValue = 1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !UseTestResources()) return 2;
  const std::string scenario = argv[1];
  if (scenario == "msgbox") {
    std::printf("first=%d\n", MessageBoxA(nullptr, "Replace \"a\\b\"?\nSure", "Question",
                                          MB_YESNOCANCEL | MB_ICONQUESTION));
    std::printf("second=%d\n", MessageBoxA(nullptr, "Done", nullptr, MB_OK));
  } else if (scenario == "dialog") {
    EveryControlDialog dialog;
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\nname=%s\ncheck=%d\nradio=%d\ndrop=%s\nslider=%d\nnumber=%d\nevents=%s\n",
                static_cast<long>(result), dialog.m_strName.c_str(), dialog.m_nCheck, dialog.m_nRadio,
                dialog.m_strDropList.c_str(), dialog.m_nSlider, dialog.m_nNumber, dialog.m_strEvents.c_str());
  } else if (scenario == "wizard") {
    TestWizard wizard;
    const INT_PTR result = wizard.DoModal();
    std::printf("result=%ld\nactivations=%d,%d,%d\n", static_cast<long>(result),
                wizard.m_page1.m_nActivations, wizard.m_page2.m_nActivations, wizard.m_page3.m_nActivations);
  } else if (scenario == "file") {
    CFileDialog dialog(FALSE, "tif", argc > 2 ? argv[2] : "scan.tif", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       "TIFF image (*.tif)|*.tif|JPEG image|*.jpg;*.jpeg|All files|*.*||");
    dialog.m_ofn.nFilterIndex = 1;
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\npath=%s\nfilter=%u\n", static_cast<long>(result), dialog.GetPathName().c_str(),
                dialog.m_ofn.nFilterIndex);
  } else if (scenario == "sysmenu") {
    MenuDialog dialog;
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\nevents=%s\n", static_cast<long>(result), dialog.m_strEvents.c_str());
  } else if (scenario == "modeless") {
    EveryControlDialog dialog;
    const BOOL created = dialog.Create(500);
    std::printf("created=%d window=%d\n", created, dialog.GetSafeHwnd() != nullptr ? 1 : 0);
    {
      CWaitCursor outer;
      dialog.BeginWaitCursor();
      dialog.EndWaitCursor();
    }
    dialog.EndWaitCursor();  // one end too many changes nothing
    const BOOL destroyed = dialog.DestroyWindow();
    const int window = dialog.GetSafeHwnd() != nullptr ? 1 : 0;
    const BOOL again = dialog.DestroyWindow();
    std::printf("destroyed=%d window=%d again=%d\n", destroyed, window, again);
  } else if (scenario == "pump") {
    // A busy program with a modeless window: it pumps events between steps of its work.
    EveryControlDialog dialog;
    dialog.Create(500);
    platform::ui::Host().PumpEvents();  // still hidden: nothing of the script runs yet
    std::printf("hidden events=%s\n", dialog.m_strEvents.c_str());
    dialog.ShowWindow(SW_SHOW);
    for (int step = 1; step <= 4; ++step) {
      dialog.SetDlgItemText(100, "step " + std::to_string(step));
      platform::ui::Host().PumpEvents();
      std::printf("step%d events=%s\n", step, dialog.m_strEvents.c_str());
    }
    dialog.DestroyWindow();
    std::printf("box=%d\n", MessageBoxA(nullptr, "Done", nullptr, MB_OK));
  } else if (scenario == "none") {
    // A task that shows no box or dialog at all; the application object starts the host so.
    platform::ui::StartScriptedHost();
    std::printf("shown=0\n");
  } else if (scenario == "wizardorder") {
    CPropertySheet sheet(1u);
    OrderPage first(510), second(511);
    sheet.AddPage(&first);
    sheet.AddPage(&second);
    sheet.SetWizardMode();
    const INT_PTR result = sheet.DoModal();
    std::printf("result=%ld\norder=%s\n", static_cast<long>(result), g_order.c_str());
  } else {
    return 2;
  }
  return 0;
}
