// The decoder's fast paths against their plain references on random data: the SSE2 inverse DCT
// and its fused write-back against the scalar Chen-Wang code, the one-look-up coefficient tables
// against the general two-level look-up, and the reader's start-code scan and eight-byte refill
// against a byte-by-byte model of the same data; motion compensation against the averaging formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "mpegfilter/ColorConverter.h"
#include "mpegfilter/DctVlc.h"
#include "mpegfilter/Idct.h"
#include "mpegfilter/MotionCompensator.h"
#include "mpegfilter/StreamReader.h"
#include "mpegfilter/VlcTables.h"
#include "pxkernel/PxKernel.h"

namespace {

// Coefficient blocks of several shapes: dense over the whole 16-bit range, dense over the range
// inverse quantisation produces, and sparse ones like real streams.
void RandomBlock(std::mt19937& rng, int nShape, short* b) {
  std::uniform_int_distribution<int> any(-32768, 32767), valid(-2048, 2047), small(-40, 40), pos(0, 63);
  for (int i = 0; i < 64; ++i) b[i] = 0;
  switch (nShape) {
    case 0:
      for (int i = 0; i < 64; ++i) b[i] = static_cast<short>(any(rng));
      break;
    case 1:
      for (int i = 0; i < 64; ++i) b[i] = static_cast<short>(valid(rng));
      break;
    case 2:
      for (int k = 0; k < 1 + (pos(rng) & 7); ++k) b[pos(rng)] = static_cast<short>(small(rng));
      break;
    default:  // extremes only
      for (int i = 0; i < 64; ++i) b[i] = (pos(rng) & 1) ? 2047 : -2048;
      break;
  }
}

TEST(FastPaths, SimdIdctEqualsScalar) {
  std::mt19937 rng(1180);
  std::uniform_int_distribution<int> pix(0, 255);
  for (int n = 0; n < 40000; ++n) {
    alignas(16) short in[64], a[64], b[64], c[64];
    RandomBlock(rng, n & 3, in);
    std::copy(in, in + 64, a);
    std::copy(in, in + 64, b);
    IdctChenWangReference(a);
    IdctChenWang(b);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], b[i]) << "block " << n << " sample " << i;
    std::copy(in, in + 64, c);
    IdctChenWangSse2(c);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], c[i]) << "SSE2, block " << n << " sample " << i;
    std::copy(in, in + 64, c);
    if (IdctChenWangAvx2(c)) {
      for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], c[i]) << "AVX2, block " << n << " sample " << i;
    }

    // Fused write-back: intra store and prediction add, both with 0..255 clipping.
    uint8_t pred[8 * 11], put[8 * 11], add[8 * 11];
    for (uint8_t& v : pred) v = static_cast<uint8_t>(pix(rng));
    std::copy(pred, pred + sizeof(pred), put);
    std::copy(pred, pred + sizeof(pred), add);
    std::copy(in, in + 64, b);
    std::copy(in, in + 64, c);
    IdctPut(b, put, 11);
    IdctAdd(c, add, 11);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 11; ++x) {
        const int k = y * 11 + x;
        if (x >= 8) {  // outside the block: untouched
          ASSERT_EQ(put[k], pred[k]);
          ASSERT_EQ(add[k], pred[k]);
          continue;
        }
        const int r = a[y * 8 + x];
        ASSERT_EQ(put[k], r < 0 ? 0 : (r > 255 ? 255 : r));
        const int s = pred[k] + r;
        ASSERT_EQ(add[k], s < 0 ? 0 : (s > 255 ? 255 : s));
      }
    for (int i = 0; i < 64; ++i) ASSERT_EQ(b[i] | c[i], 0) << "block left dirty";
  }
  for (int v : {-256, -255, -17, -1, 0, 1, 99, 255}) {
    uint8_t area[8 * 9];
    for (int i = 0; i < 72; ++i) area[i] = static_cast<uint8_t>(i * 37);
    uint8_t want[72];
    for (int i = 0; i < 72; ++i) {
      const int s = area[i] + ((i % 9) < 8 ? v : 0);
      want[i] = static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
    }
    IdctAddConstant(v, area, 9);
    for (int i = 0; i < 72; ++i) ASSERT_EQ(area[i], want[i]) << v;
  }
}

