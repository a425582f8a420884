// Tiny hand-made streams for what ffmpeg's encoder does not produce: field pictures, dual-prime
// prediction, concealment motion vectors, 4:4:4 chroma and ISO/IEC 11172-2 D pictures. Pictures
// are built from DC-only intra blocks and uncoded motion-compensated macroblocks, so every decoded
// sample follows exactly from the standard's rules; where ffmpeg decodes the stream it must agree
// sample for sample as well.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestBitWriter.h"
#include "TestStreams.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"
#include "pxkernel/PxRecords.h"

namespace {

using testmpeg::Planes;
using testmpeg::TestBitWriter;

struct Seq {
  int w = 32, h = 32;
  bool bMpeg2 = true;
  int nChroma = 1;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
  bool bProgressive = false;
};

struct Pic {
  int nType = 1;       // 1 I, 2 P, 4 D
  int nStructure = 3;  // 1 top field, 2 bottom field, 3 frame
  bool bTopFirst = true;
  bool bFramePredFrameDct = false;
  bool bConceal = false;
  int nTemporal = 0;
};

void SequenceHeader(TestBitWriter& b, const Seq& s) {
  // ISO/IEC 13818-2 6.2.2.1 / 6.2.2.3
  b.StartCode(0xB3);
  b.Put(s.w, 12);
  b.Put(s.h, 12);
  b.Put(1, 4);      // square samples
  b.Put(3, 4);      // 25 Hz
  b.Put(5000, 18);  // bit rate
  b.Put(1, 1);      // marker
  b.Put(112, 10);   // vbv buffer size
  b.Put(0, 1);      // constrained parameters
  b.Put(0, 2);      // no matrices
  if (!s.bMpeg2) return;
  b.StartCode(0xB5);
  b.Put(1, 4);
  b.Put(s.nChroma == 1 ? 0x48 : 0x14, 8);  // Main@Main, or High@High for other chroma formats
  b.Put(s.bProgressive ? 1 : 0, 1);
  b.Put(s.nChroma, 2);
  b.Put(0, 2);
  b.Put(0, 2);
  b.Put(0, 12);
  b.Put(1, 1);
  b.Put(0, 8);
  b.Put(0, 1);  // low delay
  b.Put(0, 7);
}

void Gop(TestBitWriter& b) {
  b.StartCode(0xB8);
  b.Put(0, 1);   // drop frame
  b.Put(0, 5);   // hours
  b.Put(0, 6);   // minutes
  b.Put(1, 1);   // marker
  b.Put(0, 12);  // seconds, pictures
  b.Put(1, 1);   // closed
  b.Put(0, 1);
}

void PictureHeader(TestBitWriter& b, const Seq& s, const Pic& p) {
  b.StartCode(0x00);
  b.Put(p.nTemporal, 10);
  b.Put(p.nType, 3);
  b.Put(0xFFFF, 16);
  if (p.nType == 2) b.Put(s.bMpeg2 ? 0x7 : 0x1, 4);  // full_pel 0, forward_f_code (7 in MPEG-2, 1 in MPEG-1)
  b.Put(0, 1);
  if (!s.bMpeg2) return;
  b.StartCode(0xB5);  // 6.2.3.1 picture coding extension
  b.Put(8, 4);
  b.Put(p.nType == 2 || p.bConceal ? 0x11FF : 0xFFFF, 16);  // f_code: forward 1/1 where vectors are coded
  b.Put(0, 2);                                              // intra_dc_precision 8 bits
  b.Put(p.nStructure, 2);
  b.Put(p.bTopFirst ? 1 : 0, 1);
  b.Put(p.bFramePredFrameDct ? 1 : 0, 1);
  b.Put(p.bConceal ? 1 : 0, 1);
  b.Put(0, 4);  // q_scale_type, intra_vlc_format, alternate_scan, repeat_first_field
  b.Put(1, 1);  // chroma_420_type
  b.Put(s.bProgressive ? 1 : 0, 1);
  b.Put(0, 1);
}

void Slice(TestBitWriter& b, int nRow) {
  b.StartCode(static_cast<uint32_t>(nRow + 1));
  b.Put(4, 5);  // quantiser_scale_code
  b.Put(0, 1);  // extra_bit_slice
}

// DC-only intra blocks: values[k] is block k's sample value; predictors as in 7.2.1.
struct DcPredictors {
  int pred[3] = {128, 128, 128};
  void Blocks(TestBitWriter& b, const std::vector<int>& values, bool bEob) {
    for (size_t k = 0; k < values.size(); ++k) {
      const int c = k < 4 ? 0 : (k % 2 == 0 ? 1 : 2);
      b.DcDifferential(c == 0, values[k] - pred[c]);
      pred[c] = values[k];
      if (bEob) b.Code("10");
    }
  }
};

std::string Save(TestBitWriter& b, const std::string& name) {
  b.StartCode(0xB7);
  const std::string path = testmpeg::TempDir() + "/" + name;
  EXPECT_TRUE(b.Save(path));
  return path;
}

int32_t PageCount(const std::string& path) {
  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(path.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  PxFileInfo info{};
  const int32_t rc = fltInfo(h, &info, 1);
  k.pfnClose(h);
  return rc == PXM_OK ? info.nPageCount : -100 + rc;
}

// ffmpeg's decode of frame nFrame (display order) compared with our page nFrame + 1.
void ExpectSameAsFfmpeg(const std::string& path, int nFrame, const char* pszPixFmt) {
  Planes p;
  ASSERT_EQ(testmpeg::DecodePlanes(path, nFrame + 1, &p), PXM_OK);
  const std::vector<unsigned char> ref = testmpeg::ReferenceDecode(path, pszPixFmt);
  const size_t frame = p.y.size() + p.cb.size() + p.cr.size();
  ASSERT_GE(ref.size(), frame * (nFrame + 1)) << "ffmpeg decoded too few frames";
  const unsigned char* r = ref.data() + frame * nFrame;
  EXPECT_EQ(std::vector<unsigned char>(r, r + p.y.size()), p.y) << "luma, frame " << nFrame;
  r += p.y.size();
  EXPECT_EQ(std::vector<unsigned char>(r, r + p.cb.size()), p.cb) << "Cb, frame " << nFrame;
  r += p.cb.size();
  EXPECT_EQ(std::vector<unsigned char>(r, r + p.cr.size()), p.cr) << "Cr, frame " << nFrame;
}

// Field pictures: an intra field pair, then P field pairs whose top field copies the previous
// frame's bottom field and whose bottom field copies the top field of its own frame (the first
// field of the same frame is a reference of the second, 7.6.4). 32x32, so a field is 2x1
// macroblocks.
std::string FieldStream() {
  const Seq s;
  TestBitWriter b;
  SequenceHeader(b, s);
  Gop(b);
  const int kTop[2] = {60, 90}, kBottom[2] = {200, 170};  // luma per macroblock column
  const int kCbTop[2] = {100, 110}, kCrTop[2] = {140, 150}, kCbBot[2] = {30, 40}, kCrBot[2] = {220, 230};
  int t = 0;
  for (int parity = 0; parity < 2; ++parity) {
    Pic p;
    p.nStructure = parity ? 2 : 1;
    p.nTemporal = t;
    PictureHeader(b, s, p);
    Slice(b, 0);
    DcPredictors dc;
    for (int mb = 0; mb < 2; ++mb) {
      b.Code("1");  // address increment 1
      b.Code("1");  // I macroblock_type: intra
      const int y = parity ? kBottom[mb] : kTop[mb];
      dc.Blocks(b, {y, y, y, y, parity ? kCbBot[mb] : kCbTop[mb], parity ? kCrBot[mb] : kCrTop[mb]}, true);
    }
  }
  for (int frame = 1; frame < 3; ++frame) {
    for (int parity = 0; parity < 2; ++parity) {
      Pic p;
      p.nType = 2;
      p.nStructure = parity ? 2 : 1;
      p.nTemporal = frame;
      PictureHeader(b, s, p);
      Slice(b, 0);
      for (int mb = 0; mb < 2; ++mb) {
        b.Code("1");               // address increment
        b.Code("001");             // P: motion compensated, not coded
        b.Put(1, 2);               // field_motion_type: field
        b.Put(parity ? 0 : 1, 1);  // top field from the bottom one, bottom field from the top one
        b.MotionCode(0);
        b.MotionCode(0);
      }
    }
  }
  return Save(b, "fields.m2v");
}

TEST(HandMadeStreams, FieldPicturesPageByFramePairs) {
  const std::string path = FieldStream();
  EXPECT_EQ(PageCount(path), 2) << "three frames of two fields each";
  Planes p1, p2, p3;
  ASSERT_EQ(testmpeg::DecodePlanes(path, 1, &p1), PXM_OK);
  ASSERT_EQ(testmpeg::DecodePlanes(path, 2, &p2), PXM_OK);
  EXPECT_EQ(testmpeg::DecodePlanes(path, 3, &p3), PXM_END_OF_STREAM);
  EXPECT_EQ(testmpeg::ExpectKeptEqualsFresh(path), 2);
  // Frame 1: even lines from the top field, odd lines from the bottom one; chroma the same way.
  const int kLuma[2][2] = {{60, 90}, {200, 170}};  // [top, bottom field][macroblock column]
  const int kCb[2][2] = {{100, 110}, {30, 40}};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(p1.y[y * 32 + x], kLuma[y % 2][x / 16]) << x << "," << y;
      ASSERT_EQ(p2.y[y * 32 + x], kLuma[1][x / 16]) << x << "," << y;
    }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(p1.cb[y * 16 + x], kCb[y % 2][x / 8]) << x << "," << y;
      ASSERT_EQ(p2.cb[y * 16 + x], kCb[1][x / 8]) << x << "," << y;
    }
  ExpectSameAsFfmpeg(path, 0, "yuv420p");
  ExpectSameAsFfmpeg(path, 1, "yuv420p");
}

