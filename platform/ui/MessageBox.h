// Message boxes of the ui layer, in the shape of Win32 MessageBoxA: a text, a caption, the MB_ button
// and icon flags, and the ID of the button pressed. The host is chosen once per process by MARLIN3_UI:
// "qt" (default; Qt 6 Widgets, loaded only when the first box or dialog is shown) or "scripted"
// (answers from the script file $MARLIN3_UI_SCRIPT and appends to $MARLIN3_UI_TRANSCRIPT).
#pragma once

#include "platform/base/WinTypes.h"

enum : UINT {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_ICONHAND = 0x10,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_ICONASTERISK = 0x40,
  MB_DEFBUTTON2 = 0x100,
  MB_TYPEMASK = 0xF,
  MB_ICONMASK = 0xF0,
};

enum : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDABORT = 3,
  IDRETRY = 4,
  IDIGNORE = 5,
  IDYES = 6,
  IDNO = 7,
};

// Returns the ID of the button pressed, or 0 when the box could not be shown (as Windows does).
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
