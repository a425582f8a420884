// pxmpeg-enc: encodes a series of images (PNG or PPM) or a raw Y'CbCr 4:2:0 file into an MPEG-1
// (.m1v) or MPEG-2 (.m2v) video stream through the encoder's exported interface.
//   pxmpeg-enc [options] -o OUT.m2v IMAGE...
//   pxmpeg-enc [options] -s WxH -o OUT.m2v INPUT.yuv
// Every field of the parameter record has an option; a field not given stays -1 (the default).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncodeParams.h"
#include "mpegfilter/encoder/EncoderInternal.h"
#include "mpegfilter/encoder/PxEncoderState.h"
#include "pxkernel/PxKernel.h"
#include "tools/mpegenc/ImageSeries.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: pxmpeg-enc [options] -o OUT IMAGE...        (PNG or binary PPM, one per frame)\n"
               "       pxmpeg-enc [options] -s WxH -o OUT IN.yuv   (raw yuv420p)\n"
               "options (a value of -1 keeps the default):\n"
               "  --mpeg1 | --mpeg2       stream type (default MPEG-2)\n"
               "  --bitrate BPS           bits per second\n"
               "  --gop N                 GOP length, a multiple of 3\n"
               "  --field N               0 progressive, 1 field pictures, 2 interlaced frames\n"
               "  --chroma N              1 4:2:0, 2 4:2:2, 3 4:4:4\n"
               "  --profile N --level N   MPEG-2 profile and level codes\n"
               "  --aspect N              aspect_ratio_information\n"
               "  --frame-rate-code N     1..8\n"
               "  --constrained N         MPEG-1 constrained parameters flag\n"
               "  --video-format N        0..4\n"
               "  --dc-precision N        0..3\n"
               "  --user-data TEXT        user data written after the sequence header\n"
               "  --first N --frames N    first source frame and number of frames to code\n");
  return 2;
}

struct Images {
  std::vector<std::string> paths;
  std::string error;
};

int32_t ImageCallback(void* pUser, PxBitmap* pBitmap, int32_t nFrame, void*, int32_t* pnCount) {
  Images& im = *static_cast<Images*>(pUser);
  if (!pBitmap) {
    if (pnCount) *pnCount = static_cast<int32_t>(im.paths.size());
    return PXM_OK;
  }
  if (nFrame < 0 || static_cast<size_t>(nFrame) >= im.paths.size()) return PXM_ERR_READ;
  return pxenc_tool::LoadImageBitmap(im.paths[nFrame], pBitmap, &im.error) ? PXM_OK : PXM_ERR_READ;
}