// An intra frame with field DCT, top field lines at one value and bottom lines at another per
// macroblock, then P frames predicted by dual prime (7.6.3.6).
// Vectors point inwards (the standard forbids references outside the picture): per macroblock
// column a horizontal vector of +3 / -3 half samples, per row a field vector of +2 / -2.
std::string DualPrimeStream(const std::string& name, int dmx, int dmy, bool bVaried) {
  const Seq s;
  TestBitWriter b;
  SequenceHeader(b, s);
  Gop(b);
  Pic i;
  PictureHeader(b, s, i);
  for (int row = 0; row < 2; ++row) {
    Slice(b, row);
    DcPredictors dc;
    for (int mb = 0; mb < 2; ++mb) {
      b.Code("1");
      b.Code("1");
      b.Put(1, 1);  // dct_type: field (blocks 0 and 1 top field lines, 2 and 3 bottom)
      const int k = bVaried ? row * 2 + mb : 0;
      const int t = 80 + 23 * k, bo = 161 - 31 * k;
      dc.Blocks(b, {t, t, bo, bo, 90 + 10 * k, 170 - 9 * k}, true);
    }
  }
  for (int n = 1; n < 3; ++n) {
    Pic p;
    p.nType = 2;
    p.nTemporal = n;
    PictureHeader(b, s, p);
    for (int row = 0; row < 2; ++row) {
      Slice(b, row);
      for (int mb = 0; mb < 2; ++mb) {
        b.Code("1");
        b.Code("001");
        b.Put(3, 2);  // frame_motion_type: dual prime
        auto dmv = [&](int d) { b.Code(d == 0 ? "0" : (d > 0 ? "10" : "11")); };
        // Vectors are coded as differences from the predictors (reset per slice, then the
        // previous macroblock's vector); the vertical predictor holds the field vector doubled.
        const int vx = mb == 0 ? 3 : -3, vy = row == 0 ? 2 : -2;
        b.MotionCode(mb == 0 ? vx : vx - 3);
        dmv(dmx);
        b.MotionCode(mb == 0 ? vy : 0);
        dmv(dmy);
      }
    }
  }
  return Save(b, name);
}

