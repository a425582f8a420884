// Child process of the scan tests on the scripted host (a failing script ends its process with 70):
// runs the source choice or a whole scan, and prints what the caller reads afterwards.
//   scan_test_runner select MODE [NAME...]
//   scan_test_runner review
//   scan_test_runner scan MODE TYPE FIRSTNAME SOURCE ASK DEPTH RES WIDTH HEIGHT
// A scan first writes the TWAIN source table from sources.txt in the current folder ("name=device"
// lines), as the product set-up tool would.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "scan/SelectSourceDialog.h"
#include "scan/TwainScan.h"

// SANE's dll layer and the test backend leak a little on every sane_init (names, device list).
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libsane-test.so\nleak:libsane.so\n";
}

namespace {

bool WriteSourceTable() {
  std::ifstream in("sources.txt");
  HKEY key = nullptr;
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TWAIN\\Sources");
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TWAIN\\Sources", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    const std::string device = line.substr(eq + 1);
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(device.c_str()),
                   static_cast<DWORD>(device.size() + 1));
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

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
  if (scenario == "review") {
    TwainScan::ShowErrorMessages();
    std::printf("reviewed\n");
    return 0;
  }
  if (scenario == "scan" && argc > 10) {
    if (!WriteSourceTable()) return 4;
    // Scan unloads the TWAIN library at its end; the library keeps process-wide state (its registry
    // connection, SANE's) that it does not release on unload. Holding it here keeps that state
    // reachable, so the leak checker reports only what the scan itself loses.
    HMODULE twain = LoadLibraryA("pxtwain.dll");
    (void)twain;
    // SANE's test backend, likewise kept loaded so that its own small leaks carry its name.
    (void)::dlopen("libsane-test.so.1", RTLD_NOW | RTLD_NODELETE);
    (void)::dlopen("/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1", RTLD_NOW | RTLD_NODELETE);
    std::vector<std::string> files = {argv[4]};
    ScanRequest request(files);
    // A full 36-character field has no terminating zero, as in the request itself.
    std::memcpy(request.szProductName, "marlin3 Scan", 12);
    std::memcpy(request.szSourceName, argv[5], std::min(std::strlen(argv[5]), sizeof request.szSourceName));
    request.bAskForMore = std::stoi(argv[6]) != 0;
    request.nBitDepth = std::stoi(argv[7]);
    request.nResolution = std::stoi(argv[8]);
    request.nUnset1 = request.nUnset2 = -1;
    request.nWidth = std::stoi(argv[9]);
    request.nHeight = std::stoi(argv[10]);
    request.nBrightness = request.nContrast = 2000;
    request.nFileType = std::stoi(argv[3]);
    request.nQuality = 100;
    int result = 0;
    int pages = 0;
    {
      TwainScan scan;
      result = scan.Scan(std::stoi(argv[2]), request);
      pages = scan.GetPageCount();
    }
    std::printf("result=%d\npages=%d\n", result, pages);
    for (const std::string& f : files) std::printf("file=%s\n", f.c_str());
    return 0;
  }
  return 2;
}
