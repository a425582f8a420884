// Inverse 8x8 DCT shared by the decoder and the encoder's reconstruction loop.
// IdctChenWang works in place on 64 coefficients in raster order (row-major) and leaves the
// reconstructed residuals there, each clipped to -256..255. It is the integer Chen-Wang algorithm
// with weights 2841, 2676, 2408, 1609, 1108, 565: rows first, then columns, a row or column whose
// AC terms are zero taking the constant shortcut. Guarantees: deterministic, bit-exact between the
// decoder and the encoder for any input of -2048..2047 per coefficient (the range inverse
// quantisation produces), no allocation, no table set-up needed; meets IEEE 1180-1990.
#pragma once

#include <cstddef>
#include <cstdint>

// In place; block[0] is the DC term. Coefficients must lie in -2048..2047.
void IdctChenWang(short* block);
// The plain C++ form that the SIMD ones must equal bit for bit (tests compare them).
void IdctChenWangReference(short* block);
// The SSE2 form on its own (IdctChenWang takes the AVX-512 or AVX2 form where the processor has it).
void IdctChenWangSse2(short* block);
// The AVX2 form on its own; false (block untouched) without AVX2.
bool IdctChenWangAvx2(short* block);
// Decoder write-back: transform, then store the residuals clipped to 0..255 (Put, intra) or add
// them to the prediction with the same clipping (Add). Both leave block all zero.
void IdctPut(short* block, uint8_t* pDst, ptrdiff_t nStride);
void IdctAdd(short* block, uint8_t* pDst, ptrdiff_t nStride);
// Adds a constant residual (-256..255) to an 8x8 area with clipping (blocks with only a DC term).
void IdctAddConstant(int nValue, uint8_t* pDst, ptrdiff_t nStride);

// Same result as IdctChenWang for a block whose only non-zero coefficient is block[0]:
// the constant residual every sample takes.
inline int IdctDcOnlyValue(int nDc) {
  const int v = (nDc * 8 + 32) >> 6;
  return v < -256 ? -256 : (v > 255 ? 255 : v);
}
