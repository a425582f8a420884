// A JPEG file written while its rows arrive (JpegStream.cpp; the whole-page codec is JpegCodec.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pxfile {

// A JPEG file written while its rows arrive (a scan going straight to a file), so the page is never
// held whole. The rows pass through a small ring; a large page is cut into columns of whole restart
// intervals, compressed on two threads as the rows come and joined MCU row by MCU row with their
// restart markers: a restart only resets the DC prediction, so the file decodes to the pixels of a
// single pass (docs/toolkit.md). Rows are 8-bit grey or 24-bit RGB. One writer at a time.
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