TEST(FastPaths, CoefficientTableAgreesWithGeneralLookup) {
  struct Case {
    const vlc::Table<vlc::DctCode>* pTable;
    bool bOne;
  } cases[] = {{&vlc::kDctTableZero, false}, {&vlc::kDctTableOne, true}};
  for (const Case& c : cases) {
    vlc::VlcLookup general;
    general.Build(*c.pTable, 10);
    const DctVlc& fast = DctVlc::Get(c.bOne);
    int nFast = 0, nLong = 0;
    for (uint32_t top = 0; top < 65536; ++top) {
      const uint32_t w = (top << 16) | 0xA5A5;
      int len = 0;
      const int idx = general.Decode(w, &len);
      const DctVlc::Entry& e = fast.Look(w);
      if (idx < 0) {  // not a code: neither fast table may claim one
        ASSERT_EQ(e.nKind, DctVlc::kLong) << top;
        ASSERT_EQ(fast.LookLong(w).nKind, DctVlc::kLong) << top;
        continue;
      }
      const vlc::DctCode& d = c.pTable->pEntries[idx];
      if (d.nRun == vlc::kDctEob) {
        ASSERT_EQ(e.nKind, DctVlc::kEndOfBlock);
        ASSERT_EQ(e.nLength, len);
      } else if (d.nRun == vlc::kDctEscape) {
        ASSERT_EQ(e.nKind, DctVlc::kEscape);
      } else if (len + 1 > DctVlc::kBits) {
        ASSERT_EQ(e.nKind, DctVlc::kLong);
        // The second table holds every long code.
        const DctVlc::Entry& l = fast.LookLong(w);
        ++nLong;
        ASSERT_EQ(l.nKind, DctVlc::kRunLevel) << top;
        ASSERT_EQ(l.nRun, d.nRun);
        ASSERT_EQ(l.nLength, len + 1);
        const bool neg = (w >> (31 - len)) & 1;
        ASSERT_EQ(l.nLevel, neg ? -d.nLevel : d.nLevel);
      } else {
        ++nFast;
        ASSERT_EQ(e.nKind, DctVlc::kRunLevel) << top;
        ASSERT_EQ(e.nRun, d.nRun);
        ASSERT_EQ(e.nLength, len + 1);
        const bool neg = (w >> (31 - len)) & 1;
        ASSERT_EQ(e.nLevel, neg ? -d.nLevel : d.nLevel);
      }
    }
    EXPECT_GT(nFast, 40000) << "most code space resolves in one look-up";
    EXPECT_GT(nLong, 0);
  }
}

