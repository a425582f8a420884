// CHalyardDlg: the main dialog (template 102). A drop-down list of the Quick Sets plus the one-time entry,
// a Scan button whose caption follows the selected entry's task, and Setup, which runs the Quick Set
// wizard and keeps the list and the current Quick Set in step with what the wizard did. Scan ends the
// dialog with IDOK; the application object then reads m_nTask and the current Quick Set name. In the
// message review (task 9) Scan only alternates its caption. The window menu's About item (command 16)
// shows the About box, template 100.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"

class CQsWizard;

class CHalyardDlg : public CDialog {
 public:
  enum { IDD = 102, IDD_ABOUTBOX = 100, IDM_ABOUTBOX = 16, IDR_MAINFRAME = 128 };
  // qsName: the process's current Quick Set name, read and written by the dialog.
  CHalyardDlg(std::string& qsName, CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnToolTipText(int id, char* buffer) override;
  void OnSysCommand(UINT id, LPARAM param) override;

  bool LoadQsCombo();
  bool GetQsList();
  bool UpdateBtnTxt(int task);
  void OnQsChanged();
  void OnScan();
  void OnSetup();
  void SetupDevice();
  // The device steps of a changed Quick Set (remove the old name, add the new one).
  void UpdateModifiedOnDevice(const CQsWizard& wizard);

  int m_nTask = 3;
  std::vector<std::string> m_QsList;
  CButton m_ScanBtn;    // 1048
  CComboBox m_QsCombo;  // 1001
  // Run before the lists are filled (the OCR application's Quick Set); set by the application object.
  std::function<bool()> m_FindIris;

 private:
  std::string& m_strQsName;
  std::string MainKeyPath(bool& loaded);
};
