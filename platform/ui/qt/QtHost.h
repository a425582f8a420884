// QtHost: the ui layer's host for people, on Qt 6 Widgets with the desktop's style (Fusion when it has
// none) and the system font. It lives in libm3uiqt.so and is created through m3uiqt_create_host the
// first time a box or dialog is shown; it makes the QApplication then, unless the process (a QTest
// program) already has one, after making sure the display can be reached (Qt would abort otherwise).
#pragma once

#include <QStringList>
#include <map>
#include <memory>

#include "platform/ui/UiHost.h"

class QDialog;
class QtDialogView;

class QtHost : public UiHost {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  INT_PTR RunDialog(CDialog& dialog) override;
  INT_PTR RunSheet(CPropertySheet& sheet) override;
  INT_PTR RunFileDialog(CFileDialog& dialog) override;
  void SetWaitCursor(bool on) override;
  bool CreateModeless(CDialog& dialog) override;
  void DestroyModeless(CDialog& dialog) override;
  void PumpEvents() override;
  int WaitCursorDepth() const { return m_nWaitCursor; }

  // Makes the QApplication when there is none; false when Qt cannot start.
  static bool EnsureApplication();
  // Qt's name filters for the framework's filter pairs ("*.*" becomes "*").
  static QStringList NameFilters(const CFileDialog& dialog);
  // Style, icon theme fallback and the program's window icon (128).
  static void ApplyLook();
  // Fixed at the template's size, or resizable down to it when the dialog can grow.
  static void Size(QDialog& window, QtDialogView& view);

 private:
  struct Modeless {
    std::unique_ptr<QDialog> window;
    std::unique_ptr<QtDialogView> view;
  };
  std::map<CDialog*, Modeless> m_modeless;
  int m_nWaitCursor = 0;
};
