// Child process of the ui tests on the scripted host: runs BrowseDir (data directory from argv[2]) or
// the multi-file warning, and prints what the caller reads afterwards.
#include <cstdio>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "platform/ui/UiHost.h"
#include "scan/MultiFileWarnDialog.h"
#include "settings/ValueGetter.h"
#include "ui/BrowseDir.h"

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
    ValueGetter values("");
    const bool shown = WarnMultiFile(values, std::stoi(argv[2]), std::stoi(argv[3]));
    std::printf("shown=%d\nvalue=%d\n", shown ? 1 : 0, values.GetMainInt("DontShowMultiFileWarn", 0));
  } else {
    return 2;
  }
  return 0;
}
