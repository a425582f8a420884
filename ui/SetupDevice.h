// SetupDeviceDialog: the device setup dialog (template 129). Two lists side by side: this PC's Quick
// Sets that are not on the device, and what the device holds (this PC's published Quick Sets as
// "device name (Quick Set)" and other PCs' destinations as the device names them). Moves stay pending
// until Update, which removes, then adds, records "AddToDevice" per Quick Set, tells the device monitor
// when scan-to was switched, and reloads both lists from the device. Run by start-up (tasks 7 and 13)
// and by the main dialog; in the message review (m_bRealMode false) it never talks to the device.
// Entries are matched to Quick Sets by their whole display form, so a name holding "(" or ")" and a
// name that begins another name both find their own entry.
#pragma once

#include <string>
#include <vector>

#include "device/DeviceTalk.h"
#include "platform/ui/Button.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"
#include "settings/ValueGetter.h"

class SetupDeviceDialog : public CDialog {
 public:
  enum { IDD = 129 };
  explicit SetupDeviceDialog(CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnToolTipText(int id, char* buffer) override;
  void OnOK() override;  // Enter is Update: the dialog stays open
  void OnCancel() override;

  void UpdateControls();
  bool RefreshUi();
  void SetupQsLists();
  void PopulateControls();
  void OnMoveToDevice();
  void OnMoveAllToDevice();
  void OnRemoveFromDevice();
  void OnRemoveAllFromDevice();
  void OnNew();
  void OnChkBox();
  void OnUpdate();
  bool UpdateToolboxPolling();
  enum class Changes { kNone, kPending };  // whether Update has something to send
  void UpdateButtons(Changes changes);
  void OnSelPc();
  void OnSelDevice();
  void ShowErrorMessages();

  // "first (second)": true with both parts; false with the whole entry as first when "(" or ")" is missing.
  static bool ParseDisplayString(const std::string& entry, std::string& first, std::string& second);
  // Index of the first exact (case-sensitive) match, or -1.
  static int IsStringInArray(const std::string& text, const std::vector<std::string>& list);

  bool m_bRealMode = true;
  bool m_bQsAdded = false;
  bool m_bNetworked = false;
  int m_bScanToOn = 0;
  std::string m_strNetworkPrefix;
  DeviceTalk m_DeviceTalk;
  std::vector<std::string> m_saThisPcOnDevice;
  std::vector<std::string> m_saOtherPcs;
  std::vector<std::string> m_saQsNames;
  std::vector<std::string> m_saQsDevNames;
  std::vector<int> m_aOnDevice;

  CListBox m_PcList;      // 1004
  CListBox m_DeviceList;  // 1005

 private:
  std::string PcForm(std::size_t qs) const;
  std::string DeviceForm(std::size_t qs) const;
  // The Quick Set whose PC-list (or device-list) form is the entry, or -1.
  int QsForPcEntry(const std::string& entry) const;
  int QsForDeviceEntry(const std::string& entry) const;
  // Steps of one move to the device; false when the move was given up (a not-found entry or a
  // cancelled name prompt). addFailure is the error text of a failed AddString.
  bool MoveEntryToDevice(const std::string& entry, const char* addFailure, bool& promptCancelled);
  void MoveEntryToPc(int qs, const std::string& entry);
  int MaxDest() const;
  void Message(UINT id);
  bool DeviceGetList();
  enum class ListChange { kRemove, kAdd };
  bool DeviceUpdate(const std::vector<std::string>& names, ListChange change);

  ValueGetter m_ValueGetter;
};
