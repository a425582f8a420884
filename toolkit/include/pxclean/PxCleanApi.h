// The C interface of the page cleanup library (libpxclean.so, "pxclean.dll"), loaded through the
// module layer on the first page a Quick Set asks to clean. It works on a page in memory (PxPage.h:
// 1, 8 or 24 bits) with integer arithmetic on a reduced copy for the measurements and no library
// beyond libc. Results: 1 success, negative PxError; no exception leaves an entry point.
//
// Angles are degrees, positive clockwise as the page is seen (y down): a page whose lines fall to
// the right has a positive skew, and PxCleanRotate(page, -skew) straightens it.
#pragma once

#include <stdint.h>

#include "pxclass/PxPage.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PxCleanBox {
  int32_t left, top, right, bottom;  // right and bottom exclusive
} PxCleanBox;

// The ink share below which a page counts as blank, in parts per million of the page's area inside
// its margins: a dust speck is a few, one short line of 10-point text a few hundred.
#define PX_CLEAN_BLANK_PPM 60

// How much of the page inside a quarter-inch margin is ink, in parts per million: pixels darker than
// half the paper's own white (so grey paper and bleed-through from the back are no ink), counted on
// a 2 x 2 average so that single noise pixels are not either.
int32_t PxCleanInk(const PxPage* page, int32_t* inkPpm);

// The skew of the page's text lines within +-10 degrees. *confidence is how far the best angle's
// line profile stands above the average one (0 when there is too little ink); a page whose lines
// cannot be told (a picture, a blank page) gets *degrees 0 and a confidence under PX_CLEAN_SKEW_SURE.
int32_t PxCleanFindSkew(const PxPage* page, double* degrees, double* confidence);
#define PX_CLEAN_SKEW_SURE 10.0

// Turns the page's content clockwise by `degrees` about its centre (bilinear, white where the
// turned page leaves the old one); the page keeps its size. Pixels are replaced (malloc/free).
int32_t PxCleanRotate(PxPage* page, double degrees);

// Turns the page clockwise by quarters * 90 degrees (width and height swap for odd quarters).
int32_t PxCleanTurn(PxPage* page, int32_t quarters);

// The paper inside dark borders (an open lid, a feeder's edges): *box is the whole page when there
// are none, and when cutting would keep less than half of either side (a dark picture).
int32_t PxCleanFindPaper(const PxPage* page, PxCleanBox* box);

// Keeps the box of the page (inside it, not empty).
int32_t PxCleanCrop(PxPage* page, const PxCleanBox* box);

typedef int32_t (*PxCleanInkFn)(const PxPage*, int32_t*);
typedef int32_t (*PxCleanFindSkewFn)(const PxPage*, double*, double*);
typedef int32_t (*PxCleanRotateFn)(PxPage*, double);
typedef int32_t (*PxCleanTurnFn)(PxPage*, int32_t);
typedef int32_t (*PxCleanFindPaperFn)(const PxPage*, PxCleanBox*);
typedef int32_t (*PxCleanCropFn)(PxPage*, const PxCleanBox*);

#ifdef __cplusplus
}
#endif
