#include "platform/ui/Dialog.h"

#include <algorithm>
#include <cstring>

#include "platform/resource/Resource.h"
#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/Edit.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/ProgressCtrl.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParentWnd(parent) {
  m_systemMenu.ResetToDialogDefaults();
}

CDialog::~CDialog() {
  if (m_bModeless) DestroyWindow();
}

static std::unique_ptr<CWnd> MakeControl(std::uint16_t kind) {
  switch (kind) {
    case M3_PUSHBUTTON:
    case M3_DEFPUSHBUTTON:
    case M3_CHECKBOX:
    case M3_RADIOBUTTON:
      return std::make_unique<CButton>();
    case M3_EDIT:
      return std::make_unique<CEdit>();
    case M3_COMBO_DROPDOWN:
    case M3_COMBO_DROPLIST:
      return std::make_unique<CComboBox>();
    case M3_LISTBOX:
      return std::make_unique<CListBox>();
    case M3_SLIDER:
      return std::make_unique<CSliderCtrl>();
    case M3_TREEVIEW:
      return std::make_unique<CTreeCtrl>();
    case M3_PROGRESS:
      return std::make_unique<CProgressCtrl>();
    default:
      return std::make_unique<CStatic>();
  }
}

bool CDialog::CreateControls() {
  if (m_bCreated) return true;
  const M3ResDialog* t = platform::resource::FindDialog(platform::ui::ResourceModule(), m_nTemplateId);
  if (t == nullptr || (t->controlCount > 0 && t->controls == nullptr)) return false;
  m_nId = 0;
  m_nKind = 0;
  m_nCx = t->cx;
  m_nCy = t->cy;
  if (m_strText.empty() && t->caption != nullptr) m_strText = t->caption;
  m_strFont = t->fontName != nullptr ? t->fontName : "";
  m_nFontSize = t->fontSize > 0 ? t->fontSize : 8;
  for (std::uint32_t i = 0; i < t->controlCount; ++i) {
    auto control = MakeControl(t->controls[i].kind);
    control->AttachToDialog(this, t->controls[i]);
    m_controls.push_back(control.get());
    m_owned.push_back(std::move(control));
  }
  m_bCreated = true;
  return true;
}

CWnd* CDialog::GetDlgItem(int id) const {
  // IDC_STATIC (-1) names no control, however many carry it.
  if (id == -1) return nullptr;
  for (CWnd* w : m_controls)
    if (w->GetDlgCtrlID() == id) return w;
  return nullptr;
}

bool CDialog::BindControl(int id, CWnd& member) {
  for (CWnd*& w : m_controls) {
    if (w->GetDlgCtrlID() != id) continue;
    if (w == &member) return true;
    member.TakeStateFrom(*w);
    w = &member;
    OnControlChanged(member);
    return true;
  }
  return false;
}

void CDialog::SetFocusId(int id) {
  m_nFocusId = id;
  if (m_pView != nullptr) m_pView->DialogChanged(*this);
}

void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control != nullptr) SetFocusId(control->GetDlgCtrlID());
}

BOOL CDialog::EnableToolTips(BOOL enable) {
  m_bToolTips = enable != FALSE;
  return TRUE;
}

std::string CDialog::ToolTipFor(int id) {
  if (!m_bToolTips) return {};
  char buffer[kToolTipBufferSize] = {};
  if (!OnToolTipText(id, buffer)) return {};
  buffer[kToolTipBufferSize - 1] = '\0';
  return buffer;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return dx.Failed() ? FALSE : TRUE;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  if (CWnd* w = GetDlgItem(id)) w->SetWindowText(text);
}

std::string CDialog::GetDlgItemText(int id) const {
  CWnd* w = GetDlgItem(id);
  return w != nullptr ? w->GetWindowText() : std::string();
}

void CDialog::CheckDlgButton(int id, UINT check) {
  if (auto* b = GetDlgItemAs<CButton>(id)) b->SetCheck(static_cast<int>(check));
}

UINT CDialog::IsDlgButtonChecked(int id) const {
  auto* b = GetDlgItemAs<CButton>(id);
  return b != nullptr ? static_cast<UINT>(b->GetCheck()) : 0;
}

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id)
    if (auto* b = GetDlgItemAs<CButton>(id)) b->SetCheck(id == checkId ? BST_CHECKED : BST_UNCHECKED);
}

int CDialog::GetCheckedRadioButton(int firstId, int lastId) const {
  for (int id = firstId; id <= lastId; ++id) {
    auto* b = GetDlgItemAs<CButton>(id);
    if (b != nullptr && b->IsRadio() && b->GetCheck() == BST_CHECKED) return id;
  }
  return 0;
}

