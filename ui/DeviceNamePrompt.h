// DeviceNamePrompt: asks for the name a Quick Set is to have on the device's panel (template 147),
// when the device setup dialog moves a Quick Set without one to the device. OK checks the name (not
// blank, only characters the device can show, not another Quick Set's device name) and leaves it with
// this PC's network prefix in front in m_strAnswer. Checking mode 0 is the message review: OK only
// shows the empty-name message and closes.
#pragma once

#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/Edit.h"
#include "settings/ValueGetter.h"

class DeviceNamePrompt : public CDialog {
 public:
  enum { IDD = 147 };
  static constexpr int kNetworkedLimit = 9;
  static constexpr int kDirectLimit = 14;

  DeviceNamePrompt(const std::string& qsText, int checking, CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  void OnOK() override;
  void ShowErrorMessages();

  std::string m_strName;    // edit box 1021
  std::string m_strAnswer;  // prefix + trimmed name, after OK
  std::string m_strNetworkPrefix;
  std::string m_strQsText;
  int m_nChecking;
  CEdit m_NameEdit;

 private:
  ValueGetter m_ValueGetter;
};
