// Forward 8x8 DCT of the encoder: the separable Arai-Agui-Nakajima factorisation in single
// precision (SSE2: eight columns, then eight rows at once). Its outputs carry a known scale per
// coefficient, which the quantiser folds into its multipliers: F(u,v) at the scale of ISO/IEC
// 13818-2 Annex A (DC = 8 x mean, the input scale of IdctChenWang) is pOut[8v+u] * AanDescale(8v+u).
// Inputs -255..255 (residuals) or 0..255 (intra samples), raster order; no allocation.
#pragma once

namespace pxenc {

// pIn: 64 values, raster; pOut: 64 floats, raster, 16-byte aligned.
void ForwardDctAan(const short* pIn, float* pOut);
// Factor from the AAN output at raster index i to the Annex A scale.
float AanDescale(int i);

}  // namespace pxenc
