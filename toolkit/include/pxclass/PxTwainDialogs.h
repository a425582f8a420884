// The ui layer's windows for TWAIN acquisition (dialog templates 160 and 161 of the resource
// library): the scanner's own settings dialog, built from the options the device offers (mode,
// resolution, source, area in millimetres, brightness, contrast, and a preview that finds the
// page's area where the device offers one), the source choice, and the progress window (template
// 162: the page, a bar of how much of it arrived, Cancel). The progress window is modeless; the page
// is read on a worker thread while the UI thread calls Progress a few times a second, which pumps the
// ui layer's events, so the window repaints and its Cancel works during the read.
#pragma once

#include <memory>

#include "platform/base/WinTypes.h"
#include "pxclass/PxTwainUi.h"

class PxTwainProgressWindow;

class PxTwainDialogs : public PxTwainUi {
 public:
  explicit PxTwainDialogs(HWND owner);
  ~PxTwainDialogs() override;
  int SourceDialog(const std::string& sourceName, const PxTwnDeviceOptions& options, PxTwainProps& props,
                   const Preview& preview) override;
  int ChooseSource(const std::vector<std::string>& names, std::string& chosen) override;
  // Shows the progress window (the wait cursor when the window cannot be made).
  void ProgressOpen() override;
  // Shows the page and percentage (-1: a page of unknown length), runs what the user did; false
  // once Cancel was pressed.
  bool Progress(int page, int percent) override;
  bool TextProgress(int page, int pages) override;
  void ProgressClose() override;

  // The smallest rectangle holding every pixel darker than white (in pixels of the page); false for
  // a blank page. The preview's area finder.
  static bool ContentBox(const PxPage& page, int& left, int& top, int& right, int& bottom);

 private:
  HWND m_hOwner;
  std::unique_ptr<PxTwainProgressWindow> m_pProgress;
  bool m_bWaitCursor = false;
};
