// JPEG (JFIF) through libjpeg-turbo: loads greyscale, colour, CMYK/YCCK and progressive files (grey
// as 8 bits, others as 24), saves 8- and 24-bit pages (1-bit pages are saved as grey). Corrupt data,
// including a truncated file, is an error rather than a grey-filled page.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

// A file's EXIF orientation is honoured (the page comes upright, its sizes as shown); a JPEG stream
// inside another format (PDF) passes exif false, as that format places the image itself.
int JpegInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int JpegLoad(const uint8_t* data, size_t size, PxPage** out, bool exif = true);
// Encodes the page into `jpeg` (quality 1..100); the page must be 8 or 24 bits.
int JpegEncode(const PxPage* page, int quality, std::vector<uint8_t>& jpeg);
int JpegSave(const PxPage* page, const std::string& path, int factor);

// A JPEG file written while its rows arrive (a scan going straight to a file), so the page is never
// held whole. The rows pass through a small ring; a large page is split down the middle at an MCU
// boundary and its halves are compressed on two threads as the rows come, then joined MCU row by MCU
// row with restart markers: a restart only resets the DC prediction, so the file decodes to the pixels
// of a single pass. Rows are 8-bit grey or 24-bit RGB. One writer at a time.
class JpegStream {
 public:
  JpegStream();
  ~JpegStream();  // a stream still open is discarded with its file
  JpegStream(const JpegStream&) = delete;
  JpegStream& operator=(const JpegStream&) = delete;

  // Creates the file for an image of that size; PX_OK or an error (PX_ERR_PARAMETER for a size or
  // depth the stream does not take: the caller can save the whole page instead).
  int Open(const std::string& path, int32_t width, int32_t height, int bitsPerPixel, int xDpi, int yDpi,
           int factor);
  // `count` rows, `stride` bytes apart, in order; rows beyond the height given to Open are ignored.
  int Write(const uint8_t* rows, int32_t count, size_t stride);
  // keep: the file gets the rows written so far, a shorter image when fewer came than announced (at
  // least one must have). Otherwise, or on any failure, the file is removed. PX_OK or an error.
  int Close(bool keep);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace pxfile
