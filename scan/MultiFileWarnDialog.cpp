#include "scan/MultiFileWarnDialog.h"

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/DataExchange.h"
#include "settings/MyReg.h"
#include "settings/ValueGetter.h"

void MultiFileWarnDialog::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, 1058, m_strText);
  DDX_Check(pDX, 1057, m_nDontShow);
}

bool WarnMultiFile(ValueGetter& values, int pageCount, int fileType) {
  DebugTrace trace("WarnMultiFile", __FILE__);
  if (pageCount <= 1 || values.IsMultiPageSupported(fileType) ||
      values.GetMainInt(settings::kMainDontShowMultiFileWarn) != 0)
    return false;
  MultiFileWarnDialog dialog(nullptr);
  if (!AfxLoadString(218, dialog.m_strText)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  // The check box counts only when the user closed the dialog with OK (Cancel exchanges nothing);
  // a dialog that could not be shown was not shown.
  const INT_PTR result = dialog.DoModal();
  if (result == -1) {
    trace.Error("Multi-file warning dialog could not be shown");
    return false;
  }
  if (result == IDOK && dialog.m_nDontShow == 1) {
    // The main key is created when it is not there yet.
    MyReg reg;
    if (!reg.Create(HKEY_CURRENT_USER, values.GetMainKeyPath(), KEY_WRITE) ||
        !reg.Set(DWORD{1}, settings::kMainDontShowMultiFileWarn.pszName))
      trace.Error("Failed to store DontShowMultiFileWarn");
  }
  return true;
}
