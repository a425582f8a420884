// libFuzzer target: the TWAIN library's SANE frame decoding (PageReader::DecodeFrames), the code that
// turns what a device sends (frame parameters and bytes) into a page, without a device, and the same
// first frame handed to a row sink as file transfer takes it (PageReader::StreamFrame). Input: one
// flag byte (bit 0: threshold a grey page to line art, as for a line-art request; bits 1..7: the size
// of each read for the sink, 1 + 97 * n bytes), then frames, each a 10-byte header and its bytes:
//   format (low 3 bits: SANE_Frame, 5..7 are not SANE's), depth code, last_frame (bit 0),
//   pixels_per_line (16 bits LE; shifted left by 4 when depth code bit 7 is set),
//   lines (16 bits LE, signed: -1 is unknown), padding (16 bits LE: bytes added to what a line needs;
//   bit 15 set: the low bits are bytes_per_line itself), length of the frame's bytes (16 bits LE).
// Depth codes 0..2 give 1, 8, 16; others give the code itself. Seeds: fuzz/corpus/sane_frames/.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "toolkit/twain/PageReader.h"

namespace {

volatile uint8_t g_sink;

unsigned U16(const uint8_t* p) {
  return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool threshold = (data[0] & 1) != 0;
  size_t pos = 1;
  std::vector<pxtwain::FrameData> frames;
  while (size - pos >= 10 && frames.size() < 8) {
    const uint8_t* h = data + pos;
    pos += 10;
    SANE_Parameters p{};
    p.format = static_cast<SANE_Frame>(h[0] & 7);
    const int code = h[1] & 0x7f;
    p.depth = code == 0 ? 1 : code == 1 ? 8 : code == 2 ? 16 : code;
    p.last_frame = (h[2] & 1) ? SANE_TRUE : SANE_FALSE;
    p.pixels_per_line = static_cast<SANE_Int>(U16(h + 3) << ((h[1] & 0x80) ? 4 : 0));
    p.lines = static_cast<int16_t>(U16(h + 5));
    const unsigned pad = U16(h + 7);
    const long long samples = p.format == SANE_FRAME_RGB ? 3 : 1;
    const long long needed = (p.pixels_per_line * samples * p.depth + 7) / 8;
    p.bytes_per_line =
        (pad & 0x8000) ? static_cast<SANE_Int>(pad & 0x7fff) : static_cast<SANE_Int>(needed + (pad & 0xff));
    const size_t length = std::min<size_t>(U16(h + 8) * 4u, size - pos);  // up to 256 KiB a frame
    frames.push_back({p, data + pos, length});
    pos += length;
  }
  pxtwain::PageResult result = pxtwain::PageReader::DecodeFrames(frames);
  if (result.page != nullptr) {
    // Touch every row the page claims, so a page taller than its pixels shows up here.
    const PxPage* page = result.page;
    uint8_t sum = 0;
    for (int y = 0; y < page->height; ++y)
      sum ^= page->pixels[static_cast<size_t>(y) * page->stride + page->stride - 1];
    g_sink = sum;
    if (threshold && page->bitsPerPixel == 8) result.page = pxtwain::PageReader::Threshold(result.page);
    pxtwain::PageReader::FreePage(result.page);
  }
  if (!frames.empty()) {
    // The sink reads every byte of every row it is given, so a row past the data shows up here.
    struct Rows {
      int width = 0, bytes = 0;
      uint8_t sum = 0;
    } rows;
    PxTwnRowSink sink{};
    sink.begin = [](void* self, int, int width, int, int bits, int) {
      static_cast<Rows*>(self)->bytes = width * (bits / 8);
      return 1;
    };
    sink.rows = [](void* self, const uint8_t* data, int count, int stride) {
      auto* r = static_cast<Rows*>(self);
      for (int i = 0; i < count; ++i)
        for (int b = 0; b < r->bytes; ++b) r->sum ^= data[static_cast<size_t>(i) * stride + b];
      return 1;
    };
    sink.end = [](void*, int, int) { return 1; };
    const size_t chunk = 1 + 97 * static_cast<size_t>(data[0] >> 1);
    pxtwain::PageReader::StreamFrame(frames[0], sink, &rows, chunk);
    g_sink = rows.sum;
  }
  return 0;
}
