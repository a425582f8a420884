// Multi-page TIFF read-ahead: when pages of one file are loaded in order (page k after page k-1), page
// k+1 is decoded on a second thread while the caller saves page k, so a conversion's decode and encode
// overlap on two cores. The decode starts with the caller's next save, not at once: the caller's
// bitmap frees page k-1 only after the load of page k returns, and a page is made resident when it
// is allocated. At most one page is read ahead, so memory stays
// at about two pages. A read-ahead page is used only when the same file (device, inode, size and
// modification time, checked before and after the decode) asks for exactly that page; otherwise it is
// dropped. Page 1 is never read ahead: a caller that reads only the first page pays nothing.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>
#include <thread>

#include "pxclass/PxPage.h"

namespace pxfile {

class TiffReadAhead {
 public:
  static TiffReadAhead& Instance();
  ~TiffReadAhead();

  // As TiffLoad, from the read-ahead when it holds this page of this file.
  int Load(const std::string& path, int page, PxPage** out);
  // Starts decoding the page the last in-order load asked for next, if any (called when saving to
  // `savingTo`; not when that is the file read ahead).
  void Start(const std::string& savingTo);

 private:
  struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const Identity& other) const;
  };
  static bool Stat(const std::string& path, Identity& id);
  // Waits for the worker and frees what it decoded. m_mutex held.
  void Drop();

  std::mutex m_mutex;
  std::thread m_worker;
  std::string m_strAheadPath;
  Identity m_aheadId;
  int m_nAheadPage = 0;
  int m_nAheadResult = 0;
  PxPage* m_pAhead = nullptr;
  std::string m_strLastPath;
  int m_nLastPage = 0;
};

}  // namespace pxfile
