// Streams written by the encoder, checked by ffmpeg/ffprobe (an independent decoder) and by our
// own decoder, whose frames must equal the encoder's reconstruction bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "EncoderHarness.h"
#include "mpegfilter/PxResult.h"

namespace enctest {
namespace {

// ffmpeg reads the stream without a complaint, and our decoder's pages before the last equal the
// encoder's reconstruction.
void ExpectDecodesAsReconstructed(const std::string& out, const Harness::Encoded& e, int frames) {
  std::string log;
  EXPECT_EQ(Harness::Run("ffmpeg -v error -i '" + out + "' -f null -", &log), 0);
  EXPECT_EQ(log, "");
  for (int page = 1; page < frames; ++page) {
    Planes dec;
    ASSERT_TRUE(Harness::DecodePage(out, page, &dec)) << "page " << page;
    EXPECT_TRUE(dec == e.recon.at(page - 1))
        << "page " << page << " differs from the encoder's reconstruction";
  }
}

struct StreamCase {
  const char* name;
  int32_t nFormat;
  int w, h, frames;
  const char* source;
  PxEncodeParams p;
  // Expected from ffprobe.
  const char* pixFmt;
  const char* rate;
  const char* dar;      // display_aspect_ratio
  const char* profile;  // "" for MPEG-1
  const char* level;
  const char* fieldOrder;  // "" unchecked (MPEG-1), "interlaced" anything but progressive
  double minPsnr;
};

PxEncodeParams P(int field = -1, int chroma = -1, int profile = -1, int level = -1, int aspect = -1,
                 int rate = -1, int bitrate = -1, int gop = -1, int dc = -1) {
  PxEncodeParams p = DefaultParams();
  p.nFieldCoding = field;
  p.nChromaFormat = chroma;
  p.nProfile = profile;
  p.nLevel = level;
  p.nAspectRatio = aspect;
  p.nFrameRateCode = rate;
  p.nBitRate = bitrate;
  p.nGopLength = gop;
  p.nIntraDcPrecision = dc;
  return p;
}

const StreamCase kCases[] = {
    {"mpeg1_defaults", PX_FORMAT_MPEG1, 352, 288, 8, "testsrc2", P(), "yuv420p", "25/1", "", "", "", "", 30},
    {"mpeg1_odd_size", PX_FORMAT_MPEG1, 200, 120, 7, "smptebars", P(-1, -1, -1, -1, 3, 2, 800000, 3),
     "yuv420p", "24/1", "", "", "", "", 30},
    {"mpeg2_defaults", PX_FORMAT_MPEG2, 352, 288, 8, "testsrc2", P(), "yuv420p", "30/1", "4:3", "Main", "8",
     "progressive", 35},
    {"mpeg2_field_pictures", PX_FORMAT_MPEG2, 320, 256, 7, "testsrc2", P(1, -1, -1, -1, 3, 3), "yuv420p",
     "25/1", "16:9", "Main", "8", "interlaced", 32},
    {"mpeg2_field_pictures_gop3", PX_FORMAT_MPEG2, 320, 256, 8, "mandelbrot", P(1, -1, -1, -1, 3, 3, -1, 3),
     "yuv420p", "25/1", "16:9", "Main", "8", "interlaced", 30},
    {"mpeg2_interlaced_frames", PX_FORMAT_MPEG2, 320, 256, 7, "mandelbrot", P(2, -1, -1, -1, -1, 3),
     "yuv420p", "25/1", "4:3", "Main", "8", "tt", 30},
    {"mpeg2_422_high", PX_FORMAT_MPEG2, 176, 144, 6, "smptebars", P(-1, 2, 1, 8, 1, 6), "yuv422p", "50/1", "",
     "High", "8", "progressive", 32},
    {"mpeg2_444_escape", PX_FORMAT_MPEG2, 176, 144, 6, "testsrc2", P(-1, 3, 8, -1, -1, 1, -1, 6), "yuv444p",
     "24000/1001", "4:3", "", "", "progressive", 30},
    {"mpeg2_dc10_gop3", PX_FORMAT_MPEG2, 352, 240, 7, "mandelbrot", P(-1, -1, 4, 8, 2, 4, 3000000, 3, 2),
     "yuv420p", "30000/1001", "4:3", "Main", "8", "progressive", 30},
};

class EncodedStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(EncodedStream, DecodesInFfmpegAndMatchesReconstruction) {
  if (!Harness::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const StreamCase& c = GetParam();
  Harness h;
  const std::string yuv = h.MakeYuv(c.source, c.w, c.h, c.frames);
  ASSERT_FALSE(yuv.empty());
  const std::string out = h.Path(std::string(c.name) + (c.nFormat == PX_FORMAT_MPEG1 ? ".m1v" : ".m2v"));
  const Harness::Encoded e = Harness::EncodeYuv(yuv, c.w, c.h, c.p, c.nFormat, out);
  ASSERT_EQ(e.result, PXM_OK);
  ASSERT_EQ(static_cast<int>(e.recon.size()), c.frames);

  std::string log;
  EXPECT_EQ(Harness::Run("ffmpeg -v error -i '" + out + "' -f null -", &log), 0);
  EXPECT_EQ(log, "") << "ffmpeg reports errors";

  auto pr = Harness::Probe(out);
  EXPECT_EQ(pr["codec_name"], c.nFormat == PX_FORMAT_MPEG1 ? "mpeg1video" : "mpeg2video");
  EXPECT_EQ(pr["width"], std::to_string(c.w));
  EXPECT_EQ(pr["height"], std::to_string(c.h));
  EXPECT_EQ(pr["nb_read_frames"], std::to_string(c.frames));
  EXPECT_EQ(pr["pix_fmt"], c.pixFmt);
  EXPECT_EQ(pr["r_frame_rate"], c.rate);
  if (*c.dar) {
    EXPECT_EQ(pr["display_aspect_ratio"], c.dar);
  }
  if (*c.profile) {
    EXPECT_EQ(pr["profile"], c.profile);
  }
  if (*c.level) {
    EXPECT_EQ(pr["level"], c.level);
  }
  // Field pictures carry top_field_first 0 (ISO/IEC 13818-2 6.3.10), which ffprobe reads as "bb".
  if (std::string(c.fieldOrder) == "interlaced") {
    EXPECT_NE(pr["field_order"], "progressive");
  } else if (*c.fieldOrder) {
    EXPECT_EQ(pr["field_order"], c.fieldOrder);
  }

  const double psnr = h.Psnr(out, yuv, c.w, c.h);
  EXPECT_GE(psnr, c.minPsnr) << "ffmpeg's decode is far from the source";

  // Our decoder: page P is display frame P - 1; the last displayed frame has no page.
  for (int page = 1; page < c.frames; ++page) {
    Planes dec;
    ASSERT_TRUE(Harness::DecodePage(out, page, &dec)) << "page " << page;
    const auto it = e.recon.find(page - 1);
    ASSERT_NE(it, e.recon.end());
    EXPECT_TRUE(dec == it->second) << "page " << page << " differs from the encoder's reconstruction";
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, EncodedStream, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StreamCase>& i) {
                           return std::string(i.param.name);
                         });

// Fast motion (a scroll of a twentieth of the width per picture: beyond the motion table's windows,
// partly beyond the widened one) in each picture structure: long vectors, vectors carried over
// from the previous macroblock, skips and intra fallbacks must decode the same in ffmpeg and in
// our decoder, and no picture may fall far below the others.
struct MotionCase {
  const char* name;
  int32_t nFormat;
  int nField;
};

class FastMotion : public ::testing::TestWithParam<MotionCase> {};

TEST_P(FastMotion, DecodesAlikeAndNoPictureFallsBehind) {
  if (!Harness::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const MotionCase& c = GetParam();
  constexpr int kW = 176, kH = 144, kFrames = 12;
  Harness h;
  const std::string yuv = h.MakeYuv("testsrc2", kW, kH, kFrames, ",scroll=horizontal=0.05");
  ASSERT_FALSE(yuv.empty());
  const std::string out = h.Path(std::string(c.name) + ".mpg");
  const Harness::Encoded e = Harness::EncodeYuv(yuv, kW, kH, P(c.nField, -1, -1, -1, -1, 3), c.nFormat, out);
  ASSERT_EQ(e.result, PXM_OK);
  ExpectDecodesAsReconstructed(out, e, kFrames);
  std::vector<double> psnr = h.PsnrPerPicture(out, yuv, kW, kH);
  ASSERT_EQ(static_cast<int>(psnr.size()), kFrames);
  // Against the poorer of its two neighbours, with room for intra-heavy pictures: at this rate the
  // intra matrix limits them to about 46 dB while predicted pictures reach 54.
  for (int i = 0; i < kFrames; ++i) {
    const double neighbour = std::min(psnr[std::max(i - 1, 0)], psnr[std::min(i + 1, kFrames - 1)]);
    EXPECT_GE(psnr[i], neighbour - 12) << "picture " << i << " of " << c.name;
  }
}

const MotionCase kMotionCases[] = {{"mpeg1", PX_FORMAT_MPEG1, -1},
                                   {"progressive", PX_FORMAT_MPEG2, 0},
                                   {"field_pictures", PX_FORMAT_MPEG2, 1},
                                   {"interlaced_frames", PX_FORMAT_MPEG2, 2}};

INSTANTIATE_TEST_SUITE_P(Streams, FastMotion, ::testing::ValuesIn(kMotionCases),
                         [](const ::testing::TestParamInfo<MotionCase>& i) {
                           return std::string(i.param.name);
                         });

// Black and white cells of 4x4 samples at a rate the quantisers reach their floor with: intra levels beyond
// 127 (MPEG-1's long escape, its 255 limit) and non-intra levels beyond the tables, whose code lengths the
// level choice weighs, must still be written as the decoders read them.
class ExtremeLevels : public ::testing::TestWithParam<int32_t> {};

TEST_P(ExtremeLevels, DecodeAlikeEverywhere) {
  if (!Harness::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  constexpr int kW = 176, kH = 144, kFrames = 6;
  Harness h;
  const std::string yuv =
      h.MakeYuv("life", kW / 4, kH / 4, kFrames, ":seed=5:mold=0,scale=176:144:flags=neighbor");
  ASSERT_FALSE(yuv.empty());
  const std::string out = h.Path("cells.mpg");
  const Harness::Encoded e =
      Harness::EncodeYuv(yuv, kW, kH, P(-1, -1, -1, -1, -1, 3, 8000000, 3), GetParam(), out);
  ASSERT_EQ(e.result, PXM_OK);
  ExpectDecodesAsReconstructed(out, e, kFrames);
  for (double psnr : h.PsnrPerPicture(out, yuv, kW, kH)) EXPECT_GE(psnr, 30.0);
}

INSTANTIATE_TEST_SUITE_P(Streams, ExtremeLevels, ::testing::Values(PX_FORMAT_MPEG1, PX_FORMAT_MPEG2),
                         [](const ::testing::TestParamInfo<int32_t>& i) {
                           return std::string(i.param == PX_FORMAT_MPEG1 ? "mpeg1" : "mpeg2");
                         });

// picture_coding_type of every picture header (ISO/IEC 13818-2 6.2.3), in stream order.
std::string PictureTypes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), {});
  std::string types;
  for (size_t at = b.find(std::string("\0\0\1\0", 4)); at != std::string::npos && at + 5 < b.size();
       at = b.find(std::string("\0\0\1\0", 4), at + 4))
    types += "?IPB"[(static_cast<uint8_t>(b[at + 5]) >> 3) & 3];
  return types;
}

TEST(EncodedFields, SecondFieldOfAnIFrameIsPredicted) {
  if (!Harness::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  Harness h;
  const std::string yuv = h.MakeYuv("testsrc2", 160, 128, 7);
  ASSERT_FALSE(yuv.empty());
  PxEncodeParams p = P(1, -1, -1, -1, -1, 3, -1, 6);
  const std::string out = h.Path("fields.m2v");
  ASSERT_EQ(Harness::EncodeYuv(yuv, 160, 128, p, PX_FORMAT_MPEG2, out).result, PXM_OK);
  // Coding order I0 P3 B1 B2 I6 B4 B5, two fields each; only first fields of I frames are intra.
  EXPECT_EQ(PictureTypes(out), "IPPPBBBBIPBBBB");
}

// quantiser_scale_code of every slice (ISO/IEC 13818-2 6.2.4), per picture in stream order, with
// the picture's type letter.
std::vector<std::pair<char, std::vector<int>>> SliceQuantisers(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::pair<char, std::vector<int>>> pics;
  for (size_t at = b.find(std::string("\0\0\1", 3)); at != std::string::npos && at + 5 < b.size();
       at = b.find(std::string("\0\0\1", 3), at + 3)) {
    const uint8_t code = static_cast<uint8_t>(b[at + 3]);
    if (code == 0)
      pics.push_back({"?IPB" [(static_cast<uint8_t>(b[at + 5]) >> 3) & 3], {}});
    else if (code >= 1 && code <= 0xAF && !pics.empty())
      pics.back().second.push_back(static_cast<uint8_t>(b[at + 4]) >> 3);
  }
  return pics;
}

TEST(EncodedRate, AnEasyClipAskedForTooMuchStopsAtTheFinestQuantiser) {
  if (!Harness::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  constexpr int kW = 352, kH = 288, kFrames = 12;
  Harness h;
  const std::string yuv = h.MakeYuv("testsrc2", kW, kH, kFrames);
  ASSERT_FALSE(yuv.empty());
  const std::string out = h.Path("easy.m2v");
  // 15 Mbit/s at 25 frames/s: 600 kbit per picture, far more than this clip needs.
  ASSERT_EQ(
      Harness::EncodeYuv(yuv, kW, kH, P(0, -1, -1, -1, -1, 3, 15000000, 6), PX_FORMAT_MPEG2, out).result,
      PXM_OK);
  const auto pics = SliceQuantisers(out);
  ASSERT_EQ(static_cast<int>(pics.size()), kFrames);
  for (size_t i = 0; i < pics.size(); ++i) {
    ASSERT_FALSE(pics[i].second.empty());
    for (int q : pics[i].second)
      EXPECT_GE(q, pics[i].first == 'B' ? 3 : 2) << "picture " << i << " " << pics[i].first;
  }
  std::ifstream f(out, std::ios::binary | std::ios::ate);
  const double kbps = static_cast<double>(f.tellg()) * 8 * 25 / kFrames / 1000;
  EXPECT_LT(kbps, 15000 * 0.5) << "an easy clip spends what it needs, not the rate";
  EXPECT_GE(h.Psnr(out, yuv, kW, kH), 45);
}

// Bits and pictures of each GOP (from its header to the next), in stream order.
std::vector<std::pair<int, int64_t>> GopBits(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::pair<int, int64_t>> gops;
  size_t gopAt = 0;
  for (size_t at = b.find(std::string("\0\0\1", 3)); at != std::string::npos && at + 3 < b.size();
       at = b.find(std::string("\0\0\1", 3), at + 3)) {
    const uint8_t code = static_cast<uint8_t>(b[at + 3]);
    if (code == 0xB8 || code == 0xB7) {
      if (!gops.empty()) gops.back().second = static_cast<int64_t>(at - gopAt) * 8;
      if (code == 0xB8) gops.push_back({0, 0});
      gopAt = at;
    } else if (code == 0 && !gops.empty()) {
      ++gops.back().first;
    }
  }
  return gops;
}

TEST(EncodedRate, HardContentSpendsEachGopsBudget) {
  // ffmpeg's life with 4x4 cells: most of it changes every picture, at 1.25 Mbit/s near what
  // quantiser 31 allows. The first GOP spent 115 % of its budget and the second 84 % (the virtual
  // buffers kept the quantiser at its ceiling long after the overspend was repaid).
  constexpr int kW = 352, kH = 288, kFrames = 30, kRate = 1250000;
  Harness h;
  const std::string yuv = h.MakeYuv("life", 88, 72, kFrames, ":seed=2,scale=352:288:flags=neighbor");
  ASSERT_FALSE(yuv.empty());
  const std::string out = h.Path("life.m2v");
  ASSERT_EQ(Harness::EncodeYuv(yuv, kW, kH, P(0, -1, -1, -1, -1, 3, kRate), PX_FORMAT_MPEG2, out).result,
            PXM_OK);
  const auto gops = GopBits(out);
  ASSERT_EQ(gops.size(), 2u);
  for (size_t g = 0; g < gops.size(); ++g) {
    const double share = static_cast<double>(gops[g].second) / (kRate * gops[g].first / 25.0);
    EXPECT_LE(share, 1.10) << "GOP " << g;
    EXPECT_GE(share, 0.90) << "GOP " << g;
  }
}

}  // namespace
}  // namespace enctest
