// SelectSourceDialog: the source choice (template 143, list box 148). TwainScan opens it in choose mode
// with the qualifying TWAIN sources when the requested source is not found; the message review opens it
// in preview mode with three sample names. OK (or a double-click) with an entry selected ends with
// IDOK and the entry in m_strSource; with none selected it shows string 179 (caption 176) and stays
// open, except in preview mode, which then ends with IDOK. No entry is selected at the start.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"

class SelectSourceDialog : public CDialog {
 public:
  enum { IDD = 143 };
  enum Mode { Preview = 0, Choose = 1 };
  explicit SelectSourceDialog(int mode, CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void OnOK() override;
  void DoDataExchange(CDataExchange* pDX) override;

  int m_nMode;
  std::vector<std::string> m_saSources;  // filled by the caller before DoModal
  std::string m_strSource;               // the chosen name after IDOK
  CListBox m_List;
};
