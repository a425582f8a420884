// Binds the toolkit kernel's services by ordinal when libpxmpeg is loaded.
// A Windows loader binds ordinal imports before the DLL's entry point runs and refuses the load when
// one is missing; the library constructor is the closest moment here. dlopen cannot be refused from a
// constructor, so a missing ordinal is recorded and every entry point answers PXM_ERR_KERNEL_MISSING.
#include "mpegfilter/MpegFilter.h"
#include "pxkernel/PxKernel.h"

namespace {

PxKernelImports g_bound{};
PxKernelImports g_substitute{};
bool g_bBound = false;
bool g_bSubstitute = false;

template <typename Fn>
bool Resolve(Fn* pTarget, int32_t nOrdinal) {
  *pTarget = reinterpret_cast<Fn>(PxKernelProcByOrdinal(nOrdinal));
  return *pTarget != nullptr;
}

bool AllSet(const PxKernelImports& k) {
  return k.pfnOpen && k.pfnClose && k.pfnRead && k.pfnSeek && k.pfnWrite && k.pfnAlloc && k.pfnFree &&
         k.pfnBitmapBegin && k.pfnBitmapEnd && k.pfnBitmapGetRow && k.pfnBitmapPrepare &&
         k.pfnBitmapRelease && k.pfnSequenceStart;
}

__attribute__((constructor)) void BindAtLoad() {
  PxKernelBind();
}

}  // namespace

bool PxKernelBind() {
  PxKernelImports k{};
  bool ok = true;
  ok &= Resolve(&k.pfnOpen, PX_ORD_OPEN);
  ok &= Resolve(&k.pfnClose, PX_ORD_CLOSE);
  ok &= Resolve(&k.pfnRead, PX_ORD_READ);
  ok &= Resolve(&k.pfnSeek, PX_ORD_SEEK);
  ok &= Resolve(&k.pfnWrite, PX_ORD_WRITE);
  ok &= Resolve(&k.pfnAlloc, PX_ORD_ALLOC);
  ok &= Resolve(&k.pfnFree, PX_ORD_FREE);
  ok &= Resolve(&k.pfnBitmapBegin, PX_ORD_BITMAP_BEGIN);
  ok &= Resolve(&k.pfnBitmapEnd, PX_ORD_BITMAP_END);
  ok &= Resolve(&k.pfnBitmapGetRow, PX_ORD_BITMAP_GET_ROW);
  ok &= Resolve(&k.pfnBitmapPrepare, PX_ORD_BITMAP_PREPARE);
  ok &= Resolve(&k.pfnBitmapRelease, PX_ORD_BITMAP_RELEASE);
  ok &= Resolve(&k.pfnSequenceStart, PX_ORD_SEQUENCE_START);
  Resolve(&k.pfnFileIdentity, PX_ORD_FILE_IDENTITY);  // optional
  g_bound = k;
  g_bBound = ok;
  return ok;
}

const PxKernelImports& PxKernel() {
  return g_bSubstitute ? g_substitute : g_bound;
}

const PxKernelImports& PxKernelBoundImports() {
  return g_bound;
}

bool PxKernelBound() {
  return g_bSubstitute ? AllSet(g_substitute) : g_bBound;
}

void PxKernelSetImports(const PxKernelImports* pImports) {
  // A kept load holds a handle and memory of the table in use: give them back to it first.
  MpegFilter::ReleaseKept();
  if (pImports) {
    g_substitute = *pImports;
    g_bSubstitute = true;
  } else {
    g_substitute = PxKernelImports{};
    g_bSubstitute = false;
  }
}
