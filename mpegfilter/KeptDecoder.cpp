#include "mpegfilter/KeptDecoder.h"

#include <cstring>
#include <new>

#include "mpegfilter/PxResult.h"

KeptDecoder::~KeptDecoder() {
  delete m_pDec;
  delete m_pReader;
  if (m_hFile >= 0) PxKernel().pfnClose(m_hFile);
}

bool KeptDecoder::Serves(const char* pszName, const PxFileIdentity& id, const DecoderLimits& limits,
                         int nPage) const {
  return m_pDec && m_strName == pszName && std::memcmp(&m_id, &id, sizeof(id)) == 0 &&
         m_limits.nMaxWidth == limits.nMaxWidth && m_limits.nMaxHeight == limits.nMaxHeight &&
         m_limits.nMaxMemory == limits.nMaxMemory && nPage >= m_pDec->PagesShown();
}

int32_t KeptDecoder::Open(const char* pszName) {
  const PxKernelImports& k = PxKernel();
  m_strName = pszName;
  m_hFile = k.pfnOpen(pszName, PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  if (m_hFile < 0) return PXM_ERR_OPEN;
  m_pReader = new (std::nothrow) StreamReader();
  if (!m_pReader) return PXM_ERR_NO_MEMORY;
  int32_t rc = m_pReader->Prime(m_hFile, true);
  if (rc != PXM_OK) return rc;
  {
    // Count the frames first: a page beyond the last shown frame ends at once.
    MpegDecoder counter(*m_pReader, m_limits);
    rc = counter.FindFirstPicture();
    if (rc == PXM_OK) rc = counter.CountFrames(&m_nFrames);
  }
  if (rc != PXM_OK) return rc;
  if (!m_pReader->Rewind()) return PXM_ERR_SEEK;
  m_pDec = new (std::nothrow) MpegDecoder(*m_pReader, m_limits);
  if (!m_pDec) return PXM_ERR_NO_MEMORY;
  rc = m_pDec->FindFirstPicture();
  if (rc == PXM_OK) rc = m_pDec->Allocate();
  return rc;
}
