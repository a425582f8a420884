// The toolkit's TWAIN property record: what an application asks of a scan source. Read whole with
// PxTwain::GetProperties, changed in the fields the application cares about, written back whole with
// PxTwain::SetProperties (record, flags). Plain C, so the TWAIN library (libpxtwain.so) and the class
// library share it. Texts are UTF-8 with a terminating zero; a text that does not fit is refused.
//
// SetProperties flags (any combination; 0x30 = both):
//   PX_TWN_SET_IDENTITY 0x10  the application identity and the source name (the source is looked up
//                             here: an unknown name fails with PX_TWN_E_NO_SOURCE)
//   PX_TWN_SET_IMAGE    0x20  pixel type to contrast, area offset, feeder source, stall time-out
// A value of -1 (2000 for brightness and contrast) leaves the device's own setting.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PX_TWN_NAME_LEN 36    /* characters of an identity text or a source name */
#define PX_TWN_DEVICE_LEN 255 /* characters of a SANE device name */

#define PX_TWN_SET_IDENTITY 0x10
#define PX_TWN_SET_IMAGE 0x20

/* pixelType */
#define PX_TWN_PIXEL_BW 0   /* line art, 1 bit per pixel */
#define PX_TWN_PIXEL_GRAY 1 /* 8 bits per pixel */
#define PX_TWN_PIXEL_RGB 2  /* 24 bits per pixel */

/* feederSource */
#define PX_TWN_SOURCE_DEVICE 0  /* whatever the device is set to */
#define PX_TWN_SOURCE_FLATBED 1 /* the glass */
#define PX_TWN_SOURCE_FEEDER 2  /* the automatic document feeder, when the device has one */

#define PX_TWN_NOT_GIVEN 2000 /* brightness or contrast left to the device */

typedef struct PxTwainProps {
  /* Application identity (informational; SANE has no place for it). */
  char manufacturer[PX_TWN_NAME_LEN + 1];
  char productFamily[PX_TWN_NAME_LEN + 1];
  char productName[PX_TWN_NAME_LEN + 1];
  /* The source, as EnumSources names it; empty: the first source there is. */
  char sourceName[PX_TWN_NAME_LEN + 1];
  int32_t pixelType;  /* PX_TWN_PIXEL_*, -1 device setting */
  int32_t bitDepth;   /* 1, 8 or 24 (follows the pixel type), -1 device setting */
  int32_t resolution; /* dots per inch, both directions; -1 device setting */
  int32_t spare1;     /* kept as given, unused */
  int32_t spare2;
  int32_t width; /* scan area in 1/1440 inch from the top-left corner; -1 device setting */
  int32_t height;
  int32_t brightness; /* -1000..1000 mapped onto the device's range; 2000 device setting */
  int32_t contrast;
  /* Beyond TWAIN: what a SANE backend needs. */
  int32_t left; /* area offset from the top-left corner in 1/1440 inch (0: the corner) */
  int32_t top;
  int32_t feederSource; /* PX_TWN_SOURCE_* */
  int32_t stallMs;      /* a read that brings nothing for this long ends the scan; 0: 30000 */
  /* Filled by GetProperties once a source is chosen, ignored by SetProperties. */
  char saneDevice[PX_TWN_DEVICE_LEN + 1];
} PxTwainProps;

#ifdef __cplusplus
}
#endif