// Writes bytes to a file in the test folder and opens it through the kernel.
struct KernelFile {
  int32_t h = -1;
  explicit KernelFile(const std::vector<uint8_t>& data, const std::string& name) {
    const std::string path = testmpeg::TempDir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
      std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    h = PxKernel().pfnOpen(path.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  }
  ~KernelFile() {
    if (h >= 0) PxKernel().pfnClose(h);
  }
};

// The data as the reader must present it: the bytes, zeros to a 4-byte boundary, end codes.
std::vector<uint8_t> Padded(std::vector<uint8_t> d) {
  while (d.size() & 3) d.push_back(0);
  for (int i = 0; i < 4096; ++i) d.insert(d.end(), {0, 0, 1, 0xB7});
  return d;
}

TEST(FastPaths, StartCodeScanFindsWhatAByteScanFinds) {
  std::mt19937 rng(2048);
  for (int round = 0; round < 12; ++round) {
    // Mostly random bytes (few zeros, like coded data), runs of zeros, and start codes planted
    // around the reader's buffer edges and at random places.
    constexpr size_t kEdge = StreamReader::kBufferSize;
    std::vector<uint8_t> d(2 * kEdge + 9000 + round * 517);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& v : d) v = static_cast<uint8_t>(byte(rng));
    for (size_t edge = kEdge; edge < d.size(); edge += kEdge)
      for (int off : {-5, -3, -2, -1, 0, 1}) {
        const size_t at = edge + off + round % 3;
        if (at + 4 < d.size() && (byte(rng) & 1)) {
          d[at] = 0, d[at + 1] = 0, d[at + 2] = 1, d[at + 3] = static_cast<uint8_t>(1 + byte(rng) % 0xAF);
        }
      }
    for (int k = 0; k < 40; ++k) {
      const size_t at = static_cast<size_t>(byte(rng)) * static_cast<size_t>(byte(rng) + 1) % (d.size() - 8);
      d[at] = 0, d[at + 1] = 0, d[at + 2] = (k % 5) ? 1 : 0,
      d[at + 3] = static_cast<uint8_t>(byte(rng) % 0xB0);
    }
    const std::vector<uint8_t> p = Padded(d);
    std::vector<uint32_t> want;  // code and the byte after it
    for (size_t i = 0; i + 4 < p.size();) {
      if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
        want.push_back((0x100u | p[i + 3]) << 8 | p[i + 4]);
        if (p[i + 3] == 0xB7) break;
        i += 5;  // the reader below takes three bits of the next byte before searching again
      } else {
        ++i;
      }
    }
    KernelFile f(d, "scan" + std::to_string(round) + ".bin");
    ASSERT_GE(f.h, 0);
    auto* r = new StreamReader();
    r->Start(f.h, false);
    ASSERT_TRUE(r->Rewind());
    std::vector<uint32_t> got;
    for (size_t n = 0; n < want.size() + 2; ++n) {
      const uint32_t code = r->NextStartCode();
      r->SkipStartCode();
      // Read a few odd-sized fields before the next search, as header parsing does.
      const uint32_t next = r->Peek(8);
      got.push_back(code << 8 | next);
      if (code == 0x1B7) break;
      r->Get(3);
    }
    delete r;
    ASSERT_EQ(got, want) << "round " << round;
  }
}

TEST(FastPaths, BitFieldsMatchAByteModel) {
  std::mt19937 rng(33);
  std::vector<uint8_t> d(2 * StreamReader::kBufferSize + 20000);  // across two buffer edges
  for (uint8_t& v : d) v = static_cast<uint8_t>(rng());
  const std::vector<uint8_t> p = Padded(d);
  KernelFile f(d, "bits.bin");
  ASSERT_GE(f.h, 0);
  auto* r = new StreamReader();
  r->Start(f.h, false);
  ASSERT_TRUE(r->Rewind());
  size_t bit = 0;
  auto model = [&](int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) v = v << 1 | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
    return v;
  };
  std::uniform_int_distribution<int> width(1, 32);
  while (bit < d.size() * 8 + 4000) {
    const int n = width(rng);
    if (n == 32) {
      const size_t keep = bit;
      ASSERT_EQ(r->Peek32(), model(32)) << keep;
      bit = keep;
      const int nSkip = static_cast<int>(rng() % 17);
      r->Skip(nSkip);
      model(nSkip);
      continue;
    }
    ASSERT_EQ(r->Get(n), model(n)) << "at bit " << bit;
  }
  delete r;
}

