// Reading the next TIFF page on a second thread (see TiffReadAhead.h).
#include "toolkit/file/TiffReadAhead.h"

#include <malloc.h>

#include "pxclass/PxError.h"
#include "pxclass/PxLimits.h"
#include "pxclass/PxPageAlloc.h"
#include "toolkit/file/TiffCodec.h"

namespace pxfile {

bool TiffReadAhead::Identity::operator==(const Identity& other) const {
  return dev == other.dev && ino == other.ino && size == other.size && mtimeSec == other.mtimeSec &&
         mtimeNsec == other.mtimeNsec;
}

TiffReadAhead& TiffReadAhead::Instance() {
  // Destroyed when the library is unloaded or the process ends; the destructor joins the worker
  // before the code it runs is unmapped.
  static TiffReadAhead instance;
  return instance;
}

TiffReadAhead::~TiffReadAhead() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();
}

bool TiffReadAhead::Stat(const std::string& path, Identity& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  return true;
}

void TiffReadAhead::Drop() {
  if (m_worker.joinable()) m_worker.join();
  PxPageFree(m_pAhead);
  m_pAhead = nullptr;
  m_nAheadPage = 0;
  m_strAheadPath.clear();
}

void TiffReadAhead::Start(const std::string& savingTo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_nAheadPage == 0 || m_worker.joinable() || m_pAhead) return;
  if (savingTo == m_strAheadPath) return;  // not while the file itself is being written
  m_nAheadResult = PX_ERR_INTERNAL;
  // Pages of the two threads come from different malloc arenas, and a freed page stays in its arena
  // (glibc raises its mmap and trim thresholds after the first large free): hand the page the caller
  // freed back to the system, or memory grows to four pages.
  malloc_trim(0);
  try {
    m_worker = std::thread([this, path = m_strAheadPath, next = m_nAheadPage] {
      m_nAheadResult = TiffLoad(path, next, &m_pAhead);
    });
  } catch (...) {
    m_nAheadPage = 0;  // no thread: the next page is read when asked for
    m_strAheadPath.clear();
  }
}

int TiffReadAhead::Load(const std::string& path, int page, PxPage** out) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Identity id;
  if (!Stat(path, id)) {
    Drop();
    m_nLastPage = 0;
    return TiffLoad(path, page, out);
  }
  PxPage* loaded = nullptr;
  int result = 0;
  bool ahead = false;
  if (m_worker.joinable() && m_nAheadPage == page && m_strAheadPath == path && m_aheadId == id) {
    m_worker.join();
    Identity after;
    // A file rewritten while the worker read it gives no page from the read-ahead; a failure is
    // retried here, so the read-ahead never adds one (memory of two pages, say).
    if (m_nAheadResult == PX_OK && Stat(path, after) && after == id) {
      result = m_nAheadResult;
      loaded = m_pAhead;
      m_pAhead = nullptr;
      ahead = true;
    }
  }
  Drop();
  if (!ahead) result = TiffLoad(path, page, &loaded);

  const bool inOrder = m_strLastPath == path && m_nLastPage == page - 1;
  m_strLastPath = path;
  m_nLastPage = result == PX_OK ? page : 0;
  // Started by the caller's next save (Start): by then the page before this one is freed, so two
  // pages are in memory, not three.
  if (result == PX_OK && inOrder && page < PX_MAX_PAGES) {
    m_strAheadPath = path;
    m_aheadId = id;
    m_nAheadPage = page + 1;
  }
  *out = loaded;
  return result;
}

}  // namespace pxfile
