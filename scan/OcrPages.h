// OcrPages: makes the pages of a scan or a conversion searchable. The caller hands each page over as it
// would save it; the page is recognised on a worker thread (one OCR engine per worker) while the caller
// goes on, and saved with its text layer, in the order the pages were handed over, by the caller's own
// thread (between pages and in Finish). The image saved is the page as handed over.
// The OCR library ("pxocr.dll") is loaded through the module layer by Start, so a scan or a conversion
// without OCR never maps it. Callers: TwainScan (the scan job) and FileConvert (DoFile, the convert task).
// A page whose recognition fails or is cancelled is still saved, without text, so nothing scanned is
// lost; Finish then reports the failure.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxocr/PxOcrApi.h"

class DebugTrace;

class OcrPages {
 public:
  // languages: Tesseract's names joined by '+'; workers: 0 chooses by the processors (at most 2).
  explicit OcrPages(std::string languages, int workers = 0);
  ~OcrPages();
  OcrPages(const OcrPages&) = delete;
  OcrPages& operator=(const OcrPages&) = delete;

  // Loads the OCR library and checks that each language is installed; false with the reason (for a
  // missing language the package to install) in `error`.
  bool Start(std::string& error);
  // Takes the bitmap's page (the bitmap is left empty) to be saved as `name` with these arguments of
  // PxBitmapBase::Save, and saves the pages before it that are ready. 1, or PX_ERR_WRITE when a save
  // failed (logged).
  int Add(PxBitmapBase& bitmap, const std::string& name, int type, int quality, int flags, int pageNumber);
  // Stops the recognition (the page being read and those waiting); their pages are saved without text.
  void Cancel();
  // Waits at most `ms` for the recognition of the pages handed over (none is saved here): true when
  // every one is read; `page` is the first still being read, of `pages` waiting to be saved.
  bool WaitFor(int ms, int& page, int& pages);
  // Waits for every page and saves it. False when a page failed; the first failure in `error`.
  bool Finish(std::string& error);
  // The end of TwainScan's acquisition with its result: a cancel (6) cancels the recognition, the
  // rest is saved; a page that failed turns a finished scan (0) into an incomplete one (5).
  int EndScan(int result);
  int PagesWithText() const { return m_nWithText; }

  // The "Ocr" setting (`value`) for output of file type `type`: null when it is empty or the type takes
  // no text (logged: the output is made as without it). When OCR cannot start (a bad list, a missing
  // language, no library) `failed` is set, the cause logged and shown in the scan's box (not when every
  // hide bit is set): the job stops before any page is made.
  static std::unique_ptr<OcrPages> ForOutput(const std::string& value, int type, int hide, bool& failed);
  // The installed OCR languages, '+'-joined ("deu+eng"), for a choice; "" without the OCR library.
  // Loads the library for the call only.
  static std::string InstalledLanguages();
  // The names of a '+'-joined list, in order, empty names left out.
  static std::vector<std::string> SplitLanguages(const std::string& languages);
  // A '+'-joined list as people read it, each language by its own name ("deu+eng": "Deutsch +
  // English"); a name the table lacks (a script, a rare language) stays as Tesseract calls it.
  static std::string LanguageTitle(const std::string& languages);
  // True for the file types that get a text layer (the PDF types).
  static bool TakesText(int type);
  // Languages as a setting holds them, checked: blanks trimmed, each name letters, digits, '_' or '-'.
  // False for a list that is not one ("../eng", "eng deu").
  static bool ParseLanguages(const std::string& value, std::string& languages);

 private:
  struct Page {
    PxBitmapBase bitmap;
    std::string name;
    int type = 0, quality = 0, flags = 0, pageNumber = 0;
    PxOcrText* text = nullptr;
    int result = 0;  // 0 waiting, else PxOcrRecognize's
    std::string message;
  };

  void Work();
  bool SaveReady(bool wait);
  bool SavePage(Page& page);
  static int32_t Progress(void* user, int32_t percent);

  std::string m_strLanguages;
  int m_nWorkers;
  void* m_hModule = nullptr;
  PxOcrRecognizeFn m_pRecognize = nullptr;
  PxOcrFreeFn m_pFree = nullptr;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::unique_ptr<Page>> m_pages;  // handed over, not yet saved, in order
  size_t m_nNext = 0;                         // index in m_pages of the next page to recognise
  bool m_bStopping = false;
  bool m_bCancelled = false;
  std::vector<std::thread> m_threads;

  bool m_bFailed = false;
  std::string m_strError;
  int m_nWithText = 0;
};