std::vector<int> CDialog::RadioGroup(int firstId) const {
  std::vector<int> ids;
  if (firstId == -1) return ids;
  auto it = std::find_if(m_controls.begin(), m_controls.end(),
                         [&](CWnd* w) { return w->GetDlgCtrlID() == firstId; });
  for (auto i = it; i != m_controls.end(); ++i) {
    if (i != it && ((*i)->GetStyle() & M3_GROUP) != 0) break;
    auto* b = dynamic_cast<CButton*>(*i);
    if (b != nullptr && b->IsRadio()) ids.push_back(b->GetDlgCtrlID());
  }
  return ids;
}

int CDialog::GroupStart(int id) const {
  auto it =
      std::find_if(m_controls.begin(), m_controls.end(), [&](CWnd* w) { return w->GetDlgCtrlID() == id; });
  if (it == m_controls.end()) return id;
  while (it != m_controls.begin() && ((*it)->GetStyle() & M3_GROUP) == 0) --it;
  // Radio buttons before the first one of the group (a label that starts it) are not part of it.
  while (it != m_controls.end()) {
    auto* b = dynamic_cast<CButton*>(*it);
    if (b != nullptr && b->IsRadio()) return b->GetDlgCtrlID();
    ++it;
  }
  return id;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
  m_bEnded = true;
  m_nResult = result;
  if (m_pView != nullptr) m_pView->Ended(result);
}

void CDialog::OnCommandMap(int id, UINT code, Handler handler) {
  m_handlers[{id, code}] = std::move(handler);
}

BOOL CDialog::OnCommand(int id, UINT code) {
  auto it = m_handlers.find({id, code});
  if (it != m_handlers.end()) {
    // A copy: the handler may map handlers itself.
    Handler h = it->second;
    h();
    return TRUE;
  }
  if (code == BN_CLICKED && id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (code == BN_CLICKED && id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

void CDialog::OnControlChanged(CWnd& control) {
  if (m_pView != nullptr) m_pView->ControlChanged(control);
}

void CDialog::SetWindowText(const std::string& text) {
  m_strText = text;
  if (m_pView != nullptr) m_pView->DialogChanged(*this);
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
  if (m_bHasWindow) return FALSE;
  m_nTemplateId = templateId;
  m_pParentWnd = parent;
  ResetEnd();
  m_controls.clear();
  m_owned.clear();
  m_bCreated = false;
  m_nFocusId = 0;
  if (!CreateControls()) return FALSE;
  // A template without the visible style: the window stays hidden until the program shows it.
  m_bVisible = false;
  m_bModeless = true;
  m_bHasWindow = true;
  OnInitDialog();
  if (!platform::ui::Host().CreateModeless(*this)) {
    m_bModeless = false;
    m_bHasWindow = false;
    return FALSE;
  }
  return TRUE;
}

BOOL CDialog::DestroyWindow() {
  if (!m_bHasWindow) return FALSE;
  if (m_bModeless) platform::ui::Host().DestroyModeless(*this);
  m_bModeless = false;
  m_bHasWindow = false;
  m_pView = nullptr;
  return TRUE;
}

BOOL CDialog::ShowWindow(int command) {
  const BOOL was = CWnd::ShowWindow(command);
  if (m_pView != nullptr && was != m_bVisible) m_pView->DialogChanged(*this);
  return was;
}

CMenu* CDialog::GetSystemMenu(BOOL revert) {
  if (revert) {
    m_systemMenu.ResetToDialogDefaults();
    if (m_pView != nullptr) m_pView->DialogChanged(*this);
    return nullptr;
  }
  return &m_systemMenu;
}

void CDialog::OnSysCommand(UINT id, LPARAM) {
  // The system's commands keep their low four bits for itself.
  if ((id & 0xFFF0) == SC_CLOSE) OnCommand(IDCANCEL, BN_CLICKED);
}

HICON CDialog::SetIcon(HICON icon, BOOL big) {
  HICON& slot = big ? m_hBigIcon : m_hSmallIcon;
  HICON old = slot;
  slot = icon;
  if (m_pView != nullptr) m_pView->DialogChanged(*this);
  return old;
}

INT_PTR CDialog::DoModal() {
  ResetEnd();
  // Every run starts from the template again, as a new window would.
  m_controls.clear();
  m_owned.clear();
  m_bCreated = false;
  m_nFocusId = 0;
  return RunModal();
}

INT_PTR CDialog::RunModal() {
  if (!CreateControls()) return -1;
  m_bHasWindow = true;
  const INT_PTR result = RunCreated();
  m_bHasWindow = false;
  return result;
}

INT_PTR CDialog::RunCreated() {
  if (OnInitDialog() && m_nFocusId == 0) {
    // TRUE from OnInitDialog: the focus goes to the first control that can take it.
    for (CWnd* w : m_controls) {
      if (w->IsWindowEnabled() && w->IsWindowVisible() && (w->GetStyle() & M3_TABSTOP) != 0) {
        m_nFocusId = w->GetDlgCtrlID();
        break;
      }
    }
  }
  if (m_bEnded) return m_nResult;
  return platform::ui::Host().RunDialog(*this);
}
