// PxTwain: TWAIN acquisition through the toolkit's TWAIN library (libpxtwain.so, loaded as
// "pxtwain.dll" by PxBase::LoadLibraries(0x80)), which drives SANE. Sources are the installed TWAIN
// sources of the source table (HKEY_LOCAL_MACHINE "SOFTWARE\TWAIN\Sources": value name = source name,
// REG_SZ data = SANE device name) followed by the SANE devices not in the table, named "vendor model".
//
// Acquire flags:
//   1  the source's own dialog (built from the device's options), no progress window
//   2  no source dialog, a progress window with Cancel while pages are scanned
//   3  the source's own dialog, then the progress window
//   4  no window at all
// File transfer (SetFileTransfer): each page goes to a file instead of the bitmap, and AcquireCallBack
// is called with the bitmap left empty once that page's file is complete. A grey or colour JPEG page
// (type 10) is written while it is scanned, never held whole in memory; other types, and line art,
// are saved whole as PxBitmapBase::Save saves them. A multi-page type takes every page of the batch in
// its one file; for a single-page type the pages after the first on the same name go to "base1.ext",
// "base2.ext" and so on, unless the callback names the next page's file by calling SetFileTransfer.
// A page whose file cannot be written ends the acquisition with the file library's code.
//
// Acquire returns the number of pages delivered (1 or more), -29 when the user cancelled (in the
// source's dialog or the progress window), another negative code on failure: no page, a jam, an empty
// feeder, a lost device, or a read that stalled (bounded by the record's stallMs).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "pxclass/PxScanner.h"
#include "pxclass/PxTwainUi.h"

struct PxfJpegStream;

class PxTwain : public PxScanner {
 public:
  PxTwain();
  ~PxTwain() override;

  int Acquire(int flags) override;
  int IsAvailable() override;
  int EnumSources() override;
  int Select() override;
  int SetProperties(PxTwainProps* props, int flags) override;
  int GetProperties(PxTwainProps* props) override;
  int CloseSession() override;

  // Text of the last failure (the library's code and what SANE said), empty when none.
  const std::string& GetLastErrorText() const { return m_strLastError; }

  // The windows of Acquire and Select (not owned; null: the ui layer's own windows).
  void SetUi(PxTwainUi* ui) { m_pUi = ui; }

  // File transfer from the next page on (see above): the file, its type and quality factor as for
  // PxBitmapBase::Save. A null or empty name goes back to delivering pages in the bitmap.
  int SetFileTransfer(const char* name, int type, int quality);
  // The file the last page went to in file transfer; empty before the first.
  const std::string& GetTransferredFile() const { return m_strTransferredFile; }

 protected:
  // A wait after the acquisition, in the progress window when `shown` (as flags 2 and 3 show it):
  // `step` waits a little and says how far the work is, true once it is done. False when the user
  // pressed Cancel.
  bool WaitInProgress(bool shown, const std::function<bool(int& page, int& pages)>& step);

 private:
  struct Api;
  // The session, opened on first use; null with *error set when the library is missing or SANE fails.
  PxTwnSession* Session(int* error);
  PxTwainUi& Ui();
  // Hands the registry's source table to the library.
  int LoadSourceTable(PxTwnSession* session);
  int Failed(int code);
  static int SourceThunk(void* self, const char* name);
  static int PageThunk(void* self, PxPage* page);
  static int ProgressThunk(void* self, int page, long long done, long long total);
  // File transfer: the file of the next page, then the sink that writes a JPEG page as it comes.
  std::string NextTransferFile() const;
  int SaveTransferPage(PxPage* page);
  static int SinkBegin(void* self, int page, int width, int height, int bitsPerPixel, int dpi);
  static int SinkRows(void* self, const uint8_t* rows, int count, int stride);
  static int SinkEnd(void* self, int rows, int ok);

  std::unique_ptr<Api> m_pApi;
  PxTwnSession* m_pSession = nullptr;
  std::unique_ptr<PxTwainUi> m_pOwnUi;
  PxTwainUi* m_pUi = nullptr;
  std::string m_strLastError;
  bool m_bProgress = false;
  bool m_bUserCancelled = false;
  std::string m_strTransferName;  // empty: pages go to the bitmap
  int m_nTransferType = 0;
  int m_nTransferQuality = 0;
  int m_nPagesOnName = 0;  // pages written since the name was set
  std::string m_strTransferredFile;
  std::string m_strStreamFile;  // the JPEG being written
  PxfJpegStream* m_pStream = nullptr;
  int m_nTransferError = 0;
};
