// fltInfo / fltLoad / fltSave results, page numbering, row delivery and the kernel seam.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "TestStreams.h"
#include "mpegfilter/ColorConverter.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

using namespace testmpeg;

namespace {

struct Rows {
  std::vector<int> flags;
  std::vector<std::vector<uint8_t>> data;
  int stopAt = -1;
  int stopWith = 1;
};

int32_t OnRow(void* pUser, PxLoadInfo* pLoad, uint8_t* pRow, int32_t nFlags, int32_t nRow, int32_t nCount,
              intptr_t nPass) {
  Rows& r = *static_cast<Rows*>(pUser);
  EXPECT_EQ(nCount, 1);
  EXPECT_EQ(nPass, 77);
  EXPECT_EQ(nRow, static_cast<int>(r.flags.size()));
  r.flags.push_back(nFlags);
  r.data.emplace_back(pRow, pRow + pLoad->nWidth * 3);
  return nRow == r.stopAt ? r.stopWith : 1;
}

int32_t Load(const std::string& file, int page, Rows* pRows, int bpp = 24, int rows = 0) {
  PxLoadInfo load{};
  load.nBitsPerPixel = bpp;
  load.nPage = page;
  load.nRows = rows;
  load.pfnRow = OnRow;
  load.pUser = pRows;
  load.nPassThrough = 77;
  load.nLoadFlagA = 5;
  load.nLoadFlagB = 5;
  const int32_t rc = fltLoad(file.c_str(), &load);
  if (rc == PXM_OK) {
    EXPECT_EQ(load.nLoadFlagA, 0);
    EXPECT_EQ(load.nLoadFlagB, 1);
  }
  return rc;
}

int32_t Info(const std::string& file, PxFileInfo* pInfo, int page = 1) {
  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(file.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  if (h < 0) return -1000;
  const int32_t rc = fltInfo(h, pInfo, page);
  k.pfnClose(h);
  return rc;
}

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(FilterEntry, ArgumentResults) {
  Rows rows;
  EXPECT_EQ(Load("/nonexistent/x.m2v", 1, &rows, 2), PXM_ERR_BAD_DEPTH);  // before the file is opened
  EXPECT_EQ(Load("/nonexistent/x.m2v", 1, &rows, 12), PXM_ERR_BAD_DEPTH);
  EXPECT_EQ(Load("", 1, &rows), PXM_ERR_NO_FILE_NAME);
  EXPECT_EQ(fltLoad(nullptr, nullptr), PXM_ERR_BAD_DEPTH);
  PxLoadInfo load{};
  load.nBitsPerPixel = 8;
  EXPECT_EQ(fltLoad(nullptr, &load), PXM_ERR_NO_FILE_NAME);
  EXPECT_EQ(Load("/nonexistent/x.m2v", 1, &rows), PXM_ERR_OPEN);
  EXPECT_EQ(fltSave(nullptr, nullptr), PXM_ERR_NOT_SUPPORTED);
  EXPECT_EQ(fltSave("x", &load), PXM_ERR_NOT_SUPPORTED);
}

TEST(FilterEntry, RefusesOtherData) {
  const std::vector<std::vector<uint8_t>> bad = {
      {0x1B, 0x25, 0x2D, 0x31, 0x32, 0x33},  // printer escape
      {0x4D, 0x5A, 0x90, 0x00},              // executable
      {0x00, 0x00, 0x01, 0xB5, 0, 0, 0, 0},  // extension first
      {0x00, 0x00, 0x01},                    // too short
      {},
  };
  int i = 0;
  for (const auto& b : bad) {
    const std::string f = WriteFile("bad" + std::to_string(i++), b);
    PxFileInfo info{};
    EXPECT_EQ(Info(f, &info), PXM_ERR_BAD_DATA) << i;
    Rows rows;
    EXPECT_EQ(Load(f, 1, &rows), PXM_ERR_BAD_DATA) << i;
  }
  // DICM at 128 behind a valid start code.
  std::vector<uint8_t> dicom(200, 0);
  dicom[2] = 1;
  dicom[3] = 0xB3;
  std::memcpy(&dicom[128], "DICM", 4);
  PxFileInfo info{};
  EXPECT_EQ(Info(WriteFile("dicm.m2v", dicom), &info), PXM_ERR_BAD_DATA);
}

TEST(FilterEntry, PageNumberingInDisplayOrder) {
  // 4 frames with two B pictures: coding order I P B B, display I B B P.
  const std::string f = MakeStream("ipbb.m2v", "life=s=64x48:r=25:ratio=0.5:mold=0",
                                   "-frames:v 4 -c:v mpeg2video -bf 2 -g 12 -q:v 2 -pix_fmt yuv420p");
  ASSERT_FALSE(f.empty());
  PxFileInfo info{};
  ASSERT_EQ(Info(f, &info, 9), PXM_OK);
  EXPECT_EQ(info.nPageCount, 3);
  EXPECT_EQ(info.nCurrentPage, 3);
  EXPECT_EQ(info.nFormat, 246);
  EXPECT_STREQ(info.szFormatName, "MPEG-2");
  EXPECT_EQ(info.nWidth, 64);
  EXPECT_EQ(info.nHeight, 48);
  EXPECT_EQ(info.nBytesPerRow, 192);
  EXPECT_EQ(info.nImageSize, 192 * 48);
  EXPECT_EQ(info.nFilterAccepted, 1);
  const std::vector<unsigned char> ref = ReferenceDecode(f, "yuv420p");
  const size_t fs = 64 * 48 * 3 / 2;
  ASSERT_EQ(ref.size(), 4 * fs);
  for (int page = 1; page <= 3; ++page) {
    Planes p;
    ASSERT_EQ(DecodePlanes(f, page, &p), PXM_OK);
    EXPECT_GE(Psnr(p.y.data(), ref.data() + (page - 1) * fs, 64 * 48), 45.0) << page;
    // and not the picture beside it
    const int other = page == 3 ? 1 : page;
    EXPECT_LT(Psnr(p.y.data(), ref.data() + other * fs, 64 * 48), 40.0) << page;
  }
  Rows rows;
  EXPECT_EQ(Load(f, 4, &rows), PXM_END_OF_STREAM);
}

TEST(FilterEntry, OnePictureHasNoPages) {
  const std::string f = MakeStream("one.m1v", "testsrc2=size=64x48:rate=25", "-frames:v 1 -c:v mpeg1video");
  PxFileInfo info{};
  ASSERT_EQ(Info(f, &info), PXM_OK);
  EXPECT_EQ(info.nPageCount, 0);
  EXPECT_EQ(info.nFormat, 243);
  EXPECT_STREQ(info.szFormatName, "MPEG-1");
  Rows rows;
  EXPECT_EQ(Load(f, 1, &rows), PXM_END_OF_STREAM);
}

TEST(FilterEntry, RowFlagsAndCallbackResult) {
  const std::string f =
      MakeStream("rows.m2v", "testsrc2=size=64x48:rate=25", "-frames:v 3 -c:v mpeg2video -bf 0");
  Rows rows;
  ASSERT_EQ(Load(f, 1, &rows, 24, 48), PXM_OK);
  ASSERT_EQ(rows.flags.size(), 48u);
  EXPECT_EQ(rows.flags[0], 1 | 2 | 4);
  EXPECT_EQ(rows.flags[1], 1 | 2);
  EXPECT_EQ(rows.flags[47], 1 | 2 | 8);
  Rows stop;
  stop.stopAt = 5;
  stop.stopWith = -42;
  EXPECT_EQ(Load(f, 1, &stop, 8, 48), -42);
  EXPECT_EQ(stop.flags.size(), 6u);
}

TEST(FilterEntry, BlackAndWhite) {
  uint8_t bgr[3];
  ColorConverter::ToBgr(16, 128, 128, 5, bgr);
  EXPECT_EQ(bgr[0] + bgr[1] + bgr[2], 0);
  ColorConverter::ToBgr(235, 128, 128, 5, bgr);
  EXPECT_EQ(bgr[0], 255);
  EXPECT_EQ(bgr[1], 255);
  EXPECT_EQ(bgr[2], 255);
  for (int m = 0; m < 10; ++m) {  // every matrix code, and unknown ones, keep grey grey
    ColorConverter::ToBgr(16, 128, 128, m, bgr);
    EXPECT_EQ(bgr[0] + bgr[1] + bgr[2], 0) << m;
  }
  // End to end: a black and a white clip decode to exact planes and exact rows.
  for (const char* colour : {"black", "white"}) {
    const std::string f =
        MakeStream(std::string(colour) + ".m2v", std::string("color=c=") + colour + ":size=64x48:rate=25",
                   "-frames:v 3 -c:v mpeg2video -b:v 2M");
    Planes p;
    ASSERT_EQ(DecodePlanes(f, 1, &p), PXM_OK);
    const int y = colour[0] == 'b' ? 16 : 235;
    bool exact = true;
    for (unsigned char v : p.y) exact &= v == y;
    for (unsigned char v : p.cb) exact &= v == 128;
    if (!exact) continue;  // the encoder did not hit the level exactly; the unit check above holds
    Rows rows;
    ASSERT_EQ(Load(f, 1, &rows), PXM_OK);
    for (const auto& row : rows.data)
      for (uint8_t v : row) ASSERT_EQ(v, y == 16 ? 0 : 255);
  }
}

// --- kernel seam ---
int g_nReadCalls = 0;
int g_nFailAfter = -1;
int32_t ShortRead(int32_t h, void* p, int32_t n) {
  return PxKernelBoundImports().pfnRead(h, p, n > 100 ? 100 : n);
}
int32_t FailingRead(int32_t h, void* p, int32_t n) {
  if (g_nFailAfter >= 0 && g_nReadCalls++ >= g_nFailAfter) return -1;
  return PxKernelBoundImports().pfnRead(h, p, n);
}
int g_nAllocs = 0;
int g_nAllocFail = -1;
int g_nLive = 0;
void* CountingAlloc(size_t n) {
  if (g_nAllocs++ == g_nAllocFail) return nullptr;
  void* p = PxKernelBoundImports().pfnAlloc(n);
  if (p) ++g_nLive;
  return p;
}
void CountingFree(void* p) {
  if (p) --g_nLive;
  PxKernelBoundImports().pfnFree(p);
}

class KernelSeam : public ::testing::Test {
 protected:
  void TearDown() override { PxKernelSetImports(nullptr); }
};

TEST_F(KernelSeam, ShortReadsGiveTheSamePicture) {
  const std::string f =
      MakeStream("seam.m2v", "testsrc2=size=96x64:rate=25", "-frames:v 5 -c:v mpeg2video -bf 2");
  Planes a, b;
  ASSERT_EQ(DecodePlanes(f, 2, &a), PXM_OK);
  PxKernelImports k = PxKernelBoundImports();
  k.pfnRead = ShortRead;
  PxKernelSetImports(&k);
  ASSERT_EQ(DecodePlanes(f, 2, &b), PXM_OK);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.cr, b.cr);
}

TEST_F(KernelSeam, ReadFailureIsAResult) {
  const std::string f =
      MakeStream("seam_big.m2v", "testsrc2=size=96x64:rate=25", "-frames:v 8 -c:v mpeg2video -g 1 -q:v 1");
  PxKernelImports k = PxKernelBoundImports();
  k.pfnRead = FailingRead;
  PxKernelSetImports(&k);
  for (int after : {0, 1, 2, 3}) {
    g_nReadCalls = 0;
    g_nFailAfter = after;
    Rows rows;
    const int32_t rc = Load(f, 3, &rows);
    EXPECT_TRUE(rc == PXM_ERR_READ || rc == PXM_ERR_BAD_DATA) << after << " " << rc;
  }
}

TEST_F(KernelSeam, AllocationFailureFreesEverything) {
  const std::string f =
      MakeStream("seam.m2v", "testsrc2=size=96x64:rate=25", "-frames:v 5 -c:v mpeg2video -bf 2");
  PxKernelImports k = PxKernelBoundImports();
  k.pfnAlloc = CountingAlloc;
  k.pfnFree = CountingFree;
  PxKernelSetImports(&k);
  g_nAllocs = 0;
  g_nAllocFail = -1;
  MpegFilter::SetSettleTime(0);
  Rows ok;
  ASSERT_EQ(Load(f, 1, &ok), PXM_OK);
  const int total = g_nAllocs;
  ASSERT_GE(total, 4);    // three frame stores and the delivery buffer
  EXPECT_EQ(g_nLive, 3);  // the frame stores stay for the next page
  MpegFilter::ReleaseKept();
  EXPECT_EQ(g_nLive, 0);
  for (int fail = 0; fail < total; ++fail) {
    g_nAllocs = 0;
    g_nAllocFail = fail;
    Rows rows;
    EXPECT_EQ(Load(f, 1, &rows), PXM_ERR_NO_MEMORY) << fail;
    MpegFilter::ReleaseKept();
    EXPECT_EQ(g_nLive, 0) << fail;
  }
  MpegFilter::SetSettleTime(MpegFilter::kDefaultSettleNs);
}

TEST_F(KernelSeam, MissingServiceRefuses) {
  PxKernelImports k = PxKernelBoundImports();
  k.pfnSeek = nullptr;
  PxKernelSetImports(&k);
  Rows rows;
  EXPECT_EQ(Load("/tmp/whatever.m2v", 1, &rows), PXM_ERR_KERNEL_MISSING);
  PxFileInfo info{};
  EXPECT_EQ(fltInfo(0, &info, 1), PXM_ERR_KERNEL_MISSING);
  PxKernelSetImports(nullptr);
  EXPECT_TRUE(PxKernelBound());
  EXPECT_EQ(PxKernelProcByOrdinal(12345), nullptr);
}

// Large blocks (frame stores) take another path than small ones: huge-page aligned, zeroed by
// hand. Recycled memory must come back zeroed too, and every size must be usable to its last byte.
TEST(Kernel, LargeBlocksAreZeroedAndWhole) {
  const PxKernelImports& k = PxKernelBoundImports();
  for (int round = 0; round < 2; ++round) {
    for (size_t n : {size_t{100}, (size_t{2} << 20) - 1, size_t{2} << 20, (size_t{3} << 20) + 17}) {
      auto* p = static_cast<uint8_t*>(k.pfnAlloc(n));
      ASSERT_NE(p, nullptr) << n;
      size_t nonZero = 0;
      for (size_t i = 0; i < n; ++i) nonZero += p[i] != 0;
      EXPECT_EQ(nonZero, 0u) << n << " round " << round;
      std::memset(p, 0xA5, n);  // dirty it for the next round's allocation of the same size
      k.pfnFree(p);
    }
  }
}

TEST(Kernel, FilesAndBitmaps) {
  const PxKernelImports& k = PxKernelBoundImports();
  const std::string path = TempDir() + "/kernel.bin";
  const int32_t h = k.pfnOpen(path.c_str(), 0x8301, 128);
  ASSERT_GE(h, 0);
  EXPECT_EQ(k.pfnWrite(h, "abcdef", 6), 6);
  EXPECT_EQ(k.pfnClose(h), 0);
  const int32_t r = k.pfnOpen(path.c_str(), 0x8000, 256);
  char buf[8] = {};
  EXPECT_EQ(k.pfnRead(r, buf, 8), 6);
  EXPECT_EQ(k.pfnSeek(r, 2, PX_SEEK_SET), 2);
  EXPECT_EQ(k.pfnRead(r, buf, 2), 2);
  EXPECT_EQ(std::memcmp(buf, "cd", 2), 0);
  k.pfnClose(r);
  EXPECT_LT(k.pfnOpen("/nonexistent/dir/x", 0x8000, 256), 0);
  EXPECT_EQ(k.pfnAlloc(0), nullptr);

  uint8_t pixels[2 * 12] = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 7, 8, 9, 10, 11, 12};
  PxBitmap bmp{};
  bmp.nWidth = 2;
  bmp.nHeight = 2;
  bmp.nBitsPerPixel = 24;
  bmp.nBytesPerRow = 12;
  bmp.pPixels = pixels;
  bmp.nFlags = PX_BITMAP_NEEDS_PREPARE;
  uint8_t row[6];
  EXPECT_LT(k.pfnBitmapBegin(&bmp), 0);  // not prepared yet
  EXPECT_EQ(k.pfnBitmapPrepare(&bmp), 1);
  EXPECT_EQ(k.pfnBitmapBegin(&bmp), 1);
  EXPECT_EQ(k.pfnBitmapGetRow(&bmp, row, 1, 6), 1);
  EXPECT_EQ(row[0], 7);
  EXPECT_LT(k.pfnBitmapGetRow(&bmp, row, 2, 6), 0);
  EXPECT_EQ(k.pfnBitmapEnd(&bmp), 1);
  EXPECT_EQ(k.pfnBitmapRelease(&bmp), 1);
  EXPECT_EQ(k.pfnSequenceStart(), 1);
}

}  // namespace
