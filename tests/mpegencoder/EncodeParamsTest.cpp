// Parameter defaults, forcing and the ordered checks of Px_EncodeSetParams.
#include <gtest/gtest.h>

#include "EncoderHarness.h"
#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncodeParams.h"

namespace enctest {
namespace {

struct Prepared {
  PxEncoderState st{};
  int32_t r = 0;
  Prepared(int w, int h, const PxEncodeParams& p, int32_t nFormat) {
    PxBitmap d{};
    d.nWidth = w;
    d.nHeight = h;
    r = Px_EncodeSetParams(&st, &d, &p, nFormat);
  }
  ~Prepared() { Px_FreeEncodeParams(&st); }
};

struct CheckCase {
  const char* name;
  int32_t nFormat;
  int w, h;
  PxEncodeParams p;
  int32_t expected;
};

PxEncodeParams With(void (*f)(PxEncodeParams&)) {
  PxEncodeParams p = DefaultParams();
  f(p);
  return p;
}

constexpr int32_t M1 = PX_FORMAT_MPEG1, M2 = PX_FORMAT_MPEG2;

const CheckCase kChecks[] = {
    {"gop10", M2, 352, 288, With([](PxEncodeParams& p) { p.nGopLength = 10; }), PX_ENC_ERR_GOP},
    {"gop_before_width", M2, 0, 288, With([](PxEncodeParams& p) { p.nGopLength = 10; }), PX_ENC_ERR_GOP},
    {"gop0", M1, 352, 288, With([](PxEncodeParams& p) { p.nGopLength = 0; }), PX_ENC_ERR_GOP},
    {"width0_before_aspect", M2, 0, 288, With([](PxEncodeParams& p) { p.nAspectRatio = 9; }),
     PX_ENC_ERR_WIDTH},
    {"width4096", M2, 4096, 288, DefaultParams(), PX_ENC_ERR_WIDTH},
    {"mpeg1_width_4100", M1, 4100, 288, DefaultParams(), PX_ENC_ERR_WIDTH},
    {"odd_width_420", M2, 353, 288, DefaultParams(), PX_ENC_ERR_WIDTH},
    {"width_over_main_level", M2, 1920, 1080, DefaultParams(), PX_ENC_ERR_WIDTH},
    {"odd_height_420", M2, 352, 287, DefaultParams(), PX_ENC_ERR_HEIGHT},
    {"field_height_not_4", M2, 352, 286, With([](PxEncodeParams& p) { p.nFieldCoding = 1; }),
     PX_ENC_ERR_HEIGHT},
    {"aspect5_mpeg2", M2, 352, 288, With([](PxEncodeParams& p) { p.nAspectRatio = 5; }), PX_ENC_ERR_ASPECT},
    {"aspect14_mpeg1", M1, 352, 288, With([](PxEncodeParams& p) { p.nAspectRatio = 14; }), PXM_OK},
    {"aspect15_mpeg1", M1, 352, 288, With([](PxEncodeParams& p) { p.nAspectRatio = 15; }), PX_ENC_ERR_ASPECT},
    {"bitrate0", M2, 352, 288, With([](PxEncodeParams& p) { p.nBitRate = 0; }), PX_ENC_ERR_BIT_RATE},
    {"bitrate_over_main", M2, 352, 288, With([](PxEncodeParams& p) { p.nBitRate = 16000000; }),
     PX_ENC_ERR_BIT_RATE},
    {"low_level_buffer", M2, 352, 288, With([](PxEncodeParams& p) {
       p.nLevel = 10;
       p.nBitRate = 3000000;
     }),
     PX_ENC_ERR_BUFFER_SIZE},
    {"chroma4", M2, 352, 288, With([](PxEncodeParams& p) { p.nChromaFormat = 4; }), PX_ENC_ERR_CHROMA},
    {"chroma422_main", M2, 352, 288, With([](PxEncodeParams& p) { p.nChromaFormat = 2; }), PX_ENC_ERR_CHROMA},
    {"chroma444_high", M2, 352, 288, With([](PxEncodeParams& p) {
       p.nChromaFormat = 3;
       p.nProfile = 1;
     }),
     PX_ENC_ERR_CHROMA},
    {"video_format5", M2, 352, 288, With([](PxEncodeParams& p) { p.nVideoFormat = 5; }),
     PX_ENC_ERR_VIDEO_FORMAT},
    {"dc3_main", M2, 352, 288, With([](PxEncodeParams& p) { p.nIntraDcPrecision = 3; }),
     PX_ENC_ERR_DC_PRECISION},
    {"dc3_high", M2, 352, 288, With([](PxEncodeParams& p) {
       p.nIntraDcPrecision = 3;
       p.nProfile = 1;
     }),
     PXM_OK},
    {"profile6", M2, 352, 288, With([](PxEncodeParams& p) { p.nProfile = 6; }), PX_ENC_ERR_PROFILE},
    {"profile16", M2, 352, 288, With([](PxEncodeParams& p) { p.nProfile = 16; }), PX_ENC_ERR_PROFILE},
    {"level9_main", M2, 352, 288, With([](PxEncodeParams& p) { p.nLevel = 9; }), PX_ENC_ERR_LEVEL},
    {"profile2", M2, 352, 288, With([](PxEncodeParams& p) { p.nProfile = 2; }), PX_ENC_ERR_SCALABLE},
    {"profile3", M2, 352, 288, With([](PxEncodeParams& p) { p.nProfile = 3; }), PX_ENC_ERR_SCALABLE},
    {"simple_high1440", M2, 352, 288, With([](PxEncodeParams& p) {
       p.nProfile = 5;
       p.nLevel = 6;
     }),
     PX_ENC_ERR_PROFILE_LEVEL},
    {"simple_main", M2, 352, 288, With([](PxEncodeParams& p) { p.nProfile = 5; }), PX_ENC_ERR_SIMPLE_M},
    {"frame_rate_code9", M2, 352, 288, With([](PxEncodeParams& p) { p.nFrameRateCode = 9; }),
     PX_ENC_ERR_FIELD_VALUE},
    {"field_coding3", M2, 352, 288, With([](PxEncodeParams& p) { p.nFieldCoding = 3; }),
     PX_ENC_ERR_FIELD_VALUE},
    {"pal_at_30", M2, 720, 576, DefaultParams(), PX_ENC_ERR_SAMPLE_RATE},
    {"pal_at_25", M2, 720, 576, With([](PxEncodeParams& p) { p.nFrameRateCode = 3; }), PXM_OK},
    {"hd_high_level", M2, 1920, 1088, With([](PxEncodeParams& p) {
       p.nLevel = 4;
       p.nFrameRateCode = 3;
     }),
     PXM_OK},
    {"escape_skips_checks", M2, 1920, 1080, With([](PxEncodeParams& p) {
       p.nProfile = 8;
       p.nChromaFormat = 3;
     }),
     PXM_OK},
    {"mpeg1_ignores_profile", M1, 352, 288, With([](PxEncodeParams& p) {
       p.nProfile = 2;
       p.nChromaFormat = 3;
     }),
     PXM_OK},
};

class ParamCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ParamCheck, GivesTheFirstFailingCode) {
  const CheckCase& c = GetParam();
  Prepared s(c.w, c.h, c.p, c.nFormat);
  EXPECT_EQ(s.r, c.expected) << PxEncodeResultText(s.r);
  EXPECT_EQ(s.st.writer.hFile, -1) << "a failed set-up must leave no handle to close";
}

INSTANTIATE_TEST_SUITE_P(Checks, ParamCheck, ::testing::ValuesIn(kChecks),
                         [](const ::testing::TestParamInfo<CheckCase>& i) {
                           return std::string(i.param.name);
                         });

TEST(EncodeParams, DefaultsPerStreamType) {
  Prepared m1(352, 288, DefaultParams(), M1);
  ASSERT_EQ(m1.r, PXM_OK);
  EXPECT_EQ(m1.st.nGopLength, 12);
  EXPECT_EQ(m1.st.nAspectRatio, 8);
  EXPECT_EQ(m1.st.nBitRate, 1152000);
  EXPECT_EQ(m1.st.nVbvBufferSize, 20);
  EXPECT_EQ(m1.st.nMatrixCoefficients, 5);
  // The header's frame rate code matches the timing rate.
  EXPECT_EQ(m1.st.nFrameRateCode, 3);
  EXPECT_EQ(m1.st.nFrameRateNum, 25);
  EXPECT_EQ(m1.st.nM, 3);
  Prepared m2(352, 288, DefaultParams(), M2);
  ASSERT_EQ(m2.r, PXM_OK);
  EXPECT_EQ(m2.st.nGopLength, 15);
  EXPECT_EQ(m2.st.nAspectRatio, 2);
  EXPECT_EQ(m2.st.nBitRate, 5000000);
  EXPECT_EQ(m2.st.nVbvBufferSize, 112);
  EXPECT_EQ(m2.st.nMatrixCoefficients, 4);
  EXPECT_EQ(m2.st.nVideoFormat, 2);
  EXPECT_EQ(m2.st.nFrameRateCode, 5);
  EXPECT_EQ(m2.st.nFrameRateNum, 30);
  EXPECT_EQ(m2.st.nProfile, 4);
  EXPECT_EQ(m2.st.nLevel, 8);
  // Motion search per picture position.
  EXPECT_EQ(m2.st.pMotion[0].nForwardF[0], 2);
  EXPECT_EQ(m2.st.pMotion[0].nForwardRange[1], 11);
  EXPECT_EQ(m2.st.pMotion[1].nBackwardRange[0], 7);
  EXPECT_EQ(m2.st.pMotion[2].nForwardRange[0], 7);
  EXPECT_EQ(m2.st.pMotion[2].nBackwardRange[0], 3);
}

TEST(EncodeParams, ConstrainedFlagAndMpeg1Forcing) {
  struct {
    int w, h, rate, bitrate, expected;
  } cases[] = {{352, 288, -1, -1, 1},
               {720, 576, -1, -1, 0},
               {352, 288, 5, -1, 0},
               {352, 240, 5, -1, 1},
               {352, 288, -1, 3000000, 0}};
  for (const auto& c : cases) {
    PxEncodeParams p = DefaultParams();
    p.nFrameRateCode = c.rate;
    p.nBitRate = c.bitrate;
    Prepared s(c.w, c.h, p, M1);
    ASSERT_EQ(s.r, PXM_OK);
    EXPECT_EQ(s.st.nConstrained, c.expected) << c.w << "x" << c.h << " code " << c.rate;
  }
  PxEncodeParams p = DefaultParams();
  p.nFieldCoding = 1;
  p.nChromaFormat = 3;
  p.nIntraDcPrecision = 2;
  p.nConstrained = 1;
  Prepared s(352, 288, p, M1);
  ASSERT_EQ(s.r, PXM_OK);
  EXPECT_EQ(s.st.nFieldCoding, 0);
  EXPECT_EQ(s.st.nChromaFormat, 1);
  EXPECT_EQ(s.st.nIntraDcPrecision, 0);
  PxEncodeParams p2 = DefaultParams();
  p2.nConstrained = 1;
  Prepared s2(352, 288, p2, M2);  // MPEG-2 writes constrained_parameters_flag 0 always
  ASSERT_EQ(s2.r, PXM_OK);
  EXPECT_EQ(s2.st.nConstrained, 0);
}

}  // namespace
}  // namespace enctest
