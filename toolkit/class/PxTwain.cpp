// TWAIN acquisition through libpxtwain.so's C entry points (see PxTwain.h for the acquire flags).
#include "pxclass/PxTwain.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/module/Module.h"
#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxPageAlloc.h"
#include "pxclass/PxSaveOptions.h"
#include "pxclass/PxTwainDialogs.h"
#include "toolkit/class/PxFileLibrary.h"
#include "toolkit/twain/SourceTable.h"

struct PxTwain::Api {
  HMODULE hModule = nullptr;  // the library the entry points belong to
  PxTwn_Open_t open = nullptr;
  PxTwn_Close_t close = nullptr;
  PxTwn_SetSourceTable_t setSourceTable = nullptr;
  PxTwn_EnumSources_t enumSources = nullptr;
  PxTwn_GetProperties_t getProperties = nullptr;
  PxTwn_SetProperties_t setProperties = nullptr;
  PxTwn_GetDeviceOptions_t getDeviceOptions = nullptr;
  PxTwn_Acquire_t acquire = nullptr;
  PxTwn_ErrorText_t errorText = nullptr;
  PxTwn_LastError_t lastError = nullptr;

  bool Resolve(HMODULE module) {
    hModule = module;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(GetProcAddress(module, name));
      return fn != nullptr;
    };
    return get(open, "PxTwn_Open") && get(close, "PxTwn_Close") &&
           get(setSourceTable, "PxTwn_SetSourceTable") && get(enumSources, "PxTwn_EnumSources") &&
           get(getProperties, "PxTwn_GetProperties") && get(setProperties, "PxTwn_SetProperties") &&
           get(getDeviceOptions, "PxTwn_GetDeviceOptions") && get(acquire, "PxTwn_Acquire") &&
           get(errorText, "PxTwn_ErrorText") && get(lastError, "PxTwn_LastError");
  }
  // The library is still the one loaded (an unloaded library takes its session with it).
  bool Loaded() const { return hModule != nullptr && PxBase::LibraryHandle(PxBase::PX_TWN) == hModule; }
};

PxTwain::PxTwain() : m_pApi(std::make_unique<Api>()) {}

PxTwain::~PxTwain() {
  CloseSession();
}

PxTwnSession* PxTwain::Session(int* error) {
  *error = PX_OK;
  if (m_pSession != nullptr && m_pApi->Loaded()) return m_pSession;
  m_pSession = nullptr;
  auto* module = static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_TWN));
  if (module == nullptr || !m_pApi->Resolve(module)) {
    m_pApi->hModule = nullptr;
    m_strLastError = "the TWAIN library is not loaded";
    *error = PX_ERR_NO_LIBRARY;
    return nullptr;
  }
  const int rc = m_pApi->open(&m_pSession);
  if (rc != PX_TWN_OK) {
    m_pSession = nullptr;
    m_strLastError = m_pApi->errorText(rc);
    *error = rc;
    return nullptr;
  }
  if (int table = LoadSourceTable(m_pSession); table != PX_OK) {
    CloseSession();
    *error = table;
    return nullptr;
  }
  return m_pSession;
}

PxTwainUi& PxTwain::Ui() {
  if (m_pUi != nullptr) return *m_pUi;
  if (!m_pOwnUi) m_pOwnUi = std::make_unique<PxTwainDialogs>(m_hWindow);
  return *m_pOwnUi;
}

int PxTwain::Failed(int code) {
  if (m_pSession != nullptr && m_pApi->Loaded()) m_strLastError = m_pApi->lastError(m_pSession);
  return code;
}

int PxTwain::LoadSourceTable(PxTwnSession* session) {
  std::vector<pxtwain::SourceEntry> table;
  if (pxtwain::SourceTable::Read(table) == pxtwain::TableResult::kFailed) {
    m_strLastError = "the TWAIN source table could not be read";
    return PX_TWN_E_NO_MANAGER;
  }
  std::vector<PxTwnSourceEntry> entries(table.size());
  for (size_t i = 0; i < table.size(); ++i) {  // Read keeps only entries that fit
    std::snprintf(entries[i].name, sizeof entries[i].name, "%s", table[i].name.c_str());
    std::snprintf(entries[i].device, sizeof entries[i].device, "%s", table[i].device.c_str());
  }
  const int rc = m_pApi->setSourceTable(session, entries.data(), static_cast<int>(entries.size()));
  return rc == PX_TWN_OK ? PX_OK : Failed(rc);
}

int PxTwain::IsAvailable() {
  int error = 0;
  return Session(&error) != nullptr ? 1 : 0;
}

int PxTwain::SourceThunk(void* self, const char* name) {
  auto* twain = static_cast<PxTwain*>(self);
  return twain->IsCallBackEnabled() ? twain->EnumSourcesCallBack(name) : 1;
}

int PxTwain::EnumSources() {
  int error = 0;
  PxTwnSession* session = Session(&error);
  if (session == nullptr) return error;
  if (int table = LoadSourceTable(session); table != PX_OK) return table;  // sources installed meanwhile
  const int rc = m_pApi->enumSources(session, &PxTwain::SourceThunk, this);
  return rc == PX_TWN_OK ? PX_OK : Failed(rc);
}

