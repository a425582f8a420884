#include "scan/SelectSourceDialog.h"

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/MessageBox.h"

SelectSourceDialog::SelectSourceDialog(int mode, CWnd* parent) : CDialog(IDD, parent), m_nMode(mode) {
  OnCommandMap(148, LBN_DBLCLK, [this] { OnOK(); });
}

void SelectSourceDialog::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, 148, m_List);
}

BOOL SelectSourceDialog::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CDialog::OnInitDialog();
  if (m_nMode == Choose) {
    for (const std::string& name : m_saSources) m_List.AddString(name);
  } else {
    m_List.AddString("SCAN SOURCE 1");
    m_List.AddString("SCAN SOURCE 2");
    m_List.AddString("SCAN SOURCE 3");
  }
  return TRUE;
}

void SelectSourceDialog::OnOK() {
  DebugTrace trace("OnOK", __FILE__);
  const int selected = m_List.GetCurSel();
  if (m_nMode == Choose && selected >= 0) {
    m_List.GetText(selected, m_strSource);
    EndDialog(IDOK);
    return;
  }
  std::string text, caption;
  if (!AfxLoadString(179, text)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  if (!AfxLoadString(176, caption)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  MessageBoxA(GetSafeHwnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  if (m_nMode != Choose) EndDialog(IDOK);
}
