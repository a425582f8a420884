// Reads one page from an open SANE device: sane_start, the frame's parameters, sane_read until the
// last frame ends, the lines turned into a PxPage (1-bit line art with 0 = black, 8-bit grey, 24-bit
// RGB; 16-bit samples keep their high byte; three-pass colour is assembled). The device is read on a
// worker thread while the calling thread reports progress and watches for a cancel or a stall, so a
// device that stops sending ends the page in bounded time: the worker is asked to stop, then the read
// is cancelled through sane_cancel, and a worker that still does not return is abandoned (the handle
// is then never used again). A device of SANE's net backend whose saned has gone away ends the page
// as an I/O failure as soon as that shows (its backend then reports empty reads, not an error).
#pragma once

#include <sane/sane.h>

#include <cstddef>
#include <string>
#include <vector>

#include "pxtwain/PxTwainApi.h"

namespace pxtwain {

struct PageRequest {
  int pageNumber = 1;
  int stallMs = 30000;
  PxTwnProgressFn progress = nullptr;
  void* context = nullptr;
  std::string device;  // the SANE device name: a net device's saned is asked for when data stops
  // Rows of a one-frame 8-bit grey or RGB page of known height go here as they arrive, when the sink
  // takes them (see PxTwnRowSink); `end` is the caller's to call.
  const PxTwnRowSink* sink = nullptr;
  void* sinkContext = nullptr;
  int dpi = 0;
};

struct PageResult {
  int code = PX_TWN_OK;    // PX_TWN_OK with a page, else a negative code and no page
  PxPage* page = nullptr;  // owned by the caller
  std::string error;       // what failed, for the session's error text
  bool abandoned = false;  // the worker did not return: the handle must not be used again
  bool streamed = false;   // the rows went to the request's sink (no page)
  int rows = 0;            // rows the sink received
};

// One frame as SANE hands it over: its parameters and the bytes sane_read gave until EOF.
struct FrameData {
  SANE_Parameters params{};
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// Largest page the library will hold in memory (a letter page at 1200 dpi in colour is 404 MB).
inline constexpr long long kMaxPageBytes = 1LL << 30;

class PageReader {
 public:
  static PageResult Read(SANE_Handle handle, const PageRequest& request);
  // Turns frames into a page exactly as a scan does, without a device (tests, fuzzing): the frames
  // up to the first with last_frame set; PX_TWN_E_FORMAT for a frame the page cannot take.
  static PageResult DecodeFrames(const std::vector<FrameData>& frames);
  // Hands a frame's bytes to a row sink exactly as a scan does, `chunk` bytes a read (tests, fuzzing):
  // PX_TWN_E_FORMAT for a frame a sink does not take, else begin, rows and end; the result's rows are
  // the rows the sink took.
  static PageResult StreamFrame(const FrameData& frame, const PxTwnRowSink& sink, void* context,
                                size_t chunk);
  // The library's code for a status SANE gave while starting (start) or reading.
  static int MapStatus(SANE_Status status, bool start);
  // Frees a page and its pixels; null is fine.
  static void FreePage(PxPage* page);
  // A new page of that size, pixels not initialised; null when it is too large or memory runs out.
  static PxPage* NewPage(int width, int height, int bitsPerPixel);
  // Line art from an 8-bit grey page (threshold at the middle); the grey page is freed.
  static PxPage* Threshold(PxPage* grey);
};

}  // namespace pxtwain
