// Parses the headers above the slice layer: sequence header, sequence/picture extensions and the
// picture header (ISO/IEC 13818-2 6.2.2-6.2.3, ISO/IEC 11172-2 2.4.2.2-2.4.2.6).
// Callers: StreamInfo (fltInfo, page counting) and MpegDecoder. Each function is entered just
// after its start code was consumed and reads only its own fields; values it cannot use are
// reported as PXM_ERR_BAD_DATA, never stored out of range.
#pragma once

#include <cstdint>

#include "mpegfilter/MpegTypes.h"
#include "mpegfilter/StreamReader.h"

// Bytes one load may need for a sequence: three frame stores of nLumaW x nLumaH (padded to whole
// macroblocks) plus room for a picture's worth of delivery (the delivery itself works on a few
// lines; the margin keeps a host's or the tool's 24-bit copy of the page inside the same bound).
constexpr int64_t DecodeMemory(int64_t nLumaW, int64_t nLumaH, int nChromaFormat) {
  const int sx = nChromaFormat == 3 ? 0 : 1;
  const int sy = nChromaFormat == 1 ? 1 : 0;
  const int64_t luma = nLumaW * nLumaH;
  const int64_t store = luma + 2 * ((nLumaW >> sx) * (nLumaH >> sy));
  const int64_t delivery = 2 * luma + 2 * ((nLumaW >> sx) * nLumaH) + nLumaW * 3 + 16;
  return 3 * store + delivery;
}

// What a load may use. The default memory is what the largest picture of MPEG-2 High level
// (1920 x 1152) needs in the widest chroma format (4:4:4), about 27.4 MiB; larger pictures are
// refused by fltInfo and fltLoad alike.
struct DecoderLimits {
  int nMaxWidth = 16383;
  int nMaxHeight = 16383;
  int64_t nMaxMemory = DecodeMemory(1920, 1152, 3);
};

class HeaderParser {
 public:
  // Sequence header (0x1B3). Loads the matrices (defaults when absent). PXM_OK or PXM_ERR_BAD_DATA.
  static int32_t SequenceHeader(StreamReader& r, SequenceParams& seq);
  // Extension (0x1B5): sequence, sequence display, quant matrix and picture coding extensions are
  // read; others are left for the start-code search. pPic may be null outside a picture.
  static int32_t Extension(StreamReader& r, SequenceParams& seq, PictureParams* pPic);
  // Picture header (0x100). Resets the MPEG-2 picture fields to their ISO/IEC 11172-2 meaning.
  static int32_t PictureHeader(StreamReader& r, const SequenceParams& seq, PictureParams& pic);
  // Macroblock counts from the sizes (6.3.3): ceil(w / 16) and ceil(h / 16), or 2 * ceil(h / 32)
  // for an MPEG-2 sequence that is not progressive.
  static void DeriveMacroblocks(SequenceParams& seq);
  // Standard frame rate of a frame_rate_code, 0 when the code has none.
  static double FrameRate(int nCode);
};
