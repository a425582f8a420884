// Child process of the ui tests on the scripted host: runs BrowseDir (data directory from argv[2]) or
// the multi-file warning, and prints what the caller reads afterwards.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "platform/ui/UiHost.h"
#include "scan/MultiFileWarnDialog.h"
#include "settings/ValueGetter.h"
#include "ui/BrowseDir.h"
#include "ui/DirTreeCtrl.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string scenario = argv[1];
  // As the application does at start-up: one resource library for the framework and the ui layer.
  HMODULE resources = LoadLibraryA("marlin3.dll");
  if (resources == nullptr) return 3;
  AfxSetResourceHandle(resources);  // also the ui layer's template source
  if (scenario == "browse" && argc > 2) {
    const std::string dataDir = argv[2];
    BrowseDir::SetDataDirectorySource([dataDir](std::string& folder) {
      folder = dataDir;
      return true;
    });
    BrowseDir dialog(nullptr, "/ignored/by/the/dialog");
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\npath=%s\n", static_cast<long>(result), dialog.m_strPath.c_str());
  } else if (scenario == "multifile") {
    MultiFileWarnDialog dialog;
    dialog.m_strText = "Each page becomes a file of its own.";
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\ndontshow=%d\n", static_cast<long>(result), dialog.m_nDontShow);
  } else if (scenario == "warn" && argc > 3) {
    // A fourth argument is the MARLIN3_UI value to run with (the host is chosen at its first use).
    if (argc > 4) ::setenv("MARLIN3_UI", argv[4], 1);
    ValueGetter values("");
    const bool shown = WarnMultiFile(values, std::stoi(argv[2]), std::stoi(argv[3]));
    std::printf("shown=%d\nvalue=%d\n", shown ? 1 : 0, values.GetMainInt("DontShowMultiFileWarn", 0));
  } else if (scenario == "drives" && argc > 2) {
    // The tree's drives and where SelectPath starts for argv[2]: "TOP|...|SELECTED".
    DirTreeCtrl tree;
    if (!tree.Initialize("", DirTreeCtrl::Content::kFolders)) return 4;
    for (HTREEITEM t = tree.GetRootItem(); t != nullptr; t = tree.GetNextSiblingItem(t))
      std::printf("top=%s\n", tree.GetItemText(t).c_str());
    const bool selected = tree.SelectPath(argv[2]);
    std::string chain;
    for (HTREEITEM p = tree.GetSelectedItem(); p != nullptr; p = tree.GetParentItem(p))
      chain = tree.GetItemText(p) + (chain.empty() ? "" : "|") + chain;
    std::printf("selected=%d\nchain=%s\n", selected ? 1 : 0, chain.c_str());
  } else {
    return 2;
  }
  return 0;
}
