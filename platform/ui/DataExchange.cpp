#include "platform/ui/DataExchange.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Edit.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/UiHost.h"

namespace {

// The framework's own texts; they are not in the program's resource library.
constexpr const char* kParseInt = "Please enter an integer.";
constexpr const char* kParseReal = "Please enter a number.";
constexpr const char* kStringSize = "Please enter no more than %d characters.";

}  // namespace

void CDataExchange::Fail() {
  if (m_bFailed) return;
  m_bFailed = true;
  if (!m_bSaveAndValidate || m_pDlgWnd == nullptr) return;
  CWnd* w = m_pDlgWnd->GetDlgItem(m_idLastControl);
  if (w == nullptr) return;
  m_pDlgWnd->GotoDlgCtrl(w);
  if (auto* e = dynamic_cast<CEdit*>(w)) e->SetSel(0, -1);
}

void CDataExchange::FailWithMessage(const std::string& text) {
  if (m_bFailed) return;
  MessageBoxA(nullptr, text.c_str(), platform::ui::AppName().c_str(), MB_OK | MB_ICONEXCLAMATION);
  Fail();
}

CWnd* CDataExchange::Control(int id) {
  // The framework's exchange ends at the first failure.
  if (m_bFailed) return nullptr;
  m_idLastControl = id;
  CWnd* w = m_pDlgWnd != nullptr ? m_pDlgWnd->GetDlgItem(id) : nullptr;
  if (w == nullptr) Fail();
  return w;
}

template <class T>
static T* Typed(CDataExchange* pDX, int id) {
  auto* t = dynamic_cast<T*>(pDX->Control(id));
  if (t == nullptr) pDX->Fail();
  return t;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (pDX->Failed()) return;
  if (pDX->m_pDlgWnd == nullptr || !pDX->m_pDlgWnd->BindControl(id, control)) pDX->Fail();
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  CWnd* w = pDX->Control(id);
  if (w == nullptr) return;
  if (pDX->m_bSaveAndValidate)
    value = w->GetWindowText();
  else
    w->SetWindowText(value);
}

static std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  CWnd* w = pDX->Control(id);
  if (w == nullptr) return;
  if (!pDX->m_bSaveAndValidate) {
    w->SetWindowText(std::to_string(value));
    return;
  }
  const std::string text = Trimmed(w->GetWindowText());
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
    pDX->FailWithMessage(kParseInt);
    return;
  }
  value = static_cast<int>(v);
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
  CWnd* w = pDX->Control(id);
  if (w == nullptr) return;
  if (!pDX->m_bSaveAndValidate) {
    // Enough digits to give the value back unchanged, without trailing zeros (%.15g as the framework).
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    w->SetWindowText(buffer);
    return;
  }
  const std::string text = Trimmed(w->GetWindowText());
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE) {
    pDX->FailWithMessage(kParseReal);
    return;
  }
  value = v;
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  auto* b = Typed<CButton>(pDX, id);
  if (b == nullptr) return;
  if (pDX->m_bSaveAndValidate)
    value = b->GetCheck();
  else
    b->SetCheck(value);
}

void DDX_Radio(CDataExchange* pDX, int id, int& value) {
  if (pDX->Control(id) == nullptr) return;
  const std::vector<int> group = pDX->m_pDlgWnd->RadioGroup(id);
  if (group.empty()) {
    pDX->Fail();
    return;
  }
  if (pDX->m_bSaveAndValidate) {
    value = -1;
    for (std::size_t i = 0; i < group.size(); ++i)
      if (pDX->m_pDlgWnd->IsDlgButtonChecked(group[i]) == BST_CHECKED) value = static_cast<int>(i);
    return;
  }
  for (std::size_t i = 0; i < group.size(); ++i)
    pDX->m_pDlgWnd->CheckDlgButton(group[i], static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& value) {
  auto* c = Typed<CComboBox>(pDX, id);
  if (c == nullptr) return;
  if (pDX->m_bSaveAndValidate)
    value = c->GetCurSel();
  else
    c->SetCurSel(value);
}

void DDX_CBString(CDataExchange* pDX, int id, std::string& value) {
  auto* c = Typed<CComboBox>(pDX, id);
  if (c == nullptr) return;
  if (pDX->m_bSaveAndValidate) {
    value = c->GetWindowText();
  } else if (c->SelectString(-1, value) == CB_ERR) {
    c->SetWindowText(value);
  }
}

void DDX_LBIndex(CDataExchange* pDX, int id, int& value) {
  auto* l = Typed<CListBox>(pDX, id);
  if (l == nullptr) return;
  if (pDX->m_bSaveAndValidate)
    value = l->GetCurSel();
  else
    l->SetCurSel(value);
}

void DDX_LBString(CDataExchange* pDX, int id, std::string& value) {
  auto* l = Typed<CListBox>(pDX, id);
  if (l == nullptr) return;
  if (pDX->m_bSaveAndValidate) {
    const int i = l->GetCurSel();
    value.clear();
    if (i != LB_ERR) l->GetText(i, value);
  } else if (value.empty()) {
    l->SetCurSel(-1);
  } else {
    l->SelectString(-1, value);
  }
}

void DDX_Slider(CDataExchange* pDX, int id, int& value) {
  auto* s = Typed<CSliderCtrl>(pDX, id);
  if (s == nullptr) return;
  if (pDX->m_bSaveAndValidate)
    value = s->GetPos();
  else
    s->SetPos(value);
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count) {
  if (pDX->Failed()) return;
  if (pDX->m_bSaveAndValidate) {
    // Characters, not bytes: a UTF-8 sequence is one character.
    int chars = 0;
    for (unsigned char c : value) chars += (c & 0xC0) != 0x80 ? 1 : 0;
    if (chars > count) {
      char text[96];
      std::snprintf(text, sizeof text, kStringSize, count);
      pDX->FailWithMessage(text);
    }
    return;
  }
  if (pDX->m_pDlgWnd == nullptr) return;
  CWnd* w = pDX->m_pDlgWnd->GetDlgItem(pDX->m_idLastControl);
  if (auto* e = dynamic_cast<CEdit*>(w)) e->SetLimitText(count);
  if (auto* c = dynamic_cast<CComboBox*>(w)) c->LimitText(count);
}
