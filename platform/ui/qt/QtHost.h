// QtHost: the ui layer's host for people, on Qt 6 Widgets with the Fusion style and the system font.
// It lives in libm3uiqt.so and is created through m3uiqt_create_host the first time a box or dialog is
// shown; it makes the QApplication then, unless the process (a QTest program) already has one.
#pragma once

#include <QStringList>

#include "platform/ui/UiHost.h"

class QtHost : public UiHost {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  INT_PTR RunDialog(CDialog& dialog) override;
  INT_PTR RunSheet(CPropertySheet& sheet) override;
  INT_PTR RunFileDialog(CFileDialog& dialog) override;
  void SetWaitCursor(bool on) override;

  // Makes the QApplication when there is none; false when Qt cannot start.
  static bool EnsureApplication();
  // Qt's name filters for the framework's filter pairs ("*.*" becomes "*").
  static QStringList NameFilters(const CFileDialog& dialog);
};
