// Test helper: this PC's identity towards the device under a chosen computer name. The program moves
// itself into a new host-name namespace (root only), sets the name, and writes the destination prefix
// and the unique PC name ValueGetter gives, one a line.
// Usage: m3utils_identity COMPUTERNAME OUTFILE. Exit code 77 when the namespace cannot be had.
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "platform/module/Module.h"
#include "settings/ValueGetter.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (::unshare(CLONE_NEWUTS) != 0) return 77;
  if (::sethostname(argv[1], std::strlen(argv[1])) != 0) return 77;
  const std::string out = argv[2];

  DebugTrace trace("main", "IdentityWorker.cpp", (out + ".log").c_str());
  AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
  CWinApp app("marlin3");
  app.SetRegistryKey("Nexora");
  ValueGetter vg("");
  std::string prefix;
  std::string unique;
  vg.GetNetworkPrefix(prefix);
  vg.DetermineUniquePcName(unique);

  FILE* f = std::fopen(out.c_str(), "w");
  if (f == nullptr) return 2;
  std::fprintf(f, "%s\n%s\n", prefix.c_str(), unique.c_str());
  return std::fclose(f) == 0 ? 0 : 2;
}
