// Helper process of the registry tests: hammers a hive, or dies in the middle of a write transaction.
//   hammer PREFIX COUNT   writes COUNT values (each its own transaction) and COUNT keys under
//                         HKCU\SOFTWARE\Hammer\PREFIX
//   loop                  writes keys and values for ever (the test kills it at a random moment)
//   killmid OPERATION     kills itself with SIGKILL inside the transaction of OPERATION:
//                         "create" (a deep key path), "deletetree" (a big tree), "set"
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/registry/Registry.h"

namespace {

int Hammer(const std::string& prefix, int count) {
  HKEY key = nullptr;
  const std::string path = "SOFTWARE\\Hammer\\" + prefix;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    return 2;
  for (int i = 0; i < count; ++i) {
    const std::string name = "V" + std::to_string(i);
    const DWORD value = static_cast<DWORD>(i);
    if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4)) return 3;
    HKEY sub = nullptr;
    if (RegCreateKeyExA(key, ("K" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                        nullptr))
      return 4;
    RegCloseKey(sub);
  }
  RegCloseKey(key);
  return 0;
}

int Loop() {
  for (int i = 0;; ++i) {
    HKEY key = nullptr;
    const std::string path = "SOFTWARE\\Loop\\K" + std::to_string(i % 50) + "\\Deep\\Er";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr))
      return 2;
    const std::string text(1000 + i % 5000, 'x');
    RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    if (i % 7 == 6)
      RegDeleteTreeA(HKEY_CURRENT_USER, ("SOFTWARE\\Loop\\K" + std::to_string((i / 7) % 50)).c_str());
  }
}

int KillMid(const std::string& operation) {
  if (operation == "deletetree") {
    // Build the tree first (committed), then die while deleting it.
    for (int i = 0; i < 200; ++i) {
      HKEY key = nullptr;
      const std::string path = "SOFTWARE\\Big\\K" + std::to_string(i) + "\\Sub";
      if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr))
        return 2;
      const DWORD v = static_cast<DWORD>(i);
      RegSetValueExA(key, "N", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
      RegCloseKey(key);
    }
    std::printf("built\n");
    std::fflush(stdout);
  }
  platform::registry::SetCommitHook([operation](const char* op) {
    if (operation == op || (operation == "deletetree" && std::strcmp(op, "delete") == 0))
      kill(getpid(), SIGKILL);
  });
  if (operation == "create") {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Half\\A\\B\\C\\D\\E\\F\\G\\H", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
  } else if (operation == "deletetree") {
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Big");
  } else if (operation == "set") {
    HKEY key = nullptr;
    platform::registry::SetCommitHook(nullptr);
    RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Half", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const char old[] = "old";
    RegSetValueExA(key, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
    platform::registry::SetCommitHook([](const char*) { kill(getpid(), SIGKILL); });
    const std::string big(512 * 1024, 'n');
    RegSetValueExA(key, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()),
                   static_cast<DWORD>(big.size() + 1));
  }
  return 5;  // not reached when the hook killed us
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "hammer") == 0) return Hammer(argv[2], std::atoi(argv[3]));
  if (argc >= 2 && std::strcmp(argv[1], "loop") == 0) return Loop();
  if (argc >= 3 && std::strcmp(argv[1], "killmid") == 0) return KillMid(argv[2]);
  std::fprintf(stderr, "usage: platform_reg_helper hammer PREFIX COUNT | loop | killmid OPERATION\n");
  return 1;
}
