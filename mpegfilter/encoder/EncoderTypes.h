// Picture planes shared by the encoder's parts: a Plane is 8-bit samples with a stride, a Frame the
// three planes of one picture (luma padded to whole macroblocks, chroma per chroma format). A field
// is the same memory seen with twice the stride (FieldOf). Frame memory comes from the toolkit
// kernel (282/283) through AllocFrame/FreeFrame, so a failed allocation is a result, not a throw.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pxenc {

struct Plane {
  uint8_t* p = nullptr;
  int32_t nStride = 0;
  int32_t nWidth = 0;
  int32_t nHeight = 0;
};

struct Frame {
  Plane y, cb, cr;
};

// Geometry of the coded pictures.
struct Geometry {
  int32_t nWidth = 0, nHeight = 0;      // displayed size
  int32_t nMbWidth = 0, nMbHeight = 0;  // macroblocks of a frame
  int32_t nLumaW = 0, nLumaH = 0;       // padded luma size
  int32_t nChromaW = 0, nChromaH = 0;   // padded chroma size
  int32_t nChromaFormat = 1;            // 1 4:2:0, 2 4:2:2, 3 4:4:4
  int32_t nChromaShiftX = 1, nChromaShiftY = 1;
  int32_t nBlocks = 6;  // blocks per macroblock
};

inline Plane FieldOf(const Plane& frame, int nParity) {
  return Plane{frame.p + nParity * frame.nStride, frame.nStride * 2, frame.nWidth, frame.nHeight / 2};
}
inline Frame FieldOf(const Frame& f, int nParity) {
  return Frame{FieldOf(f.y, nParity), FieldOf(f.cb, nParity), FieldOf(f.cr, nParity)};
}

// Kernel memory; null on failure.
void* KernelAlloc(size_t nBytes);
void KernelFree(void* p);
bool AllocFrame(Frame* pFrame, const Geometry& g);
void FreeFrame(Frame* pFrame);

}  // namespace pxenc
