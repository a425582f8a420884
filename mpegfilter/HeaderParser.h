// Parses the headers above the slice layer: sequence header, sequence/picture extensions and the
// picture header (ISO/IEC 13818-2 6.2.2-6.2.3, ISO/IEC 11172-2 2.4.2.2-2.4.2.6).
// Callers: StreamInfo (fltInfo, page counting) and MpegDecoder. Each function is entered just
// after its start code was consumed and reads only its own fields; values it cannot use are
// reported as PX_ERR_BAD_DATA, never stored out of range.
#pragma once

#include <cstdint>

#include "mpegfilter/MpegTypes.h"
#include "mpegfilter/StreamReader.h"

struct DecoderLimits {
  int nMaxWidth = 16383;
  int nMaxHeight = 16383;
  int64_t nMaxMemory = int64_t{1} << 30;  // frame stores plus delivery buffers
};

class HeaderParser {
 public:
  // Sequence header (0x1B3). Loads the matrices (defaults when absent). PX_OK or PX_ERR_BAD_DATA.
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