bool ParseInt(const char* s, int32_t* p) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (!s[0] || *end || v < INT32_MIN || v > INT32_MAX) return false;
  *p = static_cast<int32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  PxEncodeParams params = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, nullptr};
  int32_t nFormat = PX_FORMAT_MPEG2, nFirst = 0, nFrames = 0;
  std::string out, user, size;
  std::vector<std::string> inputs;
  struct IntOpt {
    const char* name;
    int32_t* p;
  } intOpts[] = {{"--bitrate", &params.nBitRate},
                 {"--gop", &params.nGopLength},
                 {"--field", &params.nFieldCoding},
                 {"--chroma", &params.nChromaFormat},
                 {"--profile", &params.nProfile},
                 {"--level", &params.nLevel},
                 {"--aspect", &params.nAspectRatio},
                 {"--frame-rate-code", &params.nFrameRateCode},
                 {"--constrained", &params.nConstrained},
                 {"--video-format", &params.nVideoFormat},
                 {"--dc-precision", &params.nIntraDcPrecision},
                 {"--first", &nFirst},
                 {"--frames", &nFrames}};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    bool bDone = false;
    for (const IntOpt& o : intOpts) {
      if (a == o.name) {
        if (i + 1 >= argc || !ParseInt(argv[++i], o.p)) {
          std::fprintf(stderr, "pxmpeg-enc: %s needs a number\n", o.name);
          return 2;
        }
        bDone = true;
      }
    }
    if (bDone) continue;
    if (a == "--mpeg1") {
      nFormat = PX_FORMAT_MPEG1;
    } else if (a == "--mpeg2") {
      nFormat = PX_FORMAT_MPEG2;
    } else if (a == "--user-data" && i + 1 < argc) {
      user = argv[++i];
    } else if (a == "-o" && i + 1 < argc) {
      out = argv[++i];
    } else if (a == "-s" && i + 1 < argc) {
      size = argv[++i];
    } else if (a == "-h" || a == "--help") {
      return Usage();
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "pxmpeg-enc: unknown option %s\n", a.c_str());
      return Usage();
    } else {
      inputs.push_back(a);
    }
  }
  if (out.empty() || inputs.empty()) return Usage();
  if (!PxKernelBound()) {
    std::fprintf(stderr, "pxmpeg-enc: toolkit kernel services missing\n");
    return 1;
  }
  params.pszUserData = user.empty() ? nullptr : user.c_str();

  PxBitmap desc{};
  FILE* raw = nullptr;
  if (!size.empty()) {
    if (std::sscanf(size.c_str(), "%dx%d", &desc.nWidth, &desc.nHeight) != 2 || inputs.size() != 1)
      return Usage();
    raw = std::fopen(inputs[0].c_str(), "rb");
    if (!raw) {
      std::fprintf(stderr, "pxmpeg-enc: cannot open %s\n", inputs[0].c_str());
      return 1;
    }
  } else {
    std::string err;
    if (!pxenc_tool::ImageSize(inputs[0], &desc.nWidth, &desc.nHeight, &err)) {
      std::fprintf(stderr, "pxmpeg-enc: %s\n", err.c_str());
      return 1;
    }
  }

  if (params.nFrameRateCode == -1) {
    // Images and raw files carry no frame rate. Pick the usual rate of the picture height (25 for
    // 576/288 lines, 29.97 for 480/240), else the fastest the level allows, and say so.
    std::vector<int32_t> codes;
    if (desc.nHeight == 576 || desc.nHeight == 288) codes.push_back(3);
    if (desc.nHeight == 480 || desc.nHeight == 240) codes.push_back(4);
    for (int32_t c : {nFormat == PX_FORMAT_MPEG1 ? 3 : 5, 4, 3, 2, 1}) codes.push_back(c);
    for (int32_t c : codes) {
      PxEncodeParams trial = params;
      trial.nFrameRateCode = c;
      PxEncoderState probe{};
      const int32_t rc = Px_EncodeSetParams(&probe, &desc, &trial, nFormat);
      Px_FreeEncodeParams(&probe);
      if (rc != PX_ENC_ERR_SAMPLE_RATE) {
        params.nFrameRateCode = c;
        break;
      }
    }
    if (params.nFrameRateCode != -1) {
      static const char* const kRates[] = {"", "23.976", "24", "25", "29.97", "30", "50", "59.94", "60"};
      std::fprintf(
          stderr,
          "pxmpeg-enc: %dx%d at %s frames per second (frame rate code %d; --frame-rate-code to change)\n",
          desc.nWidth, desc.nHeight, kRates[params.nFrameRateCode], params.nFrameRateCode);
    }
  }

  PxEncoderState st{};
  int32_t r = Px_EncodeSetParams(&st, &desc, &params, nFormat);
  if (r == PXM_OK) r = Px_InitializeEncoder(&st);
  if (r == PXM_OK) r = Px_InitBits(out.c_str(), &st.writer);
  Images images;
  if (r == PXM_OK) {
    st.nFirstFrame = nFirst;
    st.nFrameCount = nFrames;
    if (raw) {
      pxenc_tool::RawYuvSource src(raw, desc.nWidth, desc.nHeight, st.nMpeg2 && st.nFieldCoding != 0);
      r = pxenc::PutSequenceFrom(&st, &params, src);
    } else {
      images.paths = inputs;
      r = Px_PutSeq(&st, &params, ImageCallback, &images);
    }
  }
  const int64_t nBytes = st.writer.nBytesWritten;
  if (const pxenc::RateControl::Summary* t = pxenc::RateTotalsOf(&st)) {
    // Over the rate with pictures already at the coarsest quantiser: no quantiser can keep this
    // content within the rate, and the decoder's buffer may underflow.
    if (r == PXM_OK && t->nOverAtCoarsest > 0 && t->dBitsGranted > 0 &&
        t->dBitsSpent > t->dBitsGranted * 1.02)
      std::fprintf(stderr,
                   "pxmpeg-enc: the content needs more than %lld bit/s even at quantiser 31: %lld bit/s "
                   "spent, %lld of %lld pictures over their budget at quantiser 31\n",
                   static_cast<long long>(st.nBitRate),
                   static_cast<long long>(t->dBitsSpent / t->dBitsGranted * static_cast<double>(st.nBitRate)),
                   static_cast<long long>(t->nOverAtCoarsest), static_cast<long long>(t->nPictures));
  }
  Px_FreeEncodeParams(&st);
  if (raw) std::fclose(raw);
  if (r != PXM_OK) {
    std::fprintf(stderr, "pxmpeg-enc: error %d (%s)%s%s\n", r, PxEncodeResultText(r),
                 images.error.empty() ? "" : ": ", images.error.c_str());
    return 1;
  }
  std::printf("%s: %lld bytes\n", out.c_str(), static_cast<long long>(nBytes));
  return 0;
}
