// MultiFileWarnDialog: the warning (template 148) that a scan of several pages goes into several files
// because the chosen file type holds one page. Text control 1058 shows m_strText; check box 1057
// ("do not show again") is bound to m_nDontShow, 0 when the dialog opens. OK stores both fields,
// Cancel stores nothing. WarnMultiFile runs the whole rule of the scan job.
#pragma once

#include <string>

#include "platform/ui/Dialog.h"

class ValueGetter;

class MultiFileWarnDialog : public CDialog {
 public:
  enum { IDD = 148 };
  explicit MultiFileWarnDialog(CWnd* parent = nullptr) : CDialog(IDD, parent) {}

  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strText;
  int m_nDontShow = 0;
};

// The multi-file warning of DoFile and DoApp: shown only when pageCount is above 1, the type cannot hold
// several pages and main value "DontShowMultiFileWarn" is 0; a ticked check box then sets that value
// to 1 (after OK only). Returns true when the dialog was shown, false when it was not due or could
// not be shown (no template, no display).
bool WarnMultiFile(ValueGetter& values, int pageCount, int fileType);
