#include "platform/ui/UiHost.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"
#include "platform/ui/ScriptedHost.h"

namespace {

UiHost* g_pTestHost = nullptr;
HMODULE g_hResources = nullptr;
bool g_bResourcesTried = false;

std::string& AppNameText() {
  static std::string name = program_invocation_short_name != nullptr ? program_invocation_short_name : "";
  return name;
}

// Stands in when nothing can be shown: boxes answer 0 and dialogs -1, as Windows does without a desktop.
class NoHost : public UiHost {
 public:
  int MessageBox(HWND, const std::string&, const std::string&, UINT) override { return 0; }
  INT_PTR RunDialog(CDialog&) override { return -1; }
  // A modeless window needs nobody to answer it: it exists in the model (the hidden TWAIN window).
  bool CreateModeless(CDialog&) override { return true; }
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
  bool CreateModeless(CDialog& dialog) override { return Real().CreateModeless(dialog); }
  void DestroyModeless(CDialog& dialog) override {
    if (m_pReal != nullptr) m_pReal->DestroyModeless(dialog);
  }
  void PumpEvents() override {
    if (m_pReal != nullptr) m_pReal->PumpEvents();
  }
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
        (wayland == nullptr || *wayland == '\0')) {
      Say("no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset)");
      return &none;
    }
    HMODULE lib = LoadLibraryA("m3uiqt.dll");
    if (lib == nullptr) {
      Say("the Qt user interface library m3uiqt is missing");
      return &none;
    }
    // The library says itself why it cannot start (an unreachable display, for one).
    auto create = reinterpret_cast<UiHost* (*)()>(GetProcAddress(lib, "m3uiqt_create_host"));
    UiHost* host = create != nullptr ? create() : nullptr;
    return host != nullptr ? host : &none;
  }
  static void Say(const std::string& why) {
    std::fprintf(stderr, "%s: %s; message boxes and dialogs are not shown\n", AppNameText().c_str(),
                 why.c_str());
  }
  UiHost* m_pReal = nullptr;
};

UiHost* CreateHost() {
  const char* ui = std::getenv("MARLIN3_UI");
  if (ui != nullptr && ::strcasecmp(ui, "scripted") == 0) {
    const char* script = std::getenv("MARLIN3_UI_SCRIPT");
    const char* transcript = std::getenv("MARLIN3_UI_TRANSCRIPT");
    auto* host = new ScriptedHost(script != nullptr ? script : "", transcript != nullptr ? transcript : "");
    host->EnableLeftoverCheck();
    return host;
  }
  if (ui == nullptr || *ui == '\0' || ::strcasecmp(ui, "qt") == 0) return new LazyQtHost();
  // A misspelt host must not quietly put windows in front of a person or a test.
  std::fprintf(stderr,
               "%s: MARLIN3_UI=\"%s\" is not a user interface (qt or scripted); message boxes and "
               "dialogs are not shown\n",
               AppNameText().c_str(), ui);
  return new NoHost();
}

}  // namespace

namespace platform::ui {

UiHost& Host() {
  if (g_pTestHost != nullptr) return *g_pTestHost;
  static UiHost* host = CreateHost();
  return *host;
}

void StartScriptedHost() {
  const char* ui = std::getenv("MARLIN3_UI");
  if (ui != nullptr && ::strcasecmp(ui, "scripted") == 0) Host();
}

void SetHostForTesting(UiHost* host) {
  g_pTestHost = host;
}

void SetResourceModule(HMODULE module) {
  g_hResources = module;
  g_bResourcesTried = true;
}

void SetAppName(const std::string& name) {
  AppNameText() = name;
}

HICON LoadIcon(UINT id) {
  static const M3ResIcon kStock[] = {{IDI_APPLICATION, nullptr, 0},
                                     {IDI_ERROR, nullptr, 0},
                                     {IDI_QUESTION, nullptr, 0},
                                     {IDI_WARNING, nullptr, 0},
                                     {IDI_INFORMATION, nullptr, 0}};
  for (const auto& icon : kStock)
    if (icon.id == id) return &icon;
  return platform::resource::FindIcon(ResourceModule(), id);
}

std::string AppName() {
  return AppNameText();
}

HMODULE ResourceModule() {
  if (!g_bResourcesTried) {
    g_bResourcesTried = true;
    g_hResources = LoadLibraryA("marlin3.dll");
  }
  return g_hResources;
}

}  // namespace platform::ui
