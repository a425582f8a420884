// One kernel write per byte; see BitSink.h.
#include "mpegfilter/encoder/BitSink.h"

#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace pxenc {

void BitSink::Attach(PxBitWriter* pWriter) {
  m_pWriter = pWriter;
  m_nAcc = 0;
  m_nAccBits = 0;
  m_nBits = 0;
  m_nLength = 0;
  m_nResult = PXM_OK;
}

int32_t BitSink::Drain() {
  while (m_nAccBits >= 8) {
    m_nAccBits -= 8;
    m_buffer[m_nLength++] = static_cast<uint8_t>(m_nAcc >> m_nAccBits);
  }
  const int n = m_nLength;
  m_nLength = 0;
  if (m_nResult != PXM_OK) return m_nResult;
  if (!m_pWriter) return m_nResult = PXM_ERR_WRITE;
  const PxWriteFn pfnWrite = PxKernel().pfnWrite;
  for (int i = 0; i < n; ++i) {
    if (!pfnWrite || pfnWrite(m_pWriter->hFile, &m_buffer[i], 1) != 1) return m_nResult = PXM_ERR_WRITE;
    ++m_pWriter->nBytesWritten;
  }
  m_pWriter->nFreeBits = 8 - m_nAccBits;
  return m_nResult;
}

}  // namespace pxenc
