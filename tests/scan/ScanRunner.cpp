// Child process of the scan tests on the scripted host (a failing script ends its process with 70):
// runs the source choice, and prints what the caller reads afterwards.
//   scan_test_runner select MODE [NAME...]
#include <cstdio>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "scan/SelectSourceDialog.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string scenario = argv[1];
  HMODULE resources = LoadLibraryA("marlin3.dll");
  if (resources == nullptr) return 3;
  AfxSetResourceHandle(resources);
  if (scenario == "select" && argc > 2) {
    SelectSourceDialog dialog(std::stoi(argv[2]));
    for (int i = 3; i < argc; ++i) dialog.m_saSources.push_back(argv[i]);
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\nsource=%s\n", static_cast<long>(result), dialog.m_strSource.c_str());
    return 0;
  }
  return 2;
}