// Horizontal chroma doubling runs without bounds inside the line: the same samples as the
// formula with every tap's index clamped to the line, for every width around the edges.
TEST(FastPaths, HorizontalDoublingEqualsTheClampedFormula) {
  std::mt19937 rng(7);
  auto at = [](const std::vector<uint8_t>& s, int i) {
    return static_cast<int>(s[i < 0 ? 0 : (i >= static_cast<int>(s.size()) ? s.size() - 1 : i)]);
  };
  auto clip = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
  for (int n = 1; n <= 40; ++n) {
    for (int round = 0; round < 20; ++round) {
      std::vector<uint8_t> s(n);
      for (uint8_t& v : s) v = static_cast<uint8_t>(round < 4 ? (round & 1) * 255 : rng() & 255);
      for (bool bMpeg1 : {false, true}) {
        std::vector<uint8_t> d(2 * n);
        ColorConverter::DoubleHorizontal(s.data(), n, bMpeg1, d.data());
        for (int i = 0; i < n; ++i) {
          int e0, e1;
          if (bMpeg1) {
            e0 = clip((5 * at(s, i - 3) - 21 * at(s, i - 2) + 70 * at(s, i - 1) + 228 * at(s, i) -
                       37 * at(s, i + 1) + 11 * at(s, i + 2) + 128) >>
                      8);
            e1 = clip((11 * at(s, i - 2) - 37 * at(s, i - 1) + 228 * at(s, i) + 70 * at(s, i + 1) -
                       21 * at(s, i + 2) + 5 * at(s, i + 3) + 128) >>
                      8);
          } else {
            e0 = s[i];
            e1 = clip((21 * (at(s, i - 2) + at(s, i + 3)) - 52 * (at(s, i - 1) + at(s, i + 2)) +
                       159 * (at(s, i) + at(s, i + 1)) + 128) >>
                      8);
          }
          ASSERT_EQ(d[2 * i], e0) << n << " " << i << " mpeg1 " << bMpeg1;
          ASSERT_EQ(d[2 * i + 1], e1) << n << " " << i << " mpeg1 " << bMpeg1;
        }
      }
    }
  }
}

// The row conversion (SIMD where the processor has it) gives ToBgr's bytes for every pixel, with
// every matrix, extreme and random samples, and widths that leave a remainder.
TEST(FastPaths, RowConversionEqualsTheFormula) {
  std::mt19937 rng(11);
  for (int w : {16, 37, 70}) {
    const int h = 6;
    std::vector<uint8_t> planes(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < planes.size(); ++i)
      planes[i] = static_cast<uint8_t>(i % 7 == 0 ? 0 : (i % 7 == 1 ? 255 : rng() & 255));
    FrameStore f;
    f.pY = planes.data();
    f.pCb = f.pY + w * h;
    f.pCr = f.pCb + w * h;
    PlaneGeometry g;
    g.nLumaStride = g.nChromaStride = w;
    g.nLumaHeight = g.nChromaHeight = h;
    g.nChromaShiftX = g.nChromaShiftY = 0;  // 4:4:4: no chroma filter, the formula alone
    for (int m = 0; m <= 8; ++m) {
      SequenceParams seq;
      seq.nWidth = w;
      seq.nHeight = h;
      seq.bMpeg2 = true;
      seq.nChromaFormat = kChroma444;
      seq.nMatrixCoefficients = m;
      struct Sink {
        std::vector<uint8_t> rows;
      } sink;
      PxLoadInfo load{};
      load.nBitsPerPixel = 24;
      load.pUser = &sink;
      load.pfnRow = [](void* u, PxLoadInfo* l, uint8_t* p, int32_t, int32_t, int32_t, intptr_t) -> int32_t {
        auto& r = static_cast<Sink*>(u)->rows;
        r.insert(r.end(), p, p + 3 * l->nWidth);
        return 1;
      };
      ASSERT_EQ(ColorConverter::Deliver(f, seq, g, &load, DecoderLimits{}), 1);
      ASSERT_EQ(sink.rows.size(), static_cast<size_t>(w) * h * 3);
      for (int i = 0; i < w * h; ++i) {
        uint8_t want[3];
        ColorConverter::ToBgr(f.pY[i], f.pCb[i], f.pCr[i], m, want);
        ASSERT_TRUE(sink.rows[3 * i] == want[0] && sink.rows[3 * i + 1] == want[1] &&
                    sink.rows[3 * i + 2] == want[2])
            << "width " << w << " pixel " << i << " matrix " << m;
      }
    }
  }
}

