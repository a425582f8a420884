// The ui layer's windows for TWAIN acquisition (dialog templates 160 and 161 of the resource
// library): the scanner's own settings dialog, built from the options the device offers (mode,
// resolution, source, area in millimetres, brightness, contrast, and a preview that finds the
// page's area where the device offers one), and the source choice. The progress window is the wait
// cursor while pages are read: the control model has no window that stays responsive during a scan
// yet, so cancelling mid-page goes through PxBase::StatusCallBack.
#pragma once

#include "platform/base/WinTypes.h"
#include "pxclass/PxTwainUi.h"

class PxTwainDialogs : public PxTwainUi {
 public:
  explicit PxTwainDialogs(HWND owner) : m_hOwner(owner) {}
  int SourceDialog(const std::string& sourceName, const PxTwnDeviceOptions& options, PxTwainProps& props,
                   const Preview& preview) override;
  int ChooseSource(const std::vector<std::string>& names, std::string& chosen) override;
  void ProgressOpen() override;
  bool Progress(int page, int percent) override { return true; }
  void ProgressClose() override;

  // The smallest rectangle holding every pixel darker than white (in pixels of the page); false for
  // a blank page. The preview's area finder.
  static bool ContentBox(const PxPage& page, int& left, int& top, int& right, int& bottom);

 private:
  HWND m_hOwner;
};