int PxTwain::GetProperties(PxTwainProps* props) {
  int error = 0;
  PxTwnSession* session = Session(&error);
  if (session == nullptr) return error;
  const int rc = m_pApi->getProperties(session, props);
  return rc == PX_TWN_OK ? PX_OK : Failed(rc);
}

int PxTwain::SetProperties(PxTwainProps* props, int flags) {
  int error = 0;
  PxTwnSession* session = Session(&error);
  if (session == nullptr) return error;
  const int rc = m_pApi->setProperties(session, props, flags);
  return rc == PX_TWN_OK ? PX_OK : Failed(rc);
}

int PxTwain::Select() {
  int error = 0;
  PxTwnSession* session = Session(&error);
  if (session == nullptr) return error;
  std::vector<std::string> names;
  auto collect = [](void* list, const char* name) {
    static_cast<std::vector<std::string>*>(list)->emplace_back(name);
    return 1;
  };
  if (int rc = m_pApi->enumSources(session, collect, &names); rc != PX_TWN_OK) return Failed(rc);
  if (names.empty()) {
    m_strLastError = "there is no source to choose";
    return PX_TWN_E_NO_SOURCE;
  }
  std::string chosen;
  const int shown = Ui().ChooseSource(names, chosen);
  if (shown == 0) return PX_TWN_E_CANCELLED;
  if (shown < 0) return PX_TWN_E_UI;
  PxTwainProps props{};
  if (int rc = m_pApi->getProperties(session, &props); rc != PX_TWN_OK) return Failed(rc);
  if (chosen.size() > PX_TWN_NAME_LEN) return PX_TWN_E_ARGUMENT;
  std::memset(props.sourceName, 0, sizeof props.sourceName);
  std::memcpy(props.sourceName, chosen.data(), chosen.size());
  const int rc = m_pApi->setProperties(session, &props, PX_TWN_SET_IDENTITY);
  return rc == PX_TWN_OK ? PX_OK : Failed(rc);
}

int PxTwain::PageThunk(void* self, PxPage* page) {
  auto* twain = static_cast<PxTwain*>(self);
  if (!twain->m_strTransferName.empty()) {
    // A streamed page (null) is in its file already.
    if (page != nullptr && twain->SaveTransferPage(page) != PX_OK) return 0;
  } else {
    twain->m_pBitmap->AttachPage(page);  // the bitmap owns the page from here on
  }
  return twain->IsCallBackEnabled() ? twain->AcquireCallBack() : 1;
}

int PxTwain::SetFileTransfer(const char* name, int type, int quality) {
  if (m_pStream != nullptr) return PX_ERR_PARAMETER;  // not while a page is being written
  m_strTransferName = name != nullptr ? name : "";
  m_nTransferType = type;
  m_nTransferQuality = quality;
  m_nPagesOnName = 0;
  return PX_OK;
}

std::string PxTwain::NextTransferFile() const {
  if (m_nPagesOnName == 0 || PxIsMultiPageType(m_nTransferType)) return m_strTransferName;
  const size_t slash = m_strTransferName.rfind('/');
  const size_t dot = m_strTransferName.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string base = hasExtension ? m_strTransferName.substr(0, dot) : m_strTransferName;
  const std::string extension = hasExtension ? m_strTransferName.substr(dot) : "";
  return base + std::to_string(m_nPagesOnName) + extension;
}

int PxTwain::SaveTransferPage(PxPage* page) {
  const std::string file = NextTransferFile();
  PxBitmapBase bitmap;
  bitmap.AttachPage(page);
  PxSaveOptions options = PxSaveOptions::ForPage(m_nPagesOnName + 1);
  const int rc = bitmap.Save(file.c_str(), m_nTransferType, 0, m_nTransferQuality, 1, &options);
  if (rc < 1) {
    m_nTransferError = rc < 0 ? rc : PX_ERR_WRITE;
    m_strLastError = "the page could not be saved to " + file;
    return m_nTransferError;
  }
  m_strTransferredFile = file;
  ++m_nPagesOnName;
  return PX_OK;
}

int PxTwain::SinkBegin(void* self, int /*page*/, int width, int height, int bitsPerPixel, int dpi) {
  auto* twain = static_cast<PxTwain*>(self);
  if (twain->m_nTransferType != PX_TYPE_JPEG) return 0;
  auto open = pxclass::FileProc<PxfJpegStreamOpenFn>("PxfJpegStreamOpen");
  if (open == nullptr) return 0;
  const std::string file = twain->NextTransferFile();
  const int rc =
      open(file.c_str(), width, height, bitsPerPixel, dpi, dpi, twain->m_nTransferQuality, &twain->m_pStream);
  if (rc == PX_ERR_PARAMETER) return 0;  // saved whole instead
  if (rc != PX_OK) {
    twain->m_nTransferError = rc;
    twain->m_strLastError = "the page's file " + file + " could not be made";
    return -1;
  }
  twain->m_strStreamFile = file;
  return 1;
}

