// Header syntax: ISO/IEC 13818-2 6.2.2.1 (sequence header), 6.2.2.3 (sequence extension),
// 6.2.2.4 (sequence display extension), 6.2.3.2 (quant matrix extension), 6.2.3 (picture header),
// 6.2.3.1 (picture coding extension); ISO/IEC 11172-2 2.4.2.3 and 2.4.2.5.
#include "mpegfilter/HeaderParser.h"

#include "mpegfilter/PxResult.h"
#include "mpegfilter/ScanTables.h"

namespace {

void LoadMatrix(StreamReader& r, uint8_t* m) {
  for (int i = 0; i < 64; ++i) m[pxscan::kZigzag[i]] = static_cast<uint8_t>(r.Get(8));
}

}  // namespace

double HeaderParser::FrameRate(int nCode) {
  static const double kRates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
  return nCode >= 1 && nCode <= 8 ? kRates[nCode] : 0;
}

void HeaderParser::DeriveMacroblocks(SequenceParams& seq) {
  seq.nMbWidth = (seq.nWidth + 15) / 16;
  if (seq.bMpeg2 && !seq.bProgressiveSequence)
    seq.nMbHeight = 2 * ((seq.nHeight + 31) / 32);
  else
    seq.nMbHeight = (seq.nHeight + 15) / 16;
}

int32_t HeaderParser::SequenceHeader(StreamReader& r, SequenceParams& seq) {
  const int w = static_cast<int>(r.Get(12));
  const int h = static_cast<int>(r.Get(12));
  seq.nAspect = static_cast<int>(r.Get(4));
  seq.nFrameRateCode = static_cast<int>(r.Get(4));
  seq.nBitRate = r.Get(18);
  r.Skip(1);   // marker
  r.Skip(10);  // vbv_buffer_size
  r.Skip(1);   // constrained_parameters_flag
  if (r.Get1()) {
    LoadMatrix(r, seq.intraMatrix);
  } else {
    for (int i = 0; i < 64; ++i) seq.intraMatrix[i] = pxscan::kDefaultIntraMatrix[i];
  }
  if (r.Get1()) {
    LoadMatrix(r, seq.nonIntraMatrix);
  } else {
    for (int i = 0; i < 64; ++i) seq.nonIntraMatrix[i] = 16;
  }
  for (int i = 0; i < 64; ++i) {
    seq.chromaIntraMatrix[i] = seq.intraMatrix[i];
    seq.chromaNonIntraMatrix[i] = seq.nonIntraMatrix[i];
  }
  if (FrameRate(seq.nFrameRateCode) == 0 || w == 0 || h == 0) return PXM_ERR_BAD_DATA;
  // A repeated sequence header keeps the size extension bits already read.
  seq.nWidth = (seq.nWidth & ~0xFFF) | w;
  seq.nHeight = (seq.nHeight & ~0xFFF) | h;
  DeriveMacroblocks(seq);
  return PXM_OK;
}

int32_t HeaderParser::Extension(StreamReader& r, SequenceParams& seq, PictureParams* pPic) {
  const int id = static_cast<int>(r.Get(4));
  switch (id) {
    case 1: {  // sequence extension
      seq.bMpeg2 = true;
      r.Skip(8);  // profile_and_level_indication
      seq.bProgressiveSequence = r.Get1();
      const int cf = static_cast<int>(r.Get(2));
      if (cf == 0) return PXM_ERR_BAD_DATA;
      seq.nChromaFormat = cf;
      const int hExt = static_cast<int>(r.Get(2));
      const int vExt = static_cast<int>(r.Get(2));
      seq.nWidth = (seq.nWidth & 0xFFF) | (hExt << 12);
      seq.nHeight = (seq.nHeight & 0xFFF) | (vExt << 12);
      const int64_t brExt = r.Get(12);
      seq.nBitRate = (seq.nBitRate & 0x3FFFF) | (brExt << 18);
      r.Skip(1);  // marker
      r.Skip(8);  // vbv_buffer_size_extension
      r.Skip(1);  // low_delay
      r.Skip(7);  // frame_rate_extension_n, _d
      DeriveMacroblocks(seq);
      return PXM_OK;
    }
    case 2: {     // sequence display extension
      r.Skip(3);  // video_format
      if (r.Get1()) {
        r.Skip(8);  // colour_primaries
        r.Skip(8);  // transfer_characteristics
        seq.nMatrixCoefficients = static_cast<int>(r.Get(8));
      }
      return PXM_OK;
    }
    case 3: {  // quant matrix extension
      if (r.Get1()) {
        LoadMatrix(r, seq.intraMatrix);
        for (int i = 0; i < 64; ++i) seq.chromaIntraMatrix[i] = seq.intraMatrix[i];
      }
      if (r.Get1()) {
        LoadMatrix(r, seq.nonIntraMatrix);
        for (int i = 0; i < 64; ++i) seq.chromaNonIntraMatrix[i] = seq.nonIntraMatrix[i];
      }
      if (r.Get1()) LoadMatrix(r, seq.chromaIntraMatrix);
      if (r.Get1()) LoadMatrix(r, seq.chromaNonIntraMatrix);
      return PXM_OK;
    }
    case 8: {  // picture coding extension
      if (!pPic) return PXM_OK;
      PictureParams& p = *pPic;
      for (int s = 0; s < 2; ++s)
        for (int t = 0; t < 2; ++t) p.fCode[s][t] = static_cast<int>(r.Get(4));
      p.nIntraDcPrecision = static_cast<int>(r.Get(2));
      p.nStructure = static_cast<int>(r.Get(2));
      p.bTopFieldFirst = r.Get1();
      p.bFramePredFrameDct = r.Get1();
      p.bConcealmentVectors = r.Get1();
      p.bQScaleType = r.Get1();
      p.bIntraVlcFormat = r.Get1();
      p.bAlternateScan = r.Get1();
      p.bRepeatFirstField = r.Get1();
      r.Skip(1);  // chroma_420_type
      p.bProgressiveFrame = r.Get1();
      if (p.nStructure == 0) return PXM_ERR_BAD_DATA;
      return PXM_OK;
    }
    default:
      return PXM_OK;
  }
}

int32_t HeaderParser::PictureHeader(StreamReader& r, const SequenceParams& seq, PictureParams& pic) {
  pic = PictureParams{};
  pic.nTemporalReference = static_cast<int>(r.Get(10));
  pic.nType = static_cast<int>(r.Get(3));
  r.Skip(16);  // vbv_delay
  if (pic.nType == kPicP || pic.nType == kPicB) {
    pic.bFullPelForward = r.Get1();
    const int f = static_cast<int>(r.Get(3));
    pic.fCode[0][0] = pic.fCode[0][1] = f;
  }
  if (pic.nType == kPicB) {
    pic.bFullPelBackward = r.Get1();
    const int f = static_cast<int>(r.Get(3));
    pic.fCode[1][0] = pic.fCode[1][1] = f;
  }
  int n = 0;
  while (r.Get1()) {  // extra_bit_picture + extra_information_picture
    r.Skip(8);
    if (++n > 65536) return PXM_ERR_BAD_DATA;
  }
  pic.bProgressiveFrame = true;
  pic.bFramePredFrameDct = true;
  pic.nStructure = kFramePicture;
  if (pic.nType < kPicI || pic.nType > kPicD || (pic.nType == kPicD && seq.bMpeg2)) return PXM_ERR_BAD_DATA;
  return PXM_OK;
}
