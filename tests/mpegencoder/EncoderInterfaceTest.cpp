// The exported interface end to end with toolkit bitmaps, and its failure paths through the
// kernel's test seam (allocation failure, full disk, refusing callback).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EncoderHarness.h"
#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncodeParams.h"
#include "pxkernel/PxKernel.h"

namespace enctest {
namespace {

// The frame callback's own failure code, none of the plug-in's: the encoder must hand it back as is.
constexpr int32_t kCallbackRefusal = -7;

// Frames of a raw bgr24 file handed out as kernel-owned bitmaps; records the indexes asked for.
struct BgrFrames {
  int w = 0, h = 0, count = 0;
  std::vector<uint8_t> data;
  std::vector<int> asked;
  int refuseAt = -1;  // frame index whose request fails with kCallbackRefusal
  uint32_t flags = PX_BITMAP_OWNS_PIXELS;
};

int32_t Source(void* pUser, PxBitmap* b, int32_t nFrame, void* pUser2, int32_t* pnCount) {
  BgrFrames& f = *static_cast<BgrFrames*>(pUser);
  EXPECT_EQ(pUser, pUser2);
  if (!b) {
    *pnCount = f.count;
    return PXM_OK;
  }
  f.asked.push_back(nFrame);
  if (nFrame == f.refuseAt) return kCallbackRefusal;
  const size_t n = static_cast<size_t>(f.w) * f.h * 3;
  auto* pix = static_cast<uint8_t*>(PxKernel().pfnAlloc(n));
  std::copy_n(&f.data[n * nFrame], n, pix);
  *b = PxBitmap{};
  b->nWidth = f.w;
  b->nHeight = f.h;
  b->nBitsPerPixel = 24;
  b->nBytesPerRow = f.w * 3;
  b->nFlags = f.flags;
  b->pPixels = pix;
  return PXM_OK;
}

// Kernel substitute that counts allocations and can fail the n-th one.
struct Counting {
  static inline int nLive = 0, nCalls = 0, nFailAt = -1, nStarts = 0;
  static void* Alloc(size_t n) {
    if (nCalls++ == nFailAt) return nullptr;
    void* p = PxKernelBoundImports().pfnAlloc(n);
    if (p) ++nLive;
    return p;
  }
  static void Free(void* p) {
    if (p) --nLive;
    PxKernelBoundImports().pfnFree(p);
  }
  static int32_t Release(PxBitmap* b) {
    if (b->nFlags & PX_BITMAP_OWNS_PIXELS) {
      --nLive;  // pixels came from Alloc
      PxKernelBoundImports().pfnFree(b->pPixels);
      b->pPixels = nullptr;
      b->nFlags &= ~PX_BITMAP_OWNS_PIXELS;
    }
    return 1;
  }
  static int32_t Start() {
    ++nStarts;
    return 1;
  }
  static void Install(int failAt) {
    nLive = nCalls = nStarts = 0;
    nFailAt = failAt;
    PxKernelImports k = PxKernelBoundImports();
    k.pfnAlloc = Alloc;
    k.pfnFree = Free;
    k.pfnBitmapRelease = Release;
    k.pfnSequenceStart = Start;
    PxKernelSetImports(&k);
  }
};

class EncoderInterface : public ::testing::Test {
 protected:
  void TearDown() override { PxKernelSetImports(nullptr); }
  bool LoadFrames(BgrFrames* f, int w, int h, int count) {
    if (!Harness::HaveFfmpeg()) return false;
    const std::string out = m_h.Path("src.bgr");
    std::string log;
    if (Harness::Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                         std::to_string(h) + ":rate=25 -frames:v " + std::to_string(count) +
                         " -pix_fmt bgr24 -f rawvideo '" + out + "'",
                     &log) != 0)
      return false;
    std::ifstream in(out, std::ios::binary);
    f->data.assign(std::istreambuf_iterator<char>(in), {});
    f->w = w;
    f->h = h;
    f->count = count;
    return f->data.size() == static_cast<size_t>(w) * h * 3 * count;
  }
  int32_t Encode(BgrFrames& f, const std::string& out, const PxEncodeParams& p, int32_t nFormat,
                 int first = 0, int count = 0) {
    PxEncoderState st{};
    PxBitmap d{};
    d.nWidth = f.w;
    d.nHeight = f.h;
    int32_t r = Px_EncodeSetParams(&st, &d, &p, nFormat);
    if (r == PXM_OK) r = Px_InitializeEncoder(&st);
    if (r == PXM_OK) r = Px_InitBits(out.c_str(), &st.writer);
    if (r == PXM_OK) {
      st.nFirstFrame = first;
      st.nFrameCount = count;
      r = Px_PutSeq(&st, &p, Source, &f);
    }
    Px_FreeEncodeParams(&st);
    return r;
  }
  Harness m_h;
};

TEST_F(EncoderInterface, BitmapsBecomeAStreamWithUserDataGopsAndEndCode) {
  BgrFrames f;
  if (!LoadFrames(&f, 160, 96, 8)) GTEST_SKIP() << "ffmpeg not available";
  Counting::Install(-1);
  f.flags |= PX_BITMAP_NEEDS_PREPARE;  // the kernel refuses row access unless 221 ran
  PxEncodeParams p = DefaultParams();
  p.nGopLength = 3;
  p.pszUserData = "pxmpeg test";
  const std::string out = m_h.Path("bitmaps.m1v");
  ASSERT_EQ(Encode(f, out, p, PX_FORMAT_MPEG1, 1, 6), PXM_OK);
  EXPECT_EQ(Counting::nLive, 0) << "allocations or bitmaps left behind";
  EXPECT_EQ(Counting::nStarts, 1);
  // Coding order of display frames 0..5 (source 1..6): I0 P3 B1 B2 I5 B4.
  EXPECT_EQ(f.asked, (std::vector<int>{1, 4, 2, 3, 6, 5}));

  std::ifstream in(out, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(bytes.find(std::string("\0\0\1\xB2pxmpeg test", 15)), std::string::npos);
  size_t gops = 0;
  for (size_t at = bytes.find(std::string("\0\0\1\xB8", 4)); at != std::string::npos;
       at = bytes.find(std::string("\0\0\1\xB8", 4), at + 1))
    ++gops;
  EXPECT_EQ(gops, 2u);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\0\0\1\xB7", 4));

  std::string log;
  EXPECT_EQ(Harness::Run("ffmpeg -v error -i '" + out + "' -f null -", &log), 0);
  EXPECT_EQ(log, "");
  EXPECT_EQ(Harness::Probe(out)["nb_read_frames"], "6");
  // Colour conversion round trip: ffmpeg's RGB decode close to the source frames.
  Harness::Run("ffmpeg -v error -y -i '" + out + "' -vsync passthrough -pix_fmt bgr24 -f rawvideo '" +
                   m_h.Path("dec.bgr") + "'",
               &log);
  std::ifstream din(m_h.Path("dec.bgr"), std::ios::binary);
  const std::vector<uint8_t> dec((std::istreambuf_iterator<char>(din)), {});
  const size_t n = static_cast<size_t>(f.w) * f.h * 3;
  ASSERT_EQ(dec.size(), 6 * n);
  double se = 0;
  for (size_t i = 0; i < dec.size(); ++i) {
    const double d = static_cast<double>(dec[i]) - f.data[n + i];
    se += d * d;
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (se / dec.size()));
  EXPECT_GT(psnr, 27.0);
}

TEST_F(EncoderInterface, RefusingCallbackEndsThePutAndReleasesEverything) {
  BgrFrames f;
  if (!LoadFrames(&f, 64, 48, 5)) GTEST_SKIP() << "ffmpeg not available";
  Counting::Install(-1);
  f.refuseAt = 2;
  EXPECT_EQ(Encode(f, m_h.Path("refused.m2v"), DefaultParams(), PX_FORMAT_MPEG2), kCallbackRefusal);
  EXPECT_EQ(Counting::nLive, 0);
}

TEST_F(EncoderInterface, FailedAllocationsAreFreedAndReported) {
  BgrFrames f;
  if (!LoadFrames(&f, 64, 48, 4)) GTEST_SKIP() << "ffmpeg not available";
  for (int failAt = 0; failAt < 8; ++failAt) {
    Counting::Install(failAt);
    const int32_t r = Encode(f, m_h.Path("alloc.m2v"), DefaultParams(), PX_FORMAT_MPEG2);
    EXPECT_EQ(r, PXM_ERR_NO_MEMORY) << "allocation " << failAt;
    EXPECT_EQ(Counting::nLive, 0) << "allocation " << failAt;
  }
}

TEST_F(EncoderInterface, FullDiskGivesWriteErrorAndBadNameGivesOpenError) {
  BgrFrames f;
  if (!LoadFrames(&f, 64, 48, 4)) GTEST_SKIP() << "ffmpeg not available";
  // A stream this small fits the kernel's write-behind buffer: only the flush at the end fails.
  EXPECT_EQ(Encode(f, "/dev/full", DefaultParams(), PX_FORMAT_MPEG2), PXM_ERR_WRITE);
  EXPECT_EQ(Encode(f, m_h.Path("no/such/folder.m2v"), DefaultParams(), PX_FORMAT_MPEG2), PXM_ERR_OPEN);
  PxBitWriter w{};
  EXPECT_EQ(Px_InitBits(nullptr, &w), PXM_ERR_OPEN);
  EXPECT_EQ(Encode(f, m_h.Path("none.m2v"), DefaultParams(), PX_FORMAT_MPEG2, 4), PX_ENC_ERR_NO_FRAMES);
}

// Substitute for kernel writes (a mock, as no real device fails after a chosen byte): accepts
// nLimit bytes through the real kernel, then reports a full disk; seek can be made to fail as the
// kernel's does after a failed flush of its write-behind buffer.
struct FailingDisk {
  static inline int64_t nLimit = -1, nWritten = 0, nCallsAfterFailure = 0;
  static inline bool bFailed = false, bSeekFails = false;
  static inline int nSeeks = 0;
  static int32_t Write(int32_t h, const void* p, int32_t n) {
    if (bFailed) ++nCallsAfterFailure;
    if (nLimit >= 0 && nWritten + n > nLimit) {
      bFailed = true;
      return 0;
    }
    nWritten += n;
    return PxKernelBoundImports().pfnWrite(h, p, n);
  }
  static int32_t Seek(int32_t h, int32_t nOffset, int32_t nOrigin) {
    ++nSeeks;
    return bSeekFails ? -1 : PxKernelBoundImports().pfnSeek(h, nOffset, nOrigin);
  }
  static void Install(int64_t limit, bool seekFails) {
    nLimit = limit;
    nWritten = nCallsAfterFailure = 0;
    bFailed = false;
    bSeekFails = seekFails;
    nSeeks = 0;
    PxKernelImports k = PxKernelBoundImports();
    k.pfnWrite = Write;
    k.pfnSeek = Seek;
    PxKernelSetImports(&k);
  }
};

TEST_F(EncoderInterface, WriteFailureAnywhereGivesWriteErrorAndStopsWriting) {
  BgrFrames f;
  if (!LoadFrames(&f, 160, 96, 9)) GTEST_SKIP() << "ffmpeg not available";
  FailingDisk::Install(-1, false);
  const std::string out = m_h.Path("disk.m2v");
  ASSERT_EQ(Encode(f, out, DefaultParams(), PX_FORMAT_MPEG2), PXM_OK);
  const int64_t nFull = FailingDisk::nWritten;
  EXPECT_EQ(FailingDisk::nSeeks, 1) << "the end of the sequence asks for the position once";
  ASSERT_GT(nFull, 4000);
  struct Case {
    int64_t nLimit;  // bytes accepted, -1 all
    bool bSeekFails;
    bool bAllFramesAsked;
  };
  const Case cases[] = {
      {0, false, false},          // inside the sequence header
      {nFull / 3, false, false},  // mid-stream
      {nFull - 1, false, true},   // the last byte of the end code
      {-1, true, true},           // every write buffered, the flush at the end fails
  };
  for (const Case& c : cases) {
    f.asked.clear();
    FailingDisk::Install(c.nLimit, c.bSeekFails);
    EXPECT_EQ(Encode(f, out, DefaultParams(), PX_FORMAT_MPEG2), PXM_ERR_WRITE) << c.nLimit;
    EXPECT_EQ(FailingDisk::nCallsAfterFailure, 0) << c.nLimit;
    EXPECT_EQ(f.asked.size() == 9u, c.bAllFramesAsked) << c.nLimit;
    std::ifstream in(out, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<int64_t>(in.tellg()), c.nLimit >= 0 ? c.nLimit : nFull) << c.nLimit;
  }
}

TEST_F(EncoderInterface, FrameOfAnotherSizeIsRefused) {
  BgrFrames f;
  if (!LoadFrames(&f, 64, 48, 3)) GTEST_SKIP() << "ffmpeg not available";
  PxEncoderState st{};
  PxBitmap d{};
  d.nWidth = 80;  // the frames are 64 wide
  d.nHeight = 48;
  const PxEncodeParams p = DefaultParams();
  ASSERT_EQ(Px_EncodeSetParams(&st, &d, &p, PX_FORMAT_MPEG2), PXM_OK);
  ASSERT_EQ(Px_InitializeEncoder(&st), PXM_OK);
  ASSERT_EQ(Px_InitBits(m_h.Path("size.m2v").c_str(), &st.writer), PXM_OK);
  EXPECT_EQ(Px_PutSeq(&st, &p, Source, &f), PXM_ERR_BAD_DATA);
  Px_FreeEncodeParams(&st);
}

}  // namespace
}  // namespace enctest
