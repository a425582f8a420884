// Forward 8x8 DCT of the encoder: a separable integer factorisation (Loeffler, Ligtenberg and
// Moschytz, 13-bit constants) whose output has the scale of ISO/IEC 13818-2 Annex A (DC = 8 x mean),
// i.e. the input scale of IdctChenWang. In place on 64 values in raster order; inputs -255..255
// (residuals) or 0..255 (intra samples); no allocation.
#pragma once

namespace pxenc {

void ForwardDct(short* pBlock);

}  // namespace pxenc
