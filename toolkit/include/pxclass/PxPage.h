// One page in memory: the form in which the toolkit's libraries hand pages to each other and to the
// class library (a scanned page from the TWAIN library, a decoded page from the file library).
// Plain C so that it crosses library boundaries; pixels are allocated with malloc and whoever holds
// the page frees them with free().
//
// Rows run top to bottom, each `stride` bytes (a multiple of 4). Pixel layouts:
//   1 bit:  most significant bit first; 0 is black, 1 is white
//   8 bits: grey, 0 is black
//   24 bits: three bytes per pixel in the order red, green, blue
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PxPage {
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel; /* 1, 8 or 24 */
  int32_t stride;       /* bytes per row */
  int32_t xDpi;         /* dots per inch, 0 when unknown */
  int32_t yDpi;
  uint8_t* pixels; /* height * stride bytes, malloc'ed */
} PxPage;

#ifdef __cplusplus
}
#endif