// Vertical chroma doubling (16 samples at a time): the kernels applied sample by sample, lines
// beyond the picture repeating the nearest line of the same field.
TEST(FastPaths, VerticalDoublingEqualsTheKernels) {
  std::mt19937 rng(5);
  auto clip = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
  for (int lines : {1, 2, 3, 5, 8, 13}) {
    for (int w : {7, 16, 40}) {
      std::vector<uint8_t> src(static_cast<size_t>(w) * lines);
      for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i % 5 == 0 ? 255 * (i & 1) : rng() & 255);
      for (bool bProgressive : {true, false}) {
        std::vector<uint8_t> out(2 * src.size(), 0), want(2 * src.size(), 0);
        ColorConverter::DoubleVertical(src.data(), w, w, lines, bProgressive, out.data());
        auto s = [&](int l, int x) { return static_cast<int>(src[static_cast<size_t>(l) * w + x]); };
        for (int x = 0; x < w; ++x) {
          if (bProgressive) {
            auto at = [&](int i) { return s(i < 0 ? 0 : (i >= lines ? lines - 1 : i), x); };
            for (int i = 0; i < lines; ++i) {
              want[(2 * i) * w + x] =
                  static_cast<uint8_t>(clip((3 * at(i - 3) - 16 * at(i - 2) + 67 * at(i - 1) + 227 * at(i) -
                                             32 * at(i + 1) + 7 * at(i + 2) + 128) >>
                                            8));
              want[(2 * i + 1) * w + x] =
                  static_cast<uint8_t>(clip((7 * at(i - 2) - 32 * at(i - 1) + 227 * at(i) + 67 * at(i + 1) -
                                             16 * at(i + 2) + 3 * at(i + 3) + 128) >>
                                            8));
            }
          } else {
            for (int f = 0; f < 2; ++f) {
              // Lines of field f: f, f + 2, ... (a one-line picture has no second field: its
              // line stands in).
              const int n = (lines - f + 1) / 2;
              auto at = [&](int k) {
                const int line = n > 0 ? 2 * (k < 0 ? 0 : (k >= n ? n - 1 : k)) + f : lines - 1;
                return s(line, x);
              };
              static const int kK[2][2][6] = {{{1, -7, 30, 248, -21, 5}, {7, -35, 194, 110, -24, 4}},
                                              {{4, -24, 110, 194, -35, 7}, {5, -21, 248, 30, -7, 1}}};
              // Every output line, also the last one of an odd line count (interlaced), which
              // lies beyond the field's last line and repeats it.
              for (int k = 0; 4 * k + f < 2 * lines; ++k)
                for (int o = 0; o < 2; ++o) {
                  const int line = 4 * k + f + 2 * o;
                  if (line >= 2 * lines) continue;
                  int v = 128;
                  for (int t = 0; t < 6; ++t) v += kK[f][o][t] * at(k - 3 + o + t);
                  want[static_cast<size_t>(line) * w + x] = static_cast<uint8_t>(clip(v >> 8));
                }
            }
          }
        }
        ASSERT_EQ(out, want) << "lines " << lines << " width " << w << " progressive " << bProgressive;
      }
    }
  }
}

}  // namespace

