// UiHost: what shows the control model to someone. The host is chosen once per process by MARLIN3_UI:
// "qt" (default; Qt 6 Widgets in libm3uiqt.so, loaded when the first box or dialog is shown, so the
// program starts fast and runs without a display) or "scripted" (ScriptedHost). Host() never fails: a
// Qt host that cannot start (no display, an unreachable one, no Qt) and an unknown MARLIN3_UI value
// stand in as a host that shows nothing (message boxes 0, dialogs -1), after one line on standard
// error saying why.
#pragma once

#include <string>

#include "platform/ui/UiTypes.h"

class CDialog;
class CPropertySheet;
class CFileDialog;

class UiHost {
 public:
  virtual ~UiHost() = default;
  // The ID of the button pressed, 0 when the box cannot be shown.
  virtual int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
  // Run an initialised dialog (OnInitDialog done) until it ends; -1 when it cannot be shown.
  virtual INT_PTR RunDialog(CDialog& dialog) = 0;
  virtual INT_PTR RunSheet(CPropertySheet& sheet) = 0;
  // IDOK after CFileDialog::Accept, IDCANCEL, or -1.
  virtual INT_PTR RunFileDialog(CFileDialog& dialog) = 0;
  // Begin (true) or end (false) one level of the wait cursor; the hosts count the levels.
  virtual void SetWaitCursor(bool on) {}
  // A modeless dialog after its OnInitDialog (CDialog::Create), shown when its template is visible;
  // false when it cannot be made. DestroyModeless takes it away again.
  virtual bool CreateModeless(CDialog& dialog) { return true; }
  virtual void DestroyModeless(CDialog& dialog) {}
  // Lets the shown modeless dialogs update and take the user's input while the program is busy on
  // the UI thread (a scan's progress window): whatever the user did runs in the model before this
  // returns. Call it a few times a second; it never waits for input.
  virtual void PumpEvents() {}
};

namespace platform::ui {

UiHost& Host();
// Tests: use this host from now on (null returns to the one MARLIN3_UI chooses).
// With MARLIN3_UI=scripted, starts the scripted host now rather than at the first box, so its check
// for script lines left over runs at exit even when nothing is shown (the application object calls it).
void StartScriptedHost();

void SetHostForTesting(UiHost* host);
// The resource library dialogs, page titles and icons come from: the one the application set (the
// framework's resource handle passes it on), else "marlin3.dll" loaded on first use. Lookups go
// through platform/resource with this handle.
void SetResourceModule(HMODULE module);
HMODULE ResourceModule();
// An icon of the resource library by number, or a stock icon (IDI_WARNING ...); null when missing.
HICON LoadIcon(UINT id);
// The caption of the framework's own message boxes (data exchange): the application's name, set by
// the application object; the executable's name until then.
void SetAppName(const std::string& name);
std::string AppName();

}  // namespace platform::ui

// The entry point libm3uiqt.so exports: a new Qt host, or null when Qt cannot start.
extern "C" UiHost* m3uiqt_create_host();