TEST(HandMadeStreams, DualPrimeAveragesBothParities) {
  // Uniform fields: each field is the average of the same-parity field and the opposite one,
  // whatever the vectors: (80 + 161 + 1) >> 1 = 121 in luma; chroma fields are equal, so chroma
  // stays.
  const std::string path = DualPrimeStream("dualprime0.m2v", 0, 0, false);
  EXPECT_EQ(PageCount(path), 2);
  Planes p;
  ASSERT_EQ(testmpeg::DecodePlanes(path, 2, &p), PXM_OK);
  for (unsigned char v : p.y) ASSERT_EQ(v, 121);
  for (unsigned char v : p.cb) ASSERT_EQ(v, 90);
  for (unsigned char v : p.cr) ASSERT_EQ(v, 170);
  ExpectSameAsFfmpeg(path, 1, "yuv420p");
  EXPECT_EQ(testmpeg::ExpectKeptEqualsFresh(path), 2);
  // Half samples and differentials over a picture that varies by macroblock.
  for (int d : {-1, 0, 1}) {
    const std::string varied =
        DualPrimeStream("dualprime" + std::to_string(d + 2) + ".m2v", d, d ? 1 : 0, true);
    ExpectSameAsFfmpeg(varied, 1, "yuv420p");
  }
}

