// CDialog: a dialog of the control model, built from a dialog template of the resource library and
// shown by the process's host (Qt or scripted). Subclasses override OnInitDialog, OnOK, OnCancel
// and DoDataExchange, and map control notifications to handlers with OnCommandMap. DoModal returns the
// EndDialog value (IDOK, IDCANCEL or any other), or -1 when the template is missing or no host can
// show the dialog. Controls are addressed by number; a control member is bound with BindControl.
// Create makes a modeless dialog instead (hidden until ShowWindow(SW_SHOW)), which lives until
// DestroyWindow. The window menu (GetSystemMenu) takes the program's items; choosing one calls
// OnSysCommand. SetIcon gives the window its title-bar (small) and task-switcher (big) icon.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui/DialogView.h"
#include "platform/ui/Menu.h"
#include "platform/ui/Wnd.h"

class CDataExchange;

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  virtual INT_PTR DoModal();
  virtual void EndDialog(int result);
  // Modeless: creates the controls, runs OnInitDialog and hands the dialog to the host. FALSE when
  // the template is missing or the host cannot make the window.
  virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
  // Ends a modeless dialog's window (its controls go); FALSE when there is none.
  virtual BOOL DestroyWindow();
  bool IsModeless() const { return m_bModeless; }
  // The window while it exists (between Create and DestroyWindow, or while DoModal runs), else null.
  HWND GetSafeHwnd() { return m_bHasWindow ? static_cast<HWND>(this) : nullptr; }
  BOOL ShowWindow(int command) override;

  // The window menu; revert TRUE puts back the standard items and returns null, as Win32 does.
  CMenu* GetSystemMenu(BOOL revert);
  const CMenu& SystemMenu() const { return m_systemMenu; }
  // A window-menu command (low four bits are the system's): SC_CLOSE cancels, others do nothing.
  virtual void OnSysCommand(UINT id, LPARAM param);
  // Returns the icon set before for that size.
  HICON SetIcon(HICON icon, BOOL big);
  HICON GetIcon(BOOL big) const { return big ? m_hBigIcon : m_hSmallIcon; }
  UINT GetTemplateId() const { return m_nTemplateId; }

  CWnd* GetDlgItem(int id) const;
  template <class T>
  T* GetDlgItemAs(int id) const {
    return dynamic_cast<T*>(GetDlgItem(id));
  }
  // Replaces the control created from the template by a member of the dialog's own (DDX_Control).
  bool BindControl(int id, CWnd& member);

  // FALSE: controls to fields (initialising); TRUE: fields from controls. False when an exchange failed.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int firstId, int lastId, int checkId);
  int GetCheckedRadioButton(int firstId, int lastId) const;
  // The radio buttons from firstId up to the next control that starts a group, in template order.
  std::vector<int> RadioGroup(int firstId) const;
  // The control that starts the group holding id (id itself when none before it does).
  int GroupStart(int id) const;
  void GotoDlgCtrl(CWnd* control);
  int GetFocusId() const { return m_nFocusId; }
  void SetFocusId(int id);
  BOOL EnableToolTips(BOOL enable = TRUE);
  bool ToolTipsEnabled() const { return m_bToolTips; }

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void DoDataExchange(CDataExchange* pDX) {}
  // Dispatches a notification: mapped handlers first, then IDOK / IDCANCEL clicks. TRUE when handled.
  virtual BOOL OnCommand(int id, UINT code);
  // Fills buffer (kToolTipBufferSize characters with terminator) with a control's tool tip.
  virtual BOOL OnToolTipText(int id, char* buffer) { return FALSE; }
  // Asks OnToolTipText for a control's tip, when tool tips are on; empty when there is none.
  std::string ToolTipFor(int id);

  // What a host calls when the user picks a window-menu item.
  void UserSysCommand(UINT id) { OnSysCommand(id, 0); }

  // Framework part used by the hosts and the property sheet.
  bool CreateControls();
  bool ControlsCreated() const { return m_bCreated; }
  const std::vector<CWnd*>& Controls() const { return m_controls; }
  int GetTemplateWidth() const { return m_nCx; }
  int GetTemplateHeight() const { return m_nCy; }
  const std::string& GetFontName() const { return m_strFont; }
  int GetFontSize() const { return m_nFontSize; }
  bool IsEnded() const { return m_bEnded; }
  INT_PTR GetResult() const { return m_nResult; }
  void SetView(DialogView* view) { m_pView = view; }
  DialogView* GetView() const { return m_pView; }
  CWnd* GetParentWnd() const { return m_pParentWnd; }
  void OnControlChanged(CWnd& control);
  void SetWindowText(const std::string& text) override;

 protected:
  using Handler = std::function<void()>;
  void OnCommandMap(int id, UINT code, Handler handler);
  void OnClicked(int id, Handler handler) { OnCommandMap(id, BN_CLICKED, std::move(handler)); }
  // Creates the controls, runs OnInitDialog and the host; what DoModal does after the checks.
  INT_PTR RunModal();
  INT_PTR RunCreated();
  // A property page has its window while its sheet shows it.
  void SetHasWindow(bool has) { m_bHasWindow = has; }
  void ResetEnd() {
    m_bEnded = false;
    m_nResult = 0;
  }

  UINT m_nTemplateId;
  CWnd* m_pParentWnd;

 private:
  std::vector<std::unique_ptr<CWnd>> m_owned;
  std::vector<CWnd*> m_controls;
  std::map<std::pair<int, UINT>, Handler> m_handlers;
  DialogView* m_pView = nullptr;
  std::string m_strFont;
  int m_nFontSize = 8;
  bool m_bCreated = false;
  bool m_bEnded = false;
  bool m_bToolTips = false;
  INT_PTR m_nResult = 0;
  int m_nFocusId = 0;
  CMenu m_systemMenu;
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  bool m_bModeless = false;
  bool m_bHasWindow = false;
};
