// The encoder pieces the JPEG codec (JpegCodec.cpp) and JpegStream share: libjpeg's error handling,
// starting an encoder, compressing to memory and finding the headers of what libjpeg wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
// After the C headers above, which it needs.
#include <jpeglib.h>

#include <csetjmp>

#include "toolkit/file/FileCommon.h"

namespace pxfile::jpeg {

// libjpeg's errors end in a longjmp to `jump`; its warnings (corrupt data) are errors too.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void SetupErrors(ErrorManager& err, jpeg_common_struct* cinfo);

// An encoder writing into memory.
struct Encode {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  unsigned char* buffer = nullptr;
  unsigned char* initial = nullptr;  // ours; libjpeg replaces `buffer` when it outgrows it
  unsigned long size = 0;
  ~Encode() {
    if (created) jpeg_destroy_compress(&cinfo);
    if (buffer != initial) std::free(buffer);
    std::free(initial);
  }
};

// Starts the encoder on an image of that size (8 bits grey or 24 bits RGB); restartRows > 0 asks for
// a restart marker every that many MCU rows, restartMcus > 0 every that many MCUs. The caller holds
// the setjmp for libjpeg's errors.
void Start(jpeg_compress_struct& cinfo, int32_t width, int32_t height, int bitsPerPixel, int quality,
           int restartRows, int xDpi, int yDpi, int restartMcus = 0);

// Compresses rows [first, first + count) of the page into e's memory. False when libjpeg failed.
bool CompressToMemory(Encode& e, const PxPage* page, int quality, int32_t first, int32_t count,
                      int restartRows, int restartMcus = 0);

// Offsets in the headers of a JPEG stream written by libjpeg: the frame header (SOF) and the first
// byte of entropy-coded data after the scan header. False when they are not within the first `size`
// bytes.
bool Headers(const uint8_t* d, size_t size, size_t& sof, size_t& data);
// The same for a whole stream, which must end with its end marker.
bool Layout(const uint8_t* d, size_t size, size_t& sof, size_t& data);

// Pages from this size on are compressed in parts on two threads.
inline constexpr int64_t kBandPixels = 2 * 1000 * 1000;

// Whether compression may use threads of its own.
bool ThreadsAllowed();

}  // namespace pxfile::jpeg
