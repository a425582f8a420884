// BrowseDir: the modal dialog (template 146) in which the user picks a folder for the wizard's file and
// application pages. It opens at the user's data directory, shows the drives and folders in its own
// DirTreeCtrl (control 1051, files hidden) and returns the selected item's full path after OK (empty
// when nothing is selected); callers append "/" to use it as a folder prefix.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/Dialog.h"
#include "ui/DirTreeCtrl.h"

class BrowseDir : public CDialog {
 public:
  enum { IDD = 146 };
  // Some callers pass the folder they show; the dialog always opens at the data directory.
  explicit BrowseDir(CWnd* parent = nullptr, const std::string& currentFolder = "");

  BOOL OnInitDialog() override;
  void OnOK() override;
  void DoDataExchange(CDataExchange* pDX) override;

  std::string m_strPath;
  DirTreeCtrl m_Tree;

  // Seam for tests: where the data directory comes from (GetDataDirectory by default).
  using DataDirectoryFn = std::function<bool(std::string&)>;
  static void SetDataDirectorySource(DataDirectoryFn source);
};
