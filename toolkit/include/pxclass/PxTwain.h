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
// Acquire returns the number of pages delivered (1 or more), -29 when the user cancelled (in the
// source's dialog or the progress window), another negative code on failure: no page, a jam, an empty
// feeder, a lost device, or a read that stalled (bounded by the record's stallMs).
#pragma once

#include <memory>
#include <string>

#include "pxclass/PxScanner.h"
#include "pxclass/PxTwainUi.h"

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

  std::unique_ptr<Api> m_pApi;
  PxTwnSession* m_pSession = nullptr;
  std::unique_ptr<PxTwainUi> m_pOwnUi;
  PxTwainUi* m_pUi = nullptr;
  std::string m_strLastError;
  bool m_bProgress = false;
  bool m_bUserCancelled = false;
};