int PxTwain::SinkRows(void* self, const uint8_t* rows, int count, int stride) {
  auto* twain = static_cast<PxTwain*>(self);
  auto write = pxclass::FileProc<PxfJpegStreamWriteFn>("PxfJpegStreamWrite");
  const int rc = write != nullptr ? write(twain->m_pStream, rows, count, stride) : PX_ERR_NO_LIBRARY;
  if (rc == PX_OK) return 1;
  twain->m_nTransferError = rc;
  twain->m_strLastError = "the page's file " + twain->m_strStreamFile + " could not be written";
  return -1;
}

int PxTwain::SinkEnd(void* self, int /*rows*/, int ok) {
  auto* twain = static_cast<PxTwain*>(self);
  auto close = pxclass::FileProc<PxfJpegStreamCloseFn>("PxfJpegStreamClose");
  if (twain->m_pStream == nullptr) return ok ? -1 : 1;
  const int rc = close != nullptr ? close(twain->m_pStream, ok) : PX_ERR_NO_LIBRARY;
  twain->m_pStream = nullptr;
  if (!ok) return 1;  // a failed or cancelled scan: the file is gone, the scan's own code says why
  if (rc != PX_OK) {
    twain->m_nTransferError = rc;
    twain->m_strLastError = "the page's file " + twain->m_strStreamFile + " could not be written";
    return -1;
  }
  twain->m_strTransferredFile = twain->m_strStreamFile;
  ++twain->m_nPagesOnName;
  return 1;
}

int PxTwain::ProgressThunk(void* self, int page, long long done, long long total) {
  auto* twain = static_cast<PxTwain*>(self);
  const int percent = total > 0 ? static_cast<int>(std::min<long long>(100, done * 100 / total)) : 0;
  bool goOn = true;
  if (twain->m_bProgress) goOn = twain->Ui().Progress(page, total > 0 ? percent : -1);
  if (goOn && twain->IsCallBackEnabled()) goOn = twain->StatusCallBack(percent) != 0;
  if (!goOn) twain->m_bUserCancelled = true;
  return goOn ? 0 : 1;
}

int PxTwain::Acquire(int flags) {
  if (flags < 1 || flags > 4) return PX_TWN_E_ARGUMENT;
  if (m_pBitmap == nullptr && m_strTransferName.empty()) return PX_ERR_NO_BITMAP;
  int error = 0;
  PxTwnSession* session = Session(&error);
  if (session == nullptr) return error;
  m_strLastError.clear();
  m_bUserCancelled = false;
  if (flags == 1 || flags == 3) {
    PxTwnDeviceOptions options{};
    PxTwainProps props{};
    if (int rc = m_pApi->getDeviceOptions(session, &options); rc != PX_TWN_OK) return Failed(rc);
    if (int rc = m_pApi->getProperties(session, &props); rc != PX_TWN_OK) return Failed(rc);
    PxTwainUi::Preview preview = [this, session](PxPage** out) {
      *out = nullptr;
      PxTwnAcquire request{};
      request.preview = 1;
      request.context = out;
      request.page = [](void* target, PxPage* page) {
        *static_cast<PxPage**>(target) = page;
        return 0;
      };
      const int rc = m_pApi->acquire(session, &request);
      return rc >= 1 ? PX_OK : Failed(rc);
    };
    const int shown = Ui().SourceDialog(props.sourceName, options, props, preview);
    if (shown == 0) return PX_TWN_E_CANCELLED;
    if (shown < 0) return PX_TWN_E_UI;
    if (int rc = m_pApi->setProperties(session, &props, PX_TWN_SET_IMAGE); rc != PX_TWN_OK) return Failed(rc);
  }
  m_bProgress = flags == 2 || flags == 3;
  if (m_bProgress) Ui().ProgressOpen();
  static const PxTwnRowSink sink = {&PxTwain::SinkBegin, &PxTwain::SinkRows, &PxTwain::SinkEnd};
  PxTwnAcquire request{};
  request.page = &PxTwain::PageThunk;
  request.progress = &PxTwain::ProgressThunk;
  request.context = this;
  request.rowSink = m_strTransferName.empty() ? nullptr : &sink;
  m_nTransferError = 0;
  const int rc = m_pApi->acquire(session, &request);
  if (m_bProgress) Ui().ProgressClose();
  m_bProgress = false;
  // A page's file that could not be written fails the acquisition, whatever the device did.
  if (m_nTransferError < 0) return m_nTransferError;
  if (rc >= 1) return rc;
  return Failed(rc);
}

bool PxTwain::WaitInProgress(bool shown, const std::function<bool(int& page, int& pages)>& step) {
  if (shown) Ui().ProgressOpen();
  bool goOn = true;
  for (int page = 0, pages = 0; !step(page, pages);) {
    if (shown && !Ui().TextProgress(page, pages)) {
      goOn = false;
      break;
    }
  }
  if (shown) Ui().ProgressClose();
  return goOn;
}

int PxTwain::CloseSession() {
  if (m_pSession != nullptr && m_pApi->Loaded()) m_pApi->close(m_pSession);
  m_pSession = nullptr;
  return PX_OK;
}
