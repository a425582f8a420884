// Two ordinary encodes joined with cat: the second sequence changes size, chroma format or
// interlace (so the macroblock rows change, 17 to 18 at 352x272). Every page must match ffmpeg's
// decode of the part it comes from, and nothing may be written outside a frame store (the ASan
// run catches that). Also the sequence extension that changes the shape without a sequence header.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "TestStreams.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

using namespace testmpeg;

namespace {

struct Part {
  const char* name;
  const char* source;
  const char* args;
  const char* pixFmt;
};

const char* const kProg = "-frames:v 6 -c:v mpeg2video -bf 2 -g 6";
const char* const kIl = "-frames:v 6 -c:v mpeg2video -bf 2 -g 6 -flags +ilme+ildct -top 1";
const Part kProg272 = {"j_prog272.m2v", "testsrc2=size=352x272:rate=25", kProg, "yuv420p"};
const Part kIl272 = {"j_il272.m2v", "mandelbrot=size=352x272:rate=25", kIl, "yuv420p"};
const Part kSmall = {"j_small.m2v", "testsrc2=size=176x144:rate=25", kProg, "yuv420p"};
const Part kSmall422 = {"j_small422.m2v", "mandelbrot=size=176x144:rate=25",
                        "-frames:v 6 -c:v mpeg2video -bf 2 -g 6 -pix_fmt yuv422p", "yuv422p"};
const Part kWide = {"j_wide.m2v", "mandelbrot=size=320x96:rate=25", kIl, "yuv420p"};
const Part kMpeg1 = {"j_m1.m1v", "testsrc2=size=160x112:rate=25", "-frames:v 5 -c:v mpeg1video -bf 2",
                     "yuv420p"};

struct Joined {
  const char* name;
  Part a, b;
};

const Joined kJoined[] = {
    {"prog_to_interlaced", kProg272, kIl272}, {"interlaced_to_prog", kIl272, kProg272},
    {"small_to_large", kSmall, kProg272},     {"large_to_small", kIl272, kSmall},
    {"chroma_420_to_422", kSmall, kSmall422}, {"chroma_422_to_420", kSmall422, kWide},
    {"mpeg1_to_mpeg2", kMpeg1, kIl272},       {"mpeg2_to_mpeg1", kSmall422, kMpeg1},
};

std::vector<unsigned char> ReadAll(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& f, const std::vector<unsigned char>& b) {
  std::ofstream out(f, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// ffmpeg's frames of one part, each as its own planes.
std::vector<std::vector<unsigned char>> Frames(const Part& p, size_t* pFrameSize) {
  const std::string f = MakeStream(p.name, p.source, p.args);
  const std::vector<unsigned char> all = ReferenceDecode(f, p.pixFmt);
  Planes first;
  EXPECT_EQ(DecodePlanes(f, 1, &first), PXM_OK) << p.name;
  const size_t n = static_cast<size_t>(first.w) * first.h + 2 * static_cast<size_t>(first.cw) * first.ch;
  std::vector<std::vector<unsigned char>> out;
  for (size_t o = 0; n && o + n <= all.size(); o += n) out.emplace_back(all.begin() + o, all.begin() + o + n);
  *pFrameSize = n;
  return out;
}

class JoinedStreamTest : public ::testing::TestWithParam<Joined> {};

TEST_P(JoinedStreamTest, EveryPageMatchesItsPart) {
  const Joined& j = GetParam();
  size_t na = 0, nb = 0;
  const auto fa = Frames(j.a, &na);
  const auto fb = Frames(j.b, &nb);
  ASSERT_FALSE(fa.empty());
  ASSERT_FALSE(fb.empty());
  const std::string joined = TempDir() + "/joined_" + j.name + ".m2v";
  ASSERT_TRUE(testmpeg::Run("cat '" + TempDir() + "/" + j.a.name + "' '" + TempDir() + "/" + j.b.name +
                            "' > '" + joined + "'"));

  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(joined.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  ASSERT_GE(h, 0);
  PxFileInfo info{};
  ASSERT_EQ(fltInfo(h, &info, 1), PXM_OK);
  k.pfnClose(h);
  const int total = static_cast<int>(fa.size() + fb.size());
  EXPECT_EQ(info.nPageCount, total - 1);

  for (int page = 1; page < total; ++page) {
    Planes p;
    ASSERT_EQ(DecodePlanes(joined, page, &p), PXM_OK) << "page " << page;
    const bool bFirst = page <= static_cast<int>(fa.size());
    const std::vector<unsigned char>& ref = bFirst ? fa[page - 1] : fb[page - 1 - fa.size()];
    const size_t ny = static_cast<size_t>(p.w) * p.h, nc = static_cast<size_t>(p.cw) * p.ch;
    ASSERT_EQ(ny + 2 * nc, ref.size()) << "page " << page << " has the other part's size";
    EXPECT_GE(Psnr(p.y.data(), ref.data(), ny), 45.0) << j.name << " page " << page;
    EXPECT_GE(Psnr(p.cb.data(), ref.data() + ny, nc), 45.0) << j.name << " page " << page;
    EXPECT_GE(Psnr(p.cr.data(), ref.data() + ny + nc, nc), 45.0) << j.name << " page " << page;
  }
  EXPECT_EQ(ExpectKeptEqualsFresh(joined), total - 1);
  // Whole rows through fltLoad on both sides of the join.
  for (int page : {static_cast<int>(fa.size()), static_cast<int>(fa.size()) + 1, total - 1}) {
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = page;
    load.pfnRow = [](void*, PxLoadInfo*, uint8_t*, int32_t, int32_t, int32_t, intptr_t) -> int32_t {
      return 1;
    };
    EXPECT_EQ(fltLoad(joined.c_str(), &load), PXM_OK) << page;
  }
}

INSTANTIATE_TEST_SUITE_P(Joins, JoinedStreamTest, ::testing::ValuesIn(kJoined),
                         [](const ::testing::TestParamInfo<Joined>& i) { return std::string(i.param.name); });

// A sequence extension between pictures that turns a progressive sequence interlaced (one more
// macroblock row at 352x272) without a sequence header: the stream is refused up front (fltInfo
// and every page), never decoded into stores of the old shape.
TEST(JoinedStream, StraySequenceExtensionIsRefused) {
  const std::string f = MakeStream(kProg272.name, kProg272.source, kProg272.args);
  std::vector<unsigned char> b = ReadAll(f);
  // Find the sequence extension (00 00 01 B5, id 1) and the third picture start code.
  size_t ext = 0, pic = 0;
  int nPics = 0;
  for (size_t i = 0; i + 4 < b.size(); ++i) {
    if (b[i] || b[i + 1] || b[i + 2] != 1) continue;
    if (!ext && b[i + 3] == 0xB5 && (b[i + 4] >> 4) == 1) ext = i;
    if (b[i + 3] == 0x00 && ++nPics == 3) pic = i;
  }
  ASSERT_GT(ext, 0u);
  ASSERT_GT(pic, ext);
  std::vector<unsigned char> stray(b.begin() + ext, b.begin() + ext + 10);
  stray[5] &= ~0x08;  // progressive_sequence 0
  b.insert(b.begin() + pic, stray.begin(), stray.end());
  const std::string bad = TempDir() + "/stray_ext.m2v";
  WriteAll(bad, b);
  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(bad.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  ASSERT_GE(h, 0);
  PxFileInfo info{};
  EXPECT_EQ(fltInfo(h, &info, 1), PXM_ERR_BAD_DATA);
  k.pfnClose(h);
  Planes p;
  EXPECT_EQ(DecodePlanes(bad, 1, &p), PXM_ERR_BAD_DATA);
  EXPECT_EQ(DecodePlanes(bad, 4, &p), PXM_ERR_BAD_DATA);
  // The same extension unchanged (progressive) is harmless.
  stray[5] |= 0x08;
  std::vector<unsigned char> same = ReadAll(f);
  same.insert(same.begin() + pic, stray.begin(), stray.end());
  WriteAll(bad, same);
  EXPECT_EQ(DecodePlanes(bad, 4, &p), PXM_OK);
}

}  // namespace
