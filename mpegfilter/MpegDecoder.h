// Picture-level decoding of one stream from its start: finds the first picture, counts frames,
// keeps the three frame stores (forward reference, backward reference, B picture) and decodes
// pictures in coding order until the requested page (1-based, display order) can be delivered.
// Callers: the filter entry points (which may keep a decoder between calls to go on from the last
// page) and the command-line tool. Frame stores are kernel memory bounded by DecoderLimits; the
// destructor frees them. A damaged slice is dropped and decoding goes on with the next slice.
// A new sequence header may change size, chroma format and interlace (joined streams): each store
// is reshaped before a picture is decoded into it and carries the sequence it was decoded under,
// so nothing is ever written or read outside a store. A sequence extension that changes the shape
// anywhere but right after a sequence header is refused with PXM_ERR_BAD_DATA.
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
  // PXM_OK; PXM_END_OF_STREAM at a sequence end first; PXM_ERR_BAD_DATA without a usable header;
  // PXM_ERR_BAD_DATA / PXM_ERR_NO_MEMORY when the sequence exceeds the limits.
  int32_t FindFirstPicture();
  // From the first picture on: frames up to the sequence end (a field pair counts once). Every
  // later sequence is checked against the limits like the first.
  int32_t CountFrames(int* pFrames);
  // Allocates the frame stores for the current sequence; PXM_OK or PXM_ERR_NO_MEMORY.
  int32_t Allocate();
  // Decodes until page nPage can be delivered, going on from where the last call stopped. nPage
  // must not lie before PagesShown(); the page last delivered is delivered again.
  // PXM_OK with *ppFrame set, PXM_END_OF_STREAM, PXM_ERR_BAD_DATA, PXM_ERR_NO_MEMORY, PXM_ERR_READ.
  // After any result but PXM_OK the decoder must not be used again.
  int32_t DecodeToPage(int nPage, const FrameStore** ppFrame);

  // PXM_OK when a sequence fits the limits: PXM_ERR_BAD_DATA for its size, PXM_ERR_NO_MEMORY for
  // the memory its decoding needs.
  static int32_t CheckLimits(const SequenceParams& seq, const DecoderLimits& limits);
  static PlaneGeometry GeometryOf(const SequenceParams& seq);

  const SequenceParams& Sequence() const { return m_seq; }
  int PagesShown() const { return m_nShown; }
  int PicturesDecoded() const { return m_nPictures; }
  int SlicesDamaged() const { return m_nDamaged; }
  int64_t StoreBytes() const;

 private:
  // Applies the sequence header or extension whose start code was just consumed. *pDamaged: an
  // extension that could not be read (left out, seq unchanged).
  int32_t SequenceLevel(uint32_t code, SequenceParams& seq, bool& bAfterHeader, bool* pDamaged) const;
  int32_t ReadPictureHeaders(PictureParams& pic, bool* pRefused);
  int32_t NextPicture();
  int32_t Reshape(FrameStore& f, const PlaneGeometry& geo);
  int32_t DecodeSlices(FrameStore& cur, FrameStore* pFwd, FrameStore* pBwd);
  void Free();

  StreamReader& m_r;
  DecoderLimits m_limits;
  SequenceParams m_seq;
  PictureParams m_pic;
  FrameStore m_stores[3];
  int m_nFwd = 0, m_nBwd = 1, m_nB = 2;
  bool m_bHaveSequence = false;
  bool m_bFieldToggle = false;
  // Where DecodeToPage stopped: pages shown, whether a reference is waiting to be shown, and a
  // picture whose headers were read but which is not decoded yet.
  int m_nShown = 0;
  bool m_bHaveRef = false;
  bool m_bPending = false;
  bool m_bShowDue = false;
  const FrameStore* m_pLastShown = nullptr;
  int m_nPictures = 0;
  int m_nDamaged = 0;
  SliceDecoder m_slices;
};
