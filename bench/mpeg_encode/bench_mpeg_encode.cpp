// Times the encoder on a raw yuv420p file: bench_mpeg_encode IN.yuv WxH OUT.m2v [--kernel-writes]
// By default the kernel write (192) is replaced through the kernel test seam by one that collects
// the bytes in memory (still one call per byte) and writes them at the end, so the time measured is
// the encoder's; --kernel-writes uses the toolkit kernel's write (one call per byte into its
// write-behind buffer), as the plug-in does in use.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncoderInternal.h"
#include "mpegfilter/encoder/PxEncoderState.h"
#include "pxkernel/PxKernel.h"
#include "tools/mpegenc/ImageSeries.h"

namespace {

std::vector<uint8_t> g_out;

int32_t CollectWrite(int32_t, const void* p, int32_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  g_out.insert(g_out.end(), b, b + n);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: bench_mpeg_encode IN.yuv WxH OUT.m2v [--kernel-writes] [--frame-rate-code N]\n");
    return 2;
  }
  bool bKernelWrites = false;
  PxEncodeParams params = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, nullptr};
  for (int i = 4; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--kernel-writes")) bKernelWrites = true;
    if (!std::strcmp(argv[i], "--frame-rate-code") && i + 1 < argc)
      params.nFrameRateCode = std::atoi(argv[++i]);
  }
  PxBitmap desc{};
  if (std::sscanf(argv[2], "%dx%d", &desc.nWidth, &desc.nHeight) != 2) return 2;
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  PxKernelImports k = PxKernelBoundImports();
  if (!bKernelWrites) {
    k.pfnWrite = CollectWrite;
    PxKernelSetImports(&k);
    g_out.reserve(64 << 20);
  }
  PxEncoderState st{};
  int32_t r = Px_EncodeSetParams(&st, &desc, &params, PX_FORMAT_MPEG2);
  if (r == PXM_OK) r = Px_InitializeEncoder(&st);
  if (r == PXM_OK) r = Px_InitBits(argv[3], &st.writer);
  const auto t0 = std::chrono::steady_clock::now();
  if (r == PXM_OK) {
    pxenc_tool::RawYuvSource src(in, desc.nWidth, desc.nHeight, false);
    r = pxenc::PutSequenceFrom(&st, &params, src);
  }
  const double dSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (r == PXM_OK && !bKernelWrites)
    r = PxKernelBoundImports().pfnWrite(st.writer.hFile, g_out.data(), static_cast<int32_t>(g_out.size())) ==
                static_cast<int32_t>(g_out.size())
            ? PXM_OK
            : PXM_ERR_WRITE;
  Px_FreeEncodeParams(&st);
  PxKernelSetImports(nullptr);
  std::fclose(in);
  if (r != PXM_OK) {
    std::fprintf(stderr, "bench_mpeg_encode: error %d\n", r);
    return 1;
  }
  std::printf("%.3f\n", dSec);
  return 0;
}
