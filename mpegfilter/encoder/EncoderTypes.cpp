// Frame memory through the toolkit kernel.
#include "mpegfilter/encoder/EncoderTypes.h"

#include "pxkernel/PxKernel.h"

namespace pxenc {

void* KernelAlloc(size_t nBytes) {
  const PxKernelImports& k = PxKernel();
  return k.pfnAlloc ? k.pfnAlloc(nBytes) : nullptr;
}

void KernelFree(void* p) {
  const PxKernelImports& k = PxKernel();
  if (p && k.pfnFree) k.pfnFree(p);
}

bool AllocFrame(Frame* f, const Geometry& g) {
  *f = Frame{};
  const size_t nLuma = static_cast<size_t>(g.nLumaW) * static_cast<size_t>(g.nLumaH);
  const size_t nChroma = static_cast<size_t>(g.nChromaW) * static_cast<size_t>(g.nChromaH);
  auto* p = static_cast<uint8_t*>(KernelAlloc(nLuma + 2 * nChroma));
  if (!p) return false;
  f->y = Plane{p, g.nLumaW, g.nLumaW, g.nLumaH};
  f->cb = Plane{p + nLuma, g.nChromaW, g.nChromaW, g.nChromaH};
  f->cr = Plane{p + nLuma + nChroma, g.nChromaW, g.nChromaW, g.nChromaH};
  return true;
}

void FreeFrame(Frame* f) {
  KernelFree(f->y.p);
  *f = Frame{};
}

}  // namespace pxenc
