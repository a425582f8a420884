// Test helper: asks ValueGetter for temporary names from its own process, so a test can run two of
// these at once against one folder and one registry hive.
// Usage: m3utils_tempnames FOLDER COUNT OUTFILE GOFILE. Waits (at most 60 s) until GOFILE exists, so
// both workers start asking together, then writes each name it was given to OUTFILE, one a line.
// Its log goes to OUTFILE.log. Exit code 0 when all names were written.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "platform/module/Module.h"
#include "settings/ValueGetter.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const std::string out = argv[3];
  const std::string go = argv[4];

  DebugTrace trace("main", "TempNameWorker.cpp", (out + ".log").c_str());
  HMODULE resources = LoadLibraryA("marlin3.dll");
  AfxSetResourceHandle(resources);
  CWinApp app("marlin3");
  app.SetRegistryKey("Nexora");

  struct stat st {};
  for (int i = 0; i < 3000 && ::stat(go.c_str(), &st) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  FILE* f = std::fopen(out.c_str(), "w");
  if (f == nullptr) return 2;
  ValueGetter vg("");
  for (int i = 0; i < count; ++i) {
    std::string name;
    vg.GetTempFilename(name, "tif", folder);
    std::fprintf(f, "%s\n", name.c_str());
  }
  return std::fclose(f) == 0 ? 0 : 2;
}
