// Inputs of pxmpeg-enc: still images (PNG through libpng, binary PPM) handed to the encoder as
// toolkit bitmaps through the frame callback, and raw planar Y'CbCr 4:2:0 files (one frame after
// the other) fed as planes. Every reader checks sizes and reports failures as false / results.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mpegfilter/encoder/SequenceCoder.h"
#include "pxkernel/PxRecords.h"

namespace pxenc_tool {

// Loads a PNG or PPM file as 24-bit blue-green-red rows into kernel memory (owned by the bitmap).
bool LoadImageBitmap(const std::string& path, PxBitmap* pBitmap, std::string* pError);
// Width and height of an image file without keeping its pixels.
bool ImageSize(const std::string& path, int* pW, int* pH, std::string* pError);

// Raw yuv420p frames of w x h; chroma 4:2:2 / 4:4:4 targets get the chroma lines repeated.
class RawYuvSource : public pxenc::FrameSource {
 public:
  RawYuvSource(FILE* f, int w, int h, bool bInterlaced)
      : m_f(f), m_w(w), m_h(h), m_bInterlaced(bInterlaced) {}
  int32_t Count(int32_t* pnCount) override;
  int32_t Fetch(int32_t nIndex, pxenc::Frame& dst) override;

 private:
  FILE* m_f;
  int m_w, m_h;
  bool m_bInterlaced;
  std::vector<uint8_t> m_buf;
};

}  // namespace pxenc_tool
