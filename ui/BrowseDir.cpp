#include "ui/BrowseDir.h"

#include "log/DebugTrace.h"
#include "platform/ui/DataExchange.h"
#include "settings/ValueGetter.h"

namespace {

BrowseDir::DataDirectoryFn& DataDirectorySource() {
  static BrowseDir::DataDirectoryFn source = [](std::string& folder) {
    ValueGetter values;
    return values.GetDataDirectory(folder);
  };
  return source;
}

}  // namespace

BrowseDir::BrowseDir(CWnd* parent, const std::string& currentFolder) : CDialog(IDD, parent) {}

void BrowseDir::SetDataDirectorySource(DataDirectoryFn source) {
  DataDirectorySource() = std::move(source);
}

void BrowseDir::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, 1051, m_Tree);
}

BOOL BrowseDir::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CDialog::OnInitDialog();
  // GetDataDirectory creates the folder when it is missing.
  if (!DataDirectorySource()(m_strPath)) m_strPath.clear();
  m_Tree.Initialize("", DirTreeCtrl::Content::kFolders);
  m_Tree.SelectPath(m_strPath);
  return TRUE;
}

void BrowseDir::OnOK() {
  DebugTrace trace("OnOK", __FILE__);
  UpdateData(TRUE);
  HTREEITEM item = m_Tree.GetSelectedItem();
  m_strPath = item != nullptr ? m_Tree.GetFullPath(item) : std::string();
  EndDialog(IDOK);
}
