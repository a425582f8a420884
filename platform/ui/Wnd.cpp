#include "platform/ui/Wnd.h"

#include "platform/ui/Dialog.h"
#include "platform/ui/UiHost.h"

void CWnd::ModifyStyle(std::uint32_t remove, std::uint32_t add) {
  m_nStyle = (m_nStyle & ~remove) | add;
  Changed();
}

void CWnd::SetWindowText(const std::string& text) {
  if (text == m_strText) return;
  m_strText = text;
  Changed();
}

BOOL CWnd::EnableWindow(BOOL enable) {
  const BOOL wasDisabled = !m_bEnabled;
  m_bEnabled = enable != FALSE;
  if (wasDisabled == m_bEnabled) Changed();
  return wasDisabled;
}

BOOL CWnd::ShowWindow(int command) {
  const BOOL wasVisible = m_bVisible;
  m_bVisible = command != SW_HIDE;
  if (wasVisible != m_bVisible) Changed();
  return wasVisible;
}

CWnd* CWnd::SetFocus() {
  if (m_pDialog == nullptr) return nullptr;
  CWnd* previous = m_pDialog->GetDlgItem(m_pDialog->GetFocusId());
  m_pDialog->SetFocusId(m_nId);
  return previous;
}

void CWnd::SetRedraw(BOOL redraw) {
  m_bRedraw = redraw != FALSE;
  if (m_bRedraw) Changed();
}

// The wait cursor is one per process, as the framework's is; nesting is counted by the host.
void CWnd::BeginWaitCursor() {
  platform::ui::Host().SetWaitCursor(true);
}
void CWnd::EndWaitCursor() {
  platform::ui::Host().SetWaitCursor(false);
}

void CWnd::AttachToDialog(CDialog* dialog, const M3ResControl& control) {
  m_pDialog = dialog;
  m_nId = control.id;
  m_nKind = control.kind;
  m_nStyle = control.style;
  m_nX = control.x;
  m_nY = control.y;
  m_nCx = control.cx;
  m_nCy = control.cy;
  m_strText = control.text != nullptr ? control.text : "";
  m_bEnabled = (control.style & M3_DISABLED) == 0;
  m_bVisible = (control.style & M3_HIDDEN) == 0;
}

void CWnd::TakeStateFrom(const CWnd& other) {
  m_pDialog = other.m_pDialog;
  m_nId = other.m_nId;
  m_nKind = other.m_nKind;
  m_nStyle = other.m_nStyle;
  m_nX = other.m_nX;
  m_nY = other.m_nY;
  m_nCx = other.m_nCx;
  m_nCy = other.m_nCy;
  m_strText = other.m_strText;
  m_bEnabled = other.m_bEnabled;
  m_bVisible = other.m_bVisible;
}

void CWnd::Changed() {
  if (m_pDialog != nullptr && m_bRedraw) m_pDialog->OnControlChanged(*this);
}

void CWnd::Notify(UINT code) {
  if (m_pDialog != nullptr) m_pDialog->OnCommand(m_nId, code);
}