// Every half-sample phase, both widths, with and without averaging, inside the plane and with
// vectors reaching past its edges (served with repeated edge samples), on random samples and on
// extremes where the rounding of the four-sample average matters most.
TEST(FastPaths, PredictionEqualsTheAveragingFormulas) {
  constexpr int kW = 40, kH = 36, kStride = 48;
  std::mt19937 rng(7316);
  std::uniform_int_distribution<int> pix(0, 255), bit(0, 1), vec(-24, 24);
  std::vector<uint8_t> ref(kStride * kH);
  for (int n = 0; n < 3000; ++n) {
    for (uint8_t& v : ref) v = static_cast<uint8_t>(n % 3 == 2 ? 255 * bit(rng) : pix(rng));
    const PlaneView src{ref.data(), kStride, kW, kH};
    const int nW = (n & 1) ? 16 : 8;
    const int nH = (n & 2) ? 16 : 8;
    const bool bAverage = n & 4;
    const int x = 16 * ((n >> 3) % 2), y = 8 * ((n >> 4) % 3);
    const int vx = (n & 8) ? vec(rng) : (n & 16) + (n >> 5) % 2;  // far or near, both phases
    const int vy = (n & 8) ? vec(rng) : (n & 32) / 4 + (n >> 6) % 2;
    uint8_t dst[16 * 16], want[16 * 16];
    for (int i = 0; i < 256; ++i) dst[i] = want[i] = static_cast<uint8_t>(pix(rng));
    MotionCompensator::Predict(src, x, y, vx, vy, dst, 16, nW, nH, bAverage);
    auto at = [&](int i, int j) {
      i = std::min(std::max(i, 0), kW - 1);
      j = std::min(std::max(j, 0), kH - 1);
      return static_cast<int>(ref[j * kStride + i]);
    };
    const int sx = x + (vx >> 1), sy = y + (vy >> 1), hx = vx & 1, hy = vy & 1;
    for (int j = 0; j < nH; ++j) {
      for (int i = 0; i < nW; ++i) {
        const int a = at(sx + i, sy + j), b = at(sx + i + hx, sy + j), c = at(sx + i, sy + j + hy),
                  d = at(sx + i + hx, sy + j + hy);
        int v = (hx && hy) ? (a + b + c + d + 2) >> 2 : (hx ? (a + b + 1) >> 1 : (hy ? (a + c + 1) >> 1 : a));
        if (bAverage) v = (v + want[j * 16 + i] + 1) >> 1;
        want[j * 16 + i] = static_cast<uint8_t>(v);
      }
    }
    for (int i = 0; i < 256; ++i)
      ASSERT_EQ(want[i], dst[i]) << "case " << n << " at " << i % 16 << "," << i / 16;
  }
}

// The chroma pair (two planes of one geometry in one register) must give what two single-plane
// predictions give: every phase, averaging or not, inside the plane and across its edges.
TEST(FastPaths, PairPredictionEqualsTwoPredictions) {
  constexpr int kW = 24, kH = 20, kStride = 32;
  std::mt19937 rng(4220);
  std::uniform_int_distribution<int> pix(0, 255), vec(-20, 20);
  std::vector<uint8_t> cb(kStride * kH), cr(kStride * kH);
  for (int n = 0; n < 2000; ++n) {
    for (size_t i = 0; i < cb.size(); ++i) {
      cb[i] = static_cast<uint8_t>(pix(rng));
      cr[i] = static_cast<uint8_t>(n % 5 == 0 ? 255 - cb[i] : pix(rng));
    }
    const PlaneView a{cb.data(), kStride, kW, kH};
    const PlaneView b{cr.data(), kStride, kW, kH};
    const int nH = (n & 1) ? 8 : 4;
    const bool bAverage = n & 2;
    const int x = 8 * ((n >> 2) % 3), y = 4 * ((n >> 4) % 4);
    const int vx = (n & 64) ? vec(rng) : (n >> 7) % 4, vy = (n & 64) ? vec(rng) : (n >> 9) % 4;
    uint8_t got[2][16 * 8], want[2][16 * 8];
    for (int p = 0; p < 2; ++p)
      for (int i = 0; i < 16 * 8; ++i) got[p][i] = want[p][i] = static_cast<uint8_t>(pix(rng));
    MotionCompensator::Predict(a, x, y, vx, vy, want[0], 16, 8, nH, bAverage);
    MotionCompensator::Predict(b, x, y, vx, vy, want[1], 16, 8, nH, bAverage);
    MotionCompensator::PredictPair(a, cr.data(), x, y, vx, vy, got[0], got[1], 16, nH, bAverage);
    for (int p = 0; p < 2; ++p)
      for (int i = 0; i < 16 * 8; ++i)
        ASSERT_EQ(want[p][i], got[p][i])
            << "case " << n << " plane " << p << " at " << i % 16 << "," << i / 16;
  }
}