// Concealment motion vectors in an intra picture are read and ignored (6.2.5.2, 7.6.3.1).
TEST(HandMadeStreams, ConcealmentVectorsAreSkipped) {
  for (bool bFramePred : {true, false}) {
    Seq s;
    s.bProgressive = bFramePred;
    TestBitWriter b;
    SequenceHeader(b, s);
    Gop(b);
    for (int n = 0; n < 3; ++n) {
      Pic p;
      p.bConceal = true;
      p.bFramePredFrameDct = bFramePred;
      p.nTemporal = n;
      PictureHeader(b, s, p);
      for (int row = 0; row < 2; ++row) {
        Slice(b, row);
        DcPredictors dc;
        for (int mb = 0; mb < 2; ++mb) {
          b.Code("1");
          b.Code("1");
          if (!bFramePred) b.Put(0, 1);  // dct_type frame
          b.MotionCode(mb + 1);          // concealment vector (frame format), then marker
          b.MotionCode(-2 - row);
          b.Put(1, 1);
          const int y = 40 + 50 * (row * 2 + mb) + n;
          dc.Blocks(b, {y, y + 5, y + 10, y + 15, 100 + mb, 150 - row}, true);
        }
      }
    }
    const std::string path = Save(b, bFramePred ? "conceal_p.m2v" : "conceal_i.m2v");
    Planes p;
    ASSERT_EQ(testmpeg::DecodePlanes(path, 1, &p), PXM_OK);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        const int base = 40 + 50 * ((y / 16) * 2 + x / 16);
        const int block = ((y % 16) / 8) * 2 + (x % 16) / 8;
        ASSERT_EQ(p.y[y * 32 + x], base + 5 * block) << x << "," << y;
      }
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        ASSERT_EQ(p.cb[y * 16 + x], 100 + x / 8);
        ASSERT_EQ(p.cr[y * 16 + x], 150 - y / 8);
      }
    ExpectSameAsFfmpeg(path, 0, "yuv420p");
  }
}

// 4:4:4 (ISO/IEC 13818-2 6.1.3, Figure 6-13): blocks 4, 6, 8, 10 are Cb and 5, 7, 9, 11 Cr; in
// each chroma component the first two blocks are the left column (top, bottom), the last two the
// right column.
TEST(HandMadeStreams, Chroma444BlockOrder) {
  Seq s;
  s.w = 16;
  s.h = 16;
  s.nChroma = 3;
  s.bProgressive = true;
  TestBitWriter b;
  SequenceHeader(b, s);
  Gop(b);
  for (int n = 0; n < 3; ++n) {
    Pic p;
    p.bFramePredFrameDct = true;
    p.nTemporal = n;
    PictureHeader(b, s, p);
    Slice(b, 0);
    b.Code("1");
    b.Code("1");
    DcPredictors dc;
    dc.Blocks(b, {20, 60, 100, 140, 40, 50, 80, 90, 120, 130, 160, 170}, true);
  }
  const std::string path = Save(b, "chroma444.m2v");
  Planes p;
  ASSERT_EQ(testmpeg::DecodePlanes(path, 1, &p), PXM_OK);
  ASSERT_EQ(p.cw, 16);
  ASSERT_EQ(p.ch, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int col = x / 8, row = y / 8;
      ASSERT_EQ(p.y[y * 16 + x], 20 + 40 * (row * 2 + col));
      ASSERT_EQ(p.cb[y * 16 + x], 40 + 40 * (col * 2 + row)) << x << "," << y;
      ASSERT_EQ(p.cr[y * 16 + x], 50 + 40 * (col * 2 + row)) << x << "," << y;
    }
  ExpectSameAsFfmpeg(path, 0, "yuv444p");
}

// ISO/IEC 11172-2 D pictures (2.4.4.4): DC coefficients only, no end of block, an
// end_of_macroblock bit after each macroblock. Each sample is the DC value.
TEST(HandMadeStreams, DcPicturesOfMpeg1) {
  Seq s;
  s.bMpeg2 = false;
  s.h = 16;
  TestBitWriter b;
  SequenceHeader(b, s);
  Gop(b);
  for (int n = 0; n < 3; ++n) {
    Pic p;
    p.nType = 4;
    p.nTemporal = n;
    PictureHeader(b, s, p);
    Slice(b, 0);
    DcPredictors dc;
    for (int mb = 0; mb < 2; ++mb) {
      b.Code("1");  // address increment
      b.Code("1");  // D macroblock_type
      const int y = 30 + 100 * mb + 10 * n;
      dc.Blocks(b, {y, y + 1, y + 2, y + 3, 60 + n, 200 - mb}, false);
      b.Put(1, 1);  // end_of_macroblock
    }
  }
  const std::string path = Save(b, "dpictures.m1v");
  EXPECT_EQ(PageCount(path), 2);
  EXPECT_EQ(testmpeg::ExpectKeptEqualsFresh(path), 2);
  for (int page = 1; page <= 2; ++page) {
    Planes p;
    ASSERT_EQ(testmpeg::DecodePlanes(path, page, &p), PXM_OK);
    const int n = page - 1;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 32; ++x) {
        const int block = ((y % 16) / 8) * 2 + (x % 16) / 8;
        ASSERT_EQ(p.y[y * 32 + x], 30 + 100 * (x / 16) + 10 * n + block) << x << "," << y;
      }
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        ASSERT_EQ(p.cb[y * 16 + x], 60 + n);
        ASSERT_EQ(p.cr[y * 16 + x], 200 - x / 8);
      }
  }
}

}  // namespace
