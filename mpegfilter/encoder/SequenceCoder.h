// The sequence writer: sequence header, sequence extension and sequence display extension
// (ISO/IEC 13818-2 6.2.2), user data, GOP headers and the sequence end code, and the picture order:
// an I picture opens each GOP of N frames, a reference picture comes every M = 3 frames (and on
// the last frame), the B pictures between two references follow the later one. It owns the frame
// stores (kernel memory) and drives PictureCoder, RateControl and BitSink. Frames come from a
// FrameSource in coding order; the reconstruction of each frame can be observed through a hook.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/BitSink.h"
#include "mpegfilter/encoder/EncoderTypes.h"
#include "mpegfilter/encoder/PictureCoder.h"
#include "mpegfilter/encoder/PxEncoderState.h"
#include "mpegfilter/encoder/RateControl.h"

namespace pxenc {

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Number of source frames (>= 0) into *pnCount; 1 or a failing result.
  virtual int32_t Count(int32_t* pnCount) = 0;
  // Fills the padded planes of dst with source frame nIndex; 1 or a failing result.
  virtual int32_t Fetch(int32_t nIndex, Frame& dst) = 0;
  // The frame fetched last has been coded.
  virtual void Done() {}
};

// Called after each coded frame with its display index and reconstruction.
typedef void (*ReconHook)(void* pUser, int32_t nDisplayIndex, const Frame& recon, const Geometry& g);

class SequenceCoder {
 public:
  // Geometry and frame stores for the resolved state; 1 or -1 (everything freed again).
  int32_t Init(const PxEncoderState& st);
  void Free();
  // Writes the whole sequence; 1 or the first failing result.
  int32_t Run(const PxEncoderState& st, const char* pszUserData, FrameSource& src, PxBitWriter* pWriter);
  void SetReconHook(ReconHook pfn, void* pUser);
  const Geometry& Geom() const { return m_g; }
  const RateControl::Summary& RateTotals() const { return m_rc.Totals(); }
  const PredictionCounts& Predictions() const { return m_picture.Counts(); }

 private:
  void WriteSequenceHeader(const PxEncoderState& st, const char* pszUserData);
  void WriteGopHeader(const PxEncoderState& st, int nDisplayIndex, bool bClosed);
  int32_t CodeFrame(const PxEncoderState& st, PictureType t, int nPosition, int nTemporalRef, Frame& recon);

  Geometry m_g;
  Frame m_source, m_refs[2], m_bFrame;
  int m_nNewestRef = 0;  // m_refs index of the most recent reference
  ReconHook m_pfnHook = nullptr;
  void* m_pHookUser = nullptr;
  RateControl m_rc;
  PictureCoder m_picture;
  BitSink m_sink;
};

}  // namespace pxenc
