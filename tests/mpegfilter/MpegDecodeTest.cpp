// Every loadable page of ffmpeg-made streams against ffmpeg's own decode of the same picture.
#include <gtest/gtest.h>

#include <cstdio>

#include "TestStreams.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

using namespace testmpeg;

namespace {

struct Case {
  const char* name;
  const char* source;
  const char* args;
  const char* pixFmt;
};

const Case kCases[] = {
    {"mpeg1.m1v", "testsrc2=size=176x144:rate=25", "-frames:v 10 -c:v mpeg1video -bf 2 -g 6", "yuv420p"},
    {"mpeg2_prog.m2v", "testsrc2=size=176x144:rate=25", "-frames:v 10 -c:v mpeg2video -bf 2 -g 6", "yuv420p"},
    {"mpeg2_il.m2v", "testsrc2=size=176x144:rate=25",
     "-frames:v 10 -c:v mpeg2video -flags +ilme+ildct -top 1 -bf 2 -g 6", "yuv420p"},
    {"mpeg2_422.m2v", "testsrc2=size=176x144:rate=25", "-frames:v 8 -c:v mpeg2video -pix_fmt yuv422p -bf 2",
     "yuv422p"},
    {"mpeg2_il422.m2v", "testsrc2=size=176x144:rate=25",
     "-frames:v 8 -c:v mpeg2video -pix_fmt yuv422p -flags +ilme+ildct -bf 2", "yuv422p"},
    {"intra.m2v", "testsrc2=size=176x144:rate=25", "-frames:v 4 -c:v mpeg2video -g 1 -b:v 4M", "yuv420p"},
    {"bframes.m2v", "testsrc2=size=176x144:rate=25", "-frames:v 9 -c:v mpeg2video -bf 2 -g 9", "yuv420p"},
    {"altscan_nlq_ivlc.m2v", "testsrc2=size=176x144:rate=25",
     "-frames:v 8 -c:v mpeg2video -alternate_scan 1 -non_linear_quant 1 -qmax 28 -intra_vlc 1 -bf 2",
     "yuv420p"},
    {"ps1.mpg", "testsrc2=size=176x144:rate=25", "-frames:v 8 -c:v mpeg1video -bf 2 -f mpeg", "yuv420p"},
    {"ps2.vob", "testsrc2=size=176x144:rate=25", "-frames:v 8 -c:v mpeg2video -bf 2 -f vob", "yuv420p"},
    {"odd_size.m2v", "testsrc2=size=200x120:rate=25", "-frames:v 6 -c:v mpeg2video -bf 1", "yuv420p"},
};

class MpegDecodeTest : public ::testing::TestWithParam<Case> {};

TEST_P(MpegDecodeTest, EveryPageMatchesFfmpeg) {
  const Case& c = GetParam();
  const std::string file = MakeStream(c.name, c.source, c.args);
  ASSERT_FALSE(file.empty()) << "ffmpeg could not make " << c.name;
  const std::vector<unsigned char> ref = ReferenceDecode(file, c.pixFmt);
  const int probed = ProbeFrames(file);

  // Page count against ffprobe: N frames give N - 1 pages.
  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(file.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  ASSERT_GE(h, 0);
  PxFileInfo info{};
  ASSERT_EQ(fltInfo(h, &info, 1), PXM_OK);
  k.pfnClose(h);
  EXPECT_EQ(info.nPageCount, probed - 1);

  Planes p;
  ASSERT_EQ(DecodePlanes(file, 1, &p), PXM_OK);
  const size_t frameSize = static_cast<size_t>(p.w) * p.h + 2 * static_cast<size_t>(p.cw) * p.ch;
  ASSERT_EQ(ref.size() % frameSize, 0u);
  const int frames = static_cast<int>(ref.size() / frameSize);
  EXPECT_EQ(frames, probed);
  double sum = 0, worst = 1e9;
  int n = 0;
  for (int page = 1; page < frames; ++page) {
    ASSERT_EQ(DecodePlanes(file, page, &p), PXM_OK) << "page " << page;
    const unsigned char* r = ref.data() + static_cast<size_t>(page - 1) * frameSize;
    const size_t ny = static_cast<size_t>(p.w) * p.h, nc = static_cast<size_t>(p.cw) * p.ch;
    const double py = Psnr(p.y.data(), r, ny);
    const double pb = Psnr(p.cb.data(), r + ny, nc);
    const double pr = Psnr(p.cr.data(), r + ny + nc, nc);
    for (double v : {py, pb, pr}) {
      EXPECT_GE(v, 45.0) << c.name << " page " << page;
      sum += v;
      worst = v < worst ? v : worst;
      ++n;
    }
  }
  // The page after the last loadable one is past the end of the stream.
  EXPECT_EQ(DecodePlanes(file, frames, &p), PXM_END_OF_STREAM);
  // Pages read one after the other through the kept decoder equal fresh decodes.
  EXPECT_EQ(ExpectKeptEqualsFresh(file), frames - 1);
  ASSERT_GT(n, 0);
  const double avg = sum / n;
  EXPECT_GE(avg, 50.0) << c.name;
  std::printf("[ measured ] %-22s pages %2d  PSNR min %.2f dB  avg %.2f dB\n", c.name, frames - 1, worst,
              avg);
}

INSTANTIATE_TEST_SUITE_P(Streams, MpegDecodeTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) {
                           std::string s = i.param.name;
                           for (char& ch : s)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return s;
                         });

}  // namespace
