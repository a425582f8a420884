// The exported encoder functions (extern "C"); see PxEncoderState.h. No exception leaves them:
// the coder allocates nothing through new and reports every failure as a result code.
#include <new>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncodeParams.h"
#include "mpegfilter/encoder/EncoderInternal.h"
#include "mpegfilter/encoder/FrameIntake.h"
#include "mpegfilter/encoder/PxEncoderState.h"
#include "pxkernel/PxKernel.h"

struct PxEncoderCore {
  pxenc::SequenceCoder coder;
};

namespace pxenc {

int32_t PutSequenceFrom(PxEncoderState* s, const PxEncodeParams* pParams, FrameSource& src) {
  if (!s || !s->pCore || !s->pMotion) return PX_ENC_ERR_ARGUMENT;
  if (s->writer.hFile < 0) return PXM_ERR_OPEN;
  const int32_t r = PxKernel().pfnSequenceStart();
  if (r != PXM_OK) return r;
  return s->pCore->coder.Run(*s, pParams ? pParams->pszUserData : nullptr, src, &s->writer);
}

void SetReconHook(PxEncoderState* s, ReconHook pfn, void* pUser) {
  if (s && s->pCore) s->pCore->coder.SetReconHook(pfn, pUser);
}

const Geometry* GeometryOf(const PxEncoderState* s) {
  return s && s->pCore ? &s->pCore->coder.Geom() : nullptr;
}

const RateControl::Summary* RateTotalsOf(const PxEncoderState* s) {
  return s && s->pCore ? &s->pCore->coder.RateTotals() : nullptr;
}

const PredictionCounts* PredictionCountsOf(const PxEncoderState* s) {
  return s && s->pCore ? &s->pCore->coder.Predictions() : nullptr;
}

}  // namespace pxenc

extern "C" {

int32_t Px_EncodeSetParams(PxEncoderState* s, const PxBitmap* pImage, const PxEncodeParams* pParams,
                           int32_t nFormat) {
  if (!s || !pImage) return PX_ENC_ERR_ARGUMENT;
  // The output is closed until Px_InitBits: a zeroed record must not make Px_FreeEncodeParams close
  // handle 0.
  s->writer = PxBitWriter{-1, 8, 0};
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  if (pParams && pParams->nGopLength != -1 && (pParams->nGopLength <= 0 || pParams->nGopLength % 3 != 0))
    return PX_ENC_ERR_GOP;
  if (!s->pMotion) {
    s->pMotion = static_cast<PxEncoderState::MotionSetting*>(
        pxenc::KernelAlloc(3 * sizeof(PxEncoderState::MotionSetting)));
    if (!s->pMotion) return PXM_ERR_NO_MEMORY;
  }
  return ResolveEncodeParams(s, pImage->nWidth, pImage->nHeight, pParams, nFormat);
}

int32_t Px_InitializeEncoder(PxEncoderState* s) {
  if (!s || !s->pMotion) return PX_ENC_ERR_ARGUMENT;
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  if (s->pCore) {
    s->pCore->coder.Free();
    s->pCore->~PxEncoderCore();
    pxenc::KernelFree(s->pCore);
    s->pCore = nullptr;
  }
  void* p = pxenc::KernelAlloc(sizeof(PxEncoderCore));
  if (!p) return PXM_ERR_NO_MEMORY;
  auto* core = new (p) PxEncoderCore();
  const int32_t r = core->coder.Init(*s);
  if (r != PXM_OK) {
    core->~PxEncoderCore();
    pxenc::KernelFree(p);
    return r;
  }
  s->pCore = core;
  return PXM_OK;
}

int32_t Px_InitBits(const char* pszFileName, PxBitWriter* w) {
  if (!w) return PX_ENC_ERR_ARGUMENT;
  *w = PxBitWriter{-1, 8, 0};
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  if (!pszFileName || !*pszFileName) return PXM_ERR_OPEN;
  const int32_t h =
      PxKernel().pfnOpen(pszFileName, PX_O_BINARY | PX_O_TRUNC | PX_O_CREAT | PX_O_WRONLY, PX_S_IWRITE);
  if (h < 0) return PXM_ERR_OPEN;
  w->hFile = h;
  return PXM_OK;
}

int32_t Px_PutSeq(PxEncoderState* s, const PxEncodeParams* pParams, PxFrameSource pfnSource, void* pUser) {
  if (!s || !s->pCore || !pfnSource) return PX_ENC_ERR_ARGUMENT;
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  pxenc::FrameIntake intake(*s, s->pCore->coder.Geom(), pfnSource, pUser);
  return pxenc::PutSequenceFrom(s, pParams, intake);
}

int32_t Px_FreeEncodeParams(PxEncoderState* s) {
  if (!s) return PX_ENC_ERR_ARGUMENT;
  if (s->pCore) {
    s->pCore->coder.Free();
    s->pCore->~PxEncoderCore();
    pxenc::KernelFree(s->pCore);
    s->pCore = nullptr;
  }
  pxenc::KernelFree(s->pMotion);
  s->pMotion = nullptr;
  if (s->writer.hFile >= 0 && PxKernel().pfnClose) PxKernel().pfnClose(s->writer.hFile);
  s->writer.hFile = -1;
  return PXM_OK;
}

}  // extern "C"
