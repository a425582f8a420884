// The windows of TWAIN acquisition: the source's own dialog (built from what the device offers), the
// source choice of Select, and the progress window with Cancel. PxTwain uses the ui layer's windows
// (PxTwainDialogs) unless an application or a test sets its own through PxTwain::SetUi.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pxclass/PxTwainProps.h"
#include "pxtwain/PxTwainApi.h"

class PxTwainUi {
 public:
  // Scans a preview page (the caller frees it with PxPageFree); a negative code on failure.
  using Preview = std::function<int(PxPage** page)>;

  virtual ~PxTwainUi() = default;
  // The source's own dialog: shows props, lets the user change them within what options offers.
  // 1 OK (props changed), 0 cancelled, negative when it cannot be shown.
  virtual int SourceDialog(const std::string& sourceName, const PxTwnDeviceOptions& options,
                           PxTwainProps& props, const Preview& preview) = 0;
  // The choice of a source among names: 1 chosen (chosen set), 0 cancelled, negative when not shown.
  virtual int ChooseSource(const std::vector<std::string>& names, std::string& chosen) = 0;
  // The progress window: opened before the first page, told the page and percentage while pages are
  // read (percent -1 while the page's length is not known), closed at the end. Progress returns false
  // when the user pressed Cancel.
  virtual void ProgressOpen() = 0;
  virtual bool Progress(int page, int percent) = 0;
  // The same window after the last page while the pages' text is still recognised: page `page` of
  // `pages`. False once Cancel was pressed.
  virtual bool TextProgress(int page, int pages) { return Progress(page, TextPercent(page, pages)); }
  // The bar of that wait: the share of the pages read before `page`.
  static int TextPercent(int page, int pages) { return pages > 0 ? (page - 1) * 100 / pages : -1; }
  virtual void ProgressClose() = 0;
};
