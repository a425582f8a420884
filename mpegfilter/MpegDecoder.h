// Picture-level decoding of one stream from its start: finds the first picture, counts frames,
// keeps the three frame stores (forward reference, backward reference, B picture) and decodes
// pictures in coding order until the requested page (1-based, display order) can be delivered.
// Callers: the filter entry points and the command-line tool. Frame stores are kernel memory
// bounded by DecoderLimits; the destructor frees them. A damaged slice is dropped and decoding
// goes on with the next slice; sizes that change mid-stream end decoding with PX_ERR_BAD_DATA.
#pragma once

#include <cstdint>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegTypes.h"
#include "mpegfilter/SliceDecoder.h"
#include "mpegfilter/StreamReader.h"

class MpegDecoder {
 public:
  MpegDecoder(StreamReader& r, const DecoderLimits& limits) : m_r(r), m_limits(limits) {}
  ~MpegDecoder();
  MpegDecoder(const MpegDecoder&) = delete;
  MpegDecoder& operator=(const MpegDecoder&) = delete;

  // Reads up to the first picture start code (not consumed), sequence header on the way.
  // PX_OK; PX_END_OF_STREAM at a sequence end first; PX_ERR_BAD_DATA without a usable header.
  int32_t FindFirstPicture();
  // From the first picture on: frames up to the sequence end (a field pair counts once).
  int32_t CountFrames(int* pFrames);
  // Allocates the frame stores for the current sequence; PX_OK or PX_ERR_NO_MEMORY.
  int32_t Allocate();
  // Decodes until page nPage can be delivered. PX_OK with *ppFrame set, PX_END_OF_STREAM,
  // PX_ERR_BAD_DATA.
  int32_t DecodeToPage(int nPage, const FrameStore** ppFrame);

  const SequenceParams& Sequence() const { return m_seq; }
  const PlaneGeometry& Geometry() const { return m_geo; }
  int PicturesDecoded() const { return m_nPictures; }
  int SlicesDamaged() const { return m_nDamaged; }

 private:
  int32_t ReadPictureHeaders(PictureParams& pic);
  int32_t NextPicture();
  void DecodeSlices(FrameStore& cur, const FrameStore* pFwd, const FrameStore* pBwd);
  void Free();

  StreamReader& m_r;
  DecoderLimits m_limits;
  SequenceParams m_seq;
  PictureParams m_pic;
  PlaneGeometry m_geo;
  FrameStore m_stores[3];
  int m_nFwd = 0, m_nBwd = 1, m_nB = 2;
  int m_nAllocW = 0, m_nAllocH = 0, m_nAllocChroma = 0;
  bool m_bHaveSequence = false;
  bool m_bFieldToggle = false;
  int m_nPictures = 0;
  int m_nDamaged = 0;
  SliceDecoder m_slices;
};
