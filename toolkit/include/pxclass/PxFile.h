// A file as the toolkit sees it: name it, ask GetInfo for depth and page count, load its first page
// into the attached bitmap. Data of no known format is offered to LoadInfoCallBack (when enabled):
// the program describes it (format 68 raw CCITT fax, sizes, resolutions, offset, coding flags) and
// the file library decodes it. Work is done by the file library (PX_FIL). Results: 1 success,
// negative PxError.
#pragma once

#include <string>

#include "pxclass/PxBase.h"
#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileInfo.h"

class PxBaseFile : public PxBase {
 public:
  PxBaseFile() = default;
  ~PxBaseFile() override = default;

  // The bitmap LoadFile fills (not owned).
  void SetBitmap(PxBitmapBase* bitmap) { m_pBitmap = bitmap; }
  PxBitmapBase* GetBitmap() const { return m_pBitmap; }
  void SetFileName(const char* name) { m_strFileName = name ? name : ""; }
  const std::string& GetFileName() const { return m_strFileName; }

  // Fills `info` for the named file; flags: 1 = count pages too (other values do the same).
  int GetInfo(PxFileInfo* info, int flags);
  // Loads page 1 of the named file into the attached bitmap. bitsPerPixel 0 keeps the file's depth;
  // colourOrder 4; flags: 1 allows raw loading through LoadInfoCallBack, other bits reserved
  // (callers pass 3). Unknown data with the callback disabled gives PX_ERR_FORMAT.
  int LoadFile(int bitsPerPixel, int colourOrder, int flags);

  void EnableLoadInfoCallBack(int enable) { m_nLoadInfoCallBack = enable; }
  int IsLoadInfoCallBackEnabled() const { return m_nLoadInfoCallBack; }
  // Describe data of no known format; return 1 to load it as described, anything else to refuse.
  virtual int LoadInfoCallBack(PxLoadInfo* /*record*/) { return 0; }

 private:
  PxBitmapBase* m_pBitmap = nullptr;
  std::string m_strFileName;
  int m_nLoadInfoCallBack = 0;
};

class PxFile : public PxBaseFile {
 public:
  PxFile() = default;
  ~PxFile() override = default;
};
