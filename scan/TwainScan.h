// TwainScan: scans pages from a TWAIN source into numbered image files. The scan job driver fills a
// ScanRequest, calls Scan once on a fresh object, then reads GetPageCount and the request's file
// names. Only sources whose names carry "NX" or "nx" (and do not start with "WIA") qualify; when the
// requested one is not among them the user picks one in SelectSourceDialog (one qualifying source is
// taken whatever was asked). Each page loses a black band at its bottom (TrimBlackBottom) and is
// saved through the toolkit: multi-page types all into the first name, others as base, base1, ...
// Scan results: 0 done, 1 no TWAIN, 2 no dummy window, 3 no toolkit libraries, 4 properties or source,
// 5 Acquire failed (or a page could not be saved), 6 cancelled by the user, 7 every page was blank
// (the request's cleanup left out blank pages; they do not count and take no number).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxTwain.h"
#include "scan/ScanRequest.h"

class CDialog;
class OcrPages;
class DebugTrace;

class TwainScan : public PxTwain {
 public:
  TwainScan();
  ~TwainScan() override;

  // mode 0..3 chooses the acquire flags: 0 -> 4, 1 -> 2, 2 -> 1, other -> 3.
  int Scan(int mode, ScanRequest& request);
  int GetPageCount() const { return m_nPageCount; }
  bool IsMultiPageSupported() const;

  int EnumSourcesCallBack(const char* name) override;
  int AcquireCallBack() override;

  // Message review: the more-pages question, then the source choice in preview mode.
  static void ShowErrorMessages();

  // Cuts a black band off the bottom of the page: from the last row up while the last column is
  // black, then down to the first row that is black across the whole width. A page whose last column
  // is black from top to bottom is kept whole. Returns true when the page was cut.
  static bool TrimBlackBottom(PxBitmapBase& bitmap);

  const std::vector<std::string>& GetSources() const { return m_saSources; }

 private:
  int Initialize();
  bool SetupDlls();
  bool SetupParams(ScanRequest& request);
  void NoteScannerMissing(const std::string& source, DebugTrace& trace);
  bool SelectSource(std::string& name);
  void CleanUp();

  int m_nPageCount = 0;
  int m_nBlankPages = 0;
  PageCleanupOptions m_Cleanup;
  bool m_bAskForMore = false;
  bool m_bUserCancelled = false;
  bool m_bSaveFailed = false;
  int m_nQuality = 100;
  int m_nFileType = PX_TYPE_JPEG;
  std::vector<std::string> m_saSources;
  std::vector<std::string>* m_pFileNames = nullptr;
  OcrPages* m_pOcr = nullptr;
  std::unique_ptr<CDialog> m_pDummyWnd;
  PxBitmapBase m_Bitmap;
};
