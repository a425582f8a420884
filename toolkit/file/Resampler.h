// Page resampling and depth conversion. Shrinking averages the source area under each target pixel
// (exact box coverage, fractional edges weighted); enlarging interpolates bilinearly. 1-bit pages are
// resampled as grey and thresholded (a third black coverage counts as black when shrinking), which
// keeps thin strokes and text legible; the result
// keeps the source depth. Resolution scales with the size so the page keeps its physical size.
#pragma once

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int Resample(const PxPage* in, int width, int height, PxPage** out);
// 1 -> 8/24: black and white; 8 -> 24: grey; 24 -> 8: luma (BT.601); 8/24 -> 1: threshold at 128.
int ConvertDepth(const PxPage* in, int bitsPerPixel, PxPage** out);

}  // namespace pxfile
