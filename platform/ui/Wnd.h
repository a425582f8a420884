// CWnd: the base of every window of the ui layer's control model (controls and dialogs). It keeps what
// Win32 keeps for a child window: the control number, its template kind and style, its place in dialog
// units, its text, enabled and visible state. Changes are reported to the dialog, which passes them to
// the host showing it; the model alone decides behaviour, so the scripted and the Qt host agree.
#pragma once

#include <string>

#include "platform/resource/ResourceFormat.h"
#include "platform/ui/UiTypes.h"

class CDialog;

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  int GetDlgCtrlID() const { return m_nId; }
  std::uint16_t GetKind() const { return m_nKind; }
  std::uint32_t GetStyle() const { return m_nStyle; }
  void ModifyStyle(std::uint32_t remove, std::uint32_t add);
  // Place in dialog units, as the template gives it.
  int GetX() const { return m_nX; }
  int GetY() const { return m_nY; }
  int GetWidth() const { return m_nCx; }
  int GetHeight() const { return m_nCy; }

  virtual void SetWindowText(const std::string& text);
  virtual std::string GetWindowText() const { return m_strText; }
  int GetWindowTextLength() const { return static_cast<int>(GetWindowText().size()); }

  // Both return the previous state, as Win32 does (EnableWindow: nonzero when it was disabled).
  BOOL EnableWindow(BOOL enable);
  BOOL IsWindowEnabled() const { return m_bEnabled; }
  virtual BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const { return m_bVisible; }
  // Moves the keyboard focus to this window; returns the window that had it (or null).
  CWnd* SetFocus();
  void SetRedraw(BOOL redraw);
  bool IsRedrawOn() const { return m_bRedraw; }
  void BeginWaitCursor();
  void EndWaitCursor();
  HWND GetSafeHwnd() { return this; }
  CDialog* GetParentDialog() const { return m_pDialog; }

  // Framework: placed into a dialog from a template control, or bound to one (the member takes over
  // the created control's place and state).
  void AttachToDialog(CDialog* dialog, const M3ResControl& control);
  virtual void TakeStateFrom(const CWnd& other);
  // Reports this control's change to the dialog's host.
  void Changed();
  // Sends a notification code to the dialog (WM_COMMAND / WM_NOTIFY).
  void Notify(UINT code);

 protected:
  CDialog* m_pDialog = nullptr;
  int m_nId = 0;
  std::uint16_t m_nKind = 0;
  std::uint32_t m_nStyle = 0;
  int m_nX = 0, m_nY = 0, m_nCx = 0, m_nCy = 0;
  std::string m_strText;
  bool m_bEnabled = true;
  bool m_bVisible = true;
  bool m_bRedraw = true;
};

// A static text, a group box or an icon: nothing beyond the base (progress bars: CProgressCtrl).
class CStatic : public CWnd {};
