#include "ui/DeviceNamePrompt.h"

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/MessageBox.h"
#include "ui/QsStrings.h"

namespace {

constexpr int kIdName = 1021;
constexpr int kIdQsText = 1056;
constexpr int kIdPrefix = 1061;

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

DeviceNamePrompt::DeviceNamePrompt(const std::string& qsText, int checking, CWnd* parent)
    : CDialog(IDD, parent), m_strQsText(qsText), m_nChecking(checking) {}

void DeviceNamePrompt::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kIdName, m_NameEdit);
  DDX_Text(pDX, kIdName, m_strName);
}

BOOL DeviceNamePrompt::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CDialog::OnInitDialog();
  if (m_nChecking != 0) {
    if (m_ValueGetter.IsNetworked()) {
      m_ValueGetter.GetNetworkPrefix(m_strNetworkPrefix);
      if (!m_strNetworkPrefix.empty()) SetDlgItemText(kIdPrefix, m_strNetworkPrefix);
      m_NameEdit.LimitText(kNetworkedLimit);
    } else {
      m_NameEdit.LimitText(kDirectLimit);
    }
    UpdateData(FALSE);
  } else {
    m_strQsText = "USER_DEFINED";
  }
  SetDlgItemText(kIdQsText, m_strQsText);
  return TRUE;
}

void DeviceNamePrompt::OnOK() {
  DebugTrace trace("OnOK", __FILE__);
  UpdateData(TRUE);
  if (m_nChecking != 0) {
    m_strName = TrimBlanks(m_strName);
    if (m_strName.empty()) {
      qs::WizardMessage(qs::kIdsDevNameEmpty, trace, __LINE__);
      return;
    }
    std::string invalid;
    if (m_ValueGetter.FindInvalidChar(m_strName, invalid)) {
      std::string caption;
      if (!AfxLoadString(qs::kIdsWizardMsgCaption, caption)) trace.Error(TRACE_NUMBERED("LoadString failed"));
      const std::string text = qs::Format2(qs::kIdsDevNameInvalid, invalid, "", trace, __LINE__);
      trace.Write(text);
      MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
      return;
    }
    if (m_ValueGetter.IsDupDevName(m_strName, m_strQsText)) {
      qs::WizardMessage(qs::kIdsDevNameDup, trace, __LINE__);
      trace.Error("Duplicate device name");
      return;
    }
  } else {
    ShowErrorMessages();
  }
  m_strAnswer = m_strNetworkPrefix + m_strName;
  EndDialog(IDOK);
}

void DeviceNamePrompt::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  qs::WizardMessage(qs::kIdsDevNameEmpty, trace, __LINE__);
}
