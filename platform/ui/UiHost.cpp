#include "platform/ui/UiHost.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/ui/ScriptedHost.h"

namespace {

UiHost* g_pTestHost = nullptr;
HMODULE g_hResources = nullptr;
bool g_bResourcesTried = false;

// dlopen of "lib<name>.so" beside the executable first, then in the system's order: the rule by which
// the module layer finds "Name.dll". Kept local so the ui layer loads without the module layer's help.
void* LoadBesideExecutable(const char* fileName) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    std::string path(exe);
    path = path.substr(0, path.find_last_of('/') + 1) + fileName;
    if (void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

// Stands in when nothing can be shown: boxes answer 0 and dialogs -1, as Windows does without a desktop.
class NoHost : public UiHost {
 public:
  int MessageBox(HWND, const std::string&, const std::string&, UINT) override { return 0; }
  INT_PTR RunDialog(CDialog&) override { return -1; }
  INT_PTR RunSheet(CPropertySheet&) override { return -1; }
  INT_PTR RunFileDialog(CFileDialog&) override { return -1; }
};

// Loads libm3uiqt.so only when the first box or dialog is shown.
class LazyQtHost : public UiHost {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override {
    return Real().MessageBox(owner, text, caption, type);
  }
  INT_PTR RunDialog(CDialog& dialog) override { return Real().RunDialog(dialog); }
  INT_PTR RunSheet(CPropertySheet& sheet) override { return Real().RunSheet(sheet); }
  INT_PTR RunFileDialog(CFileDialog& dialog) override { return Real().RunFileDialog(dialog); }
  void SetWaitCursor(bool on) override {
    // Before anything is shown there is no cursor to change; do not load Qt for it.
    if (m_pReal != nullptr) m_pReal->SetWaitCursor(on);
  }

 private:
  UiHost& Real() {
    if (m_pReal == nullptr) m_pReal = Load();
    return *m_pReal;
  }
  static UiHost* Load() {
    static NoHost none;
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    // Qt ends the process when it cannot reach a display; find out first.
    if ((qpa == nullptr || *qpa == '\0') && (x11 == nullptr || *x11 == '\0') &&
        (wayland == nullptr || *wayland == '\0'))
      return &none;
    void* lib = LoadBesideExecutable("libm3uiqt.so");
    if (lib == nullptr) return &none;
    auto create = reinterpret_cast<UiHost* (*)()>(::dlsym(lib, "m3uiqt_create_host"));
    UiHost* host = create != nullptr ? create() : nullptr;
    return host != nullptr ? host : &none;
  }
  UiHost* m_pReal = nullptr;
};

UiHost* CreateHost() {
  const char* ui = std::getenv("MARLIN3_UI");
  if (ui != nullptr && ::strcasecmp(ui, "scripted") == 0) {
    const char* script = std::getenv("MARLIN3_UI_SCRIPT");
    const char* transcript = std::getenv("MARLIN3_UI_TRANSCRIPT");
    return new ScriptedHost(script != nullptr ? script : "", transcript != nullptr ? transcript : "");
  }
  return new LazyQtHost();
}

}  // namespace

namespace platform::ui {

UiHost& Host() {
  if (g_pTestHost != nullptr) return *g_pTestHost;
  static UiHost* host = CreateHost();
  return *host;
}

void SetHostForTesting(UiHost* host) {
  g_pTestHost = host;
}

void SetResourceModule(HMODULE module) {
  g_hResources = module;
  g_bResourcesTried = true;
}

HMODULE ResourceModule() {
  if (!g_bResourcesTried) {
    g_bResourcesTried = true;
    g_hResources = LoadBesideExecutable("libmarlin3.so");
  }
  return g_hResources;
}

const M3ResDialog* FindDialogTemplate(UINT id) {
  HMODULE module = ResourceModule();
  if (module == nullptr) return nullptr;
  auto dialogs = reinterpret_cast<const M3ResDialog* (*)(std::size_t*)>(::dlsym(module, "m3res_dialogs"));
  if (dialogs == nullptr) return nullptr;
  std::size_t count = 0;
  const M3ResDialog* table = dialogs(&count);
  if (table == nullptr) return nullptr;
  for (std::size_t i = 0; i < count; ++i)
    if (table[i].id == id) return &table[i];
  return nullptr;
}

bool LoadResourceString(UINT id, std::string& text) {
  text.clear();
  HMODULE module = ResourceModule();
  if (module == nullptr) return false;
  auto strings = reinterpret_cast<const M3ResString* (*)(std::size_t*)>(::dlsym(module, "m3res_strings"));
  if (strings == nullptr) return false;
  std::size_t count = 0;
  const M3ResString* table = strings(&count);
  const M3ResString* found = nullptr;
  for (std::size_t i = 0; table != nullptr && i < count; ++i) {
    if (table[i].id != id || table[i].text == nullptr) continue;
    if (found == nullptr || table[i].language == 1033) found = &table[i];
  }
  if (found == nullptr) return false;
  text = found->text;
  return true;
}

const M3ResIcon* FindResourceIcon(UINT id) {
  HMODULE module = ResourceModule();
  if (module == nullptr) return nullptr;
  auto icons = reinterpret_cast<const M3ResIcon* (*)(std::size_t*)>(::dlsym(module, "m3res_icons"));
  if (icons == nullptr) return nullptr;
  std::size_t count = 0;
  const M3ResIcon* table = icons(&count);
  for (std::size_t i = 0; table != nullptr && i < count; ++i)
    if (table[i].id == id && table[i].png != nullptr) return &table[i];
  return nullptr;
}

}  // namespace platform::ui
