// TIFF LZW strips decoded without libtiff's per-code table walk, and the horizontal predictor undone
// in the same pass that copies rows into a page. libtiff stays the reader for everything else: a
// strip this decoder does not take (old-style LZW, a table that overflows, too little data) is
// handed back to libtiff, so damaged files fail or load exactly as before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pxfile {

// Decodes one strip of TIFF 6.0 LZW (MSB-first codes, early change) into out. True when out was
// filled completely; false for anything else (the caller falls back to libtiff). Never writes
// past outLen or reads past inLen.
bool TiffLzwDecode(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen);

// Undoes TIFF predictor 2 on 8-bit samples: every sample after the first pixel adds the same
// sample of the pixel before it. src and dst may be the same row.
void TiffUndoPredictor8(const uint8_t* src, uint8_t* dst, size_t bytes, int samplesPerPixel);

}  // namespace pxfile
