// JPEG through libjpeg-turbo (see JpegCodec.h). ITU-T T.81 / JFIF 1.02.
#include "toolkit/file/JpegCodec.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>

#include "toolkit/file/JpegEncoder.h"

namespace pxfile {

using namespace jpeg;

namespace {

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end) end the decode: a page padded with grey is not a success.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) OnError(cinfo);
}

void Silent(j_common_ptr) {}

}  // namespace

void jpeg::SetupErrors(ErrorManager& err, jpeg_common_struct* cinfo) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.pub.output_message = Silent;
}

namespace {

void Resolution(const jpeg_decompress_struct& cinfo, int& x, int& y) {
  x = y = 0;
  if (cinfo.density_unit == 1) {
    x = cinfo.X_density;
    y = cinfo.Y_density;
  } else if (cinfo.density_unit == 2) {
    x = (cinfo.X_density * 254 + 50) / 100;
    y = (cinfo.Y_density * 254 + 50) / 100;
  }
}

// Decode state kept outside the setjmp frame so nothing it owns is lost on a longjmp.
struct Decode {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  PageHolder page;
  std::vector<uint8_t> row;
  ~Decode() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

int Header(Decode& d, const uint8_t* data, size_t size) {
  SetupErrors(d.err, reinterpret_cast<jpeg_common_struct*>(&d.cinfo));
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  // Progressive files buffer every coefficient; cap what the library may allocate.
  d.cinfo.mem->max_memory_to_use = 1024L * 1024 * 1024;
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&d.cinfo, JPEG_APP0 + 14, 0);
  jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return PX_ERR_CORRUPT;
  return CheckPageSize(d.cinfo.image_width, d.cinfo.image_height);
}

// The orientation tag (0x0112) of the EXIF block's first directory: 1 to 8, 1 when absent or damaged.
int ExifOrientation(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0)
      continue;
    const uint8_t* t = m->data + 6;
    const size_t n = m->data_length - 6;
    const bool le = t[0] == 'I' && t[1] == 'I';
    if (!le && !(t[0] == 'M' && t[1] == 'M')) return 1;
    const auto u16 = [&](size_t at) {
      return le ? uint32_t(t[at] | t[at + 1] << 8) : uint32_t(t[at] << 8 | t[at + 1]);
    };
    const auto u32 = [&](size_t at) {
      return le ? uint32_t(t[at]) | uint32_t(t[at + 1]) << 8 | uint32_t(t[at + 2]) << 16 |
                      uint32_t(t[at + 3]) << 24
                : uint32_t(t[at]) << 24 | uint32_t(t[at + 1]) << 16 | uint32_t(t[at + 2]) << 8 |
                      uint32_t(t[at + 3]);
    };
    if (u16(2) != 42) return 1;
    const uint32_t ifd = u32(4);
    if (ifd > n - 2 || n < 2) return 1;
    const uint32_t entries = u16(ifd);
    for (uint32_t e = 0; e < entries; ++e) {
      const size_t at = size_t(ifd) + 2 + size_t(e) * 12;
      if (at + 12 > n) return 1;
      if (u16(at) == 0x0112 && u16(at + 2) == 3) {
        const uint32_t v = u16(at + 8);
        return v >= 1 && v <= 8 ? int(v) : 1;
      }
    }
    return 1;
  }
  return 1;
}

// The page as EXIF orientation o says it is shown (2..8: mirrored, turned, or both).
PxPage* Orient(const PxPage* in, int o) {
  const bool swap = o >= 5;
  const int32_t w = in->width, h = in->height;
  PxPage* out = NewPage(swap ? h : w, swap ? w : h, in->bitsPerPixel, swap ? in->yDpi : in->xDpi,
                        swap ? in->xDpi : in->yDpi);
  if (!out) return nullptr;
  const int bytes = in->bitsPerPixel / 8;
  for (int32_t y = 0; y < out->height; ++y) {
    uint8_t* dst = PxPageRow(out, y);
    for (int32_t x = 0; x < out->width; ++x) {
      int32_t sx = x, sy = y;
      switch (o) {
        case 2:
          sx = w - 1 - x;
          break;
        case 3:
          sx = w - 1 - x, sy = h - 1 - y;
          break;
        case 4:
          sy = h - 1 - y;
          break;
        case 5:
          sx = y, sy = x;
          break;
        case 6:
          sx = y, sy = h - 1 - x;
          break;
        case 7:
          sx = w - 1 - y, sy = h - 1 - x;
          break;
        case 8:
          sx = w - 1 - y, sy = x;
          break;
        default:
          break;
      }
      std::memcpy(dst + size_t(x) * bytes, PxPageRow(in, sy) + size_t(sx) * bytes, size_t(bytes));
    }
  }
  return out;
}

}  // namespace

int JpegInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  Decode d;
  if (setjmp(d.err.jump)) return PX_ERR_CORRUPT;
  int result = Header(d, data, size);
  if (result != PX_OK && result != PX_ERR_TOO_LARGE) return result;
  info->nWidth = int32_t(d.cinfo.image_width);
  info->nHeight = int32_t(d.cinfo.image_height);
  info->nBitsPerPixel = d.cinfo.num_components == 1 ? 8 : 24;
  info->nPages = 1;
  Resolution(d.cinfo, info->nXDpi, info->nYDpi);
  if (ExifOrientation(d.cinfo) >= 5) {
    std::swap(info->nWidth, info->nHeight);
    std::swap(info->nXDpi, info->nYDpi);
  }
  return result;
}

int JpegLoad(const uint8_t* data, size_t size, PxPage** out, bool exif) {
  Decode d;
  if (setjmp(d.err.jump)) return PX_ERR_CORRUPT;
  int result = Header(d, data, size);
  if (result != PX_OK) return result;
  const int components = d.cinfo.num_components;
  const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
  if (components == 1)
    d.cinfo.out_color_space = JCS_GRAYSCALE;
  else if (cmyk)
    d.cinfo.out_color_space = JCS_CMYK;
  else if (components == 3)
    d.cinfo.out_color_space = JCS_RGB;
  else
    return PX_ERR_UNSUPPORTED;
  jpeg_start_decompress(&d.cinfo);
  int x = 0, y = 0;
  Resolution(d.cinfo, x, y);
  const int bpp = components == 1 ? 8 : 24;
  d.page.reset(NewPage(int32_t(d.cinfo.output_width), int32_t(d.cinfo.output_height), bpp, x, y));
  if (!d.page.get()) return PX_ERR_NO_MEMORY;
  // Adobe writes CMYK inverted (APP14 present); others write it plain.
  const bool inverted = cmyk && d.cinfo.saw_Adobe_marker;
  d.row.resize(size_t(d.cinfo.output_width) * size_t(d.cinfo.output_components));
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    uint8_t* target = PxPageRow(d.page.get(), int32_t(d.cinfo.output_scanline));
    JSAMPROW rows[1] = {cmyk ? d.row.data() : target};
    if (jpeg_read_scanlines(&d.cinfo, rows, 1) != 1) return PX_ERR_CORRUPT;
    if (cmyk) {
      for (JDIMENSION i = 0; i < d.cinfo.output_width; ++i) {
        int c = d.row[i * 4], m = d.row[i * 4 + 1], yy = d.row[i * 4 + 2], k = d.row[i * 4 + 3];
        if (!inverted) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        target[i * 3] = uint8_t(c * k / 255);
        target[i * 3 + 1] = uint8_t(m * k / 255);
        target[i * 3 + 2] = uint8_t(yy * k / 255);
      }
    }
  }
  // Before finishing: that frees the saved markers.
  const int orientation = exif ? ExifOrientation(d.cinfo) : 1;
  jpeg_finish_decompress(&d.cinfo);
  if (orientation != 1) {
    PxPage* upright = Orient(d.page.get(), orientation);
    if (!upright) return PX_ERR_NO_MEMORY;
    d.page.reset(upright);
  }
  *out = d.page.release();
  return PX_OK;
}

void jpeg::Start(jpeg_compress_struct& cinfo, int32_t width, int32_t height, int bitsPerPixel, int quality,
                 int restartRows, int xDpi, int yDpi, int restartMcus) {
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = bitsPerPixel == 8 ? 1 : 3;
  cinfo.in_color_space = bitsPerPixel == 8 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.restart_in_rows = restartRows;
  if (restartMcus > 0) cinfo.restart_interval = unsigned(restartMcus);
  if (xDpi > 0 && yDpi > 0 && xDpi < 65536 && yDpi < 65536) {
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(xDpi);
    cinfo.Y_density = UINT16(yDpi);
  }
  jpeg_start_compress(&cinfo, TRUE);
}

namespace {

// Compresses rows [first, first + count) of the page into the destination already set on the encoder.
// False when libjpeg failed.
bool Compress(Encode& e, const PxPage* page, int quality, int32_t first = 0, int32_t count = -1,
              int restartRows = 0, int restartMcus = 0) {
  if (setjmp(e.err.jump)) return false;
  Start(e.cinfo, page->width, count < 0 ? page->height : count, page->bitsPerPixel, quality, restartRows,
        page->xDpi, page->yDpi, restartMcus);
  // The page's rows are handed over as they are, a band at a time.
  JSAMPROW rows[16];
  while (e.cinfo.next_scanline < e.cinfo.image_height) {
    const JDIMENSION at = e.cinfo.next_scanline;
    const JDIMENSION n = std::min<JDIMENSION>(16, e.cinfo.image_height - at);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = PxPageRow(page, first + int32_t(at + i));
    jpeg_write_scanlines(&e.cinfo, rows, n);
  }
  jpeg_finish_compress(&e.cinfo);
  return true;
}

}  // namespace

bool jpeg::CompressToMemory(Encode& e, const PxPage* page, int quality, int32_t first, int32_t count,
                            int restartRows, int restartMcus) {
  SetupErrors(e.err, reinterpret_cast<jpeg_common_struct*>(&e.cinfo));
  jpeg_create_compress(&e.cinfo);
  e.created = true;
  // Room for a quarter of the raw rows up front (memory is only touched as it is written), so libjpeg
  // seldom has to grow and copy its buffer.
  const size_t guess = size_t(count) * size_t(page->width) * size_t(page->bitsPerPixel / 8) / 4 + 65536;
  e.initial = static_cast<unsigned char*>(std::malloc(guess));
  e.buffer = e.initial;
  e.size = e.initial ? guess : 0;
  jpeg_mem_dest(&e.cinfo, &e.buffer, &e.size);
  return Compress(e, page, quality, first, count, restartRows, restartMcus);
}

namespace {

uint16_t Be16(const uint8_t* p) {
  return uint16_t(p[0] << 8 | p[1]);
}

}  // namespace

bool jpeg::Headers(const uint8_t* d, size_t size, size_t& sof, size_t& data) {
  if (size < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
  sof = 0;
  for (size_t p = 2; p + 4 <= size && d[p] == 0xFF;) {
    const uint8_t marker = d[p + 1];
    const size_t length = Be16(d + p + 2);
    if (length < 2 || p + 2 + length > size) return false;
    if ((marker == 0xC0 || marker == 0xC1) && length >= 8) sof = p;
    if (marker == 0xDA) {
      data = p + 2 + length;
      return sof != 0;
    }
    p += 2 + length;
  }
  return false;
}

bool jpeg::Layout(const uint8_t* d, size_t size, size_t& sof, size_t& data) {
  return size >= 4 && d[size - 2] == 0xFF && d[size - 1] == 0xD9 && Headers(d, size - 2, sof, data);
}

bool jpeg::ThreadsAllowed() {
#if defined(__SANITIZE_ADDRESS__)
  // GCC 12's LeakSanitizer crashes in its exit-time scan of thread-local storage once such a thread has
  // run in a process that loaded SANE's backends; sanitizer builds compress on the caller's thread
  // (same pixels).
  return false;
#else
  return std::thread::hardware_concurrency() >= 2;
#endif
}

namespace {

// How a page splits into bands of whole MCU rows for CompressBands; bands < 2 when not worth it.
struct BandPlan {
  int mcu = 0;
  int bandRows = 0;  // MCU rows per band
  int bands = 0;

  explicit BandPlan(const PxPage* page) {
    if (int64_t(page->width) * page->height < kBandPixels || !ThreadsAllowed()) return;
    mcu = page->bitsPerPixel == 24 ? 16 : 8;  // libjpeg's defaults: 4:2:0 colour
    const int64_t mcusPerRow = (page->width + mcu - 1) / mcu;
    const int mcuRows = (page->height + mcu - 1) / mcu;
    // Bands of at most half the page, and at most 65535 MCUs (the largest restart interval).
    bandRows = int(std::min<int64_t>((mcuRows + 1) / 2, 65535 / mcusPerRow));
    if (bandRows < 1 || mcuRows < 2) return;
    bands = (mcuRows + bandRows - 1) / bandRows;
  }
  int32_t First(int band) const { return band * bandRows * mcu; }
  int32_t Count(const PxPage* page, int band) const {
    return std::min<int32_t>(bandRows * mcu, page->height - First(band));
  }
};

// The page in bands of whole MCU rows, compressed on two threads and joined with restart markers
// (RST0..7 in turn): a restart only resets the entropy coder's DC prediction, so the decoded pixels
// are those of a single pass, in about half the time on two cores. The first band's headers stand for
// the whole image (its frame height patched); the restart interval is one band, so no band holds a
// marker of its own. `first` compresses band 0 on the calling thread (restart interval given) wherever
// the caller wants it; the other bands go to memory on both threads and are handed to `rest` in order,
// each with the restart marker that precedes it. False when anything fails.
bool CompressBands(const PxPage* page, const BandPlan& plan, int quality,
                   const std::function<bool(int)>& first,
                   const std::function<bool(const uint8_t*, size_t)>& rest) {
  const int bands = plan.bands;
  std::vector<Encode> encoded(static_cast<size_t>(bands));
  std::vector<char> ok(size_t(bands), 0);
  std::atomic<int> next{1};
  auto work = [&] {
    for (int b; (b = next.fetch_add(1)) < bands;)
      ok[size_t(b)] =
          CompressToMemory(encoded[size_t(b)], page, quality, plan.First(b), plan.Count(page, b), 0);
  };
  bool firstOk = false;
  try {
    std::thread helper(work);
    firstOk = first(plan.bandRows);
    work();
    helper.join();
  } catch (const std::system_error&) {
    return false;  // no thread to be had
  }
  if (!firstOk) return false;
  for (int b = 1; b < bands; ++b) {
    const Encode& e = encoded[size_t(b)];
    size_t sof = 0, data = 0;
    if (!ok[size_t(b)] || !Layout(e.buffer, e.size, sof, data)) return false;
    const uint8_t marker[2] = {0xFF, uint8_t(0xD0 + (b - 1) % 8)};
    if (!rest(marker, 2) || !rest(e.buffer + data, e.size - 2 - data)) return false;
  }
  const uint8_t end[2] = {0xFF, 0xD9};
  return rest(end, 2);
}

}  // namespace

int JpegEncode(const PxPage* page, int quality, std::vector<uint8_t>& jpeg) {
  if (page->bitsPerPixel != 8 && page->bitsPerPixel != 24) return PX_ERR_PARAMETER;
  jpeg.clear();
  const BandPlan plan(page);
  if (plan.bands >= 2) {
    // Band 0 to memory too, its frame height patched and its end marker dropped.
    auto head = [&](int restartRows) {
      Encode e;
      if (!CompressToMemory(e, page, quality, 0, plan.Count(page, 0), restartRows)) return false;
      size_t sof = 0, data = 0;
      if (!Layout(e.buffer, e.size, sof, data)) return false;
      jpeg.assign(e.buffer, e.buffer + e.size - 2);
      jpeg[sof + 5] = uint8_t(page->height >> 8);
      jpeg[sof + 6] = uint8_t(page->height);
      return true;
    };
    if (CompressBands(page, plan, quality, head, [&](const uint8_t* p, size_t n) {
          jpeg.insert(jpeg.end(), p, p + n);
          return true;
        }))
      return PX_OK;
    jpeg.clear();
  }
  Encode e;
  if (!CompressToMemory(e, page, quality, 0, page->height, 0)) return PX_ERR_INTERNAL;
  jpeg.assign(e.buffer, e.buffer + e.size);
  return PX_OK;
}

// Written straight to the file: a large page's first band as libjpeg makes it, its other bands
// (compressed meanwhile on a second thread) after it; a small page in a single pass.
int JpegSave(const PxPage* page, const std::string& path, int factor) {
  if (page->bitsPerPixel != 8 && page->bitsPerPixel != 24) return PX_ERR_PARAMETER;
  const int fd = OpenForWriting(path, O_RDWR, true);
  FILE* file = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
  if (!file) {
    if (fd >= 0) ::close(fd);
    return PX_ERR_WRITE;
  }
  std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
  const int quality = JpegQualityFor(factor);
  auto toFile = [&](int32_t first, int32_t count, int restartRows) {
    Encode e;
    SetupErrors(e.err, reinterpret_cast<jpeg_common_struct*>(&e.cinfo));
    jpeg_create_compress(&e.cinfo);
    e.created = true;
    jpeg_stdio_dest(&e.cinfo, file);
    return Compress(e, page, quality, first, count, restartRows);
  };
  bool ok = false;
  const BandPlan plan(page);
  if (plan.bands >= 2) {
    // Band 0's frame height becomes the page's, and its end marker gives way to the next band.
    auto head = [&](int restartRows) {
      if (!toFile(0, plan.Count(page, 0), restartRows) || std::fflush(file) != 0) return false;
      uint8_t start[1024];
      std::rewind(file);
      size_t sof = 0, data = 0;
      const bool found = Headers(start, std::fread(start, 1, sizeof start, file), sof, data);
      const uint8_t height[2] = {uint8_t(page->height >> 8), uint8_t(page->height)};
      return found && std::fseek(file, long(sof + 5), SEEK_SET) == 0 &&
             std::fwrite(height, 1, 2, file) == 2 && std::fseek(file, -2, SEEK_END) == 0;
    };
    ok = CompressBands(page, plan, quality, head,
                       [&](const uint8_t* p, size_t n) { return n == 0 || std::fwrite(p, 1, n, file) == n; });
    // What the bands left behind goes; a single pass starts again at the file's beginning.
    if (!ok)
      ok = std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
           toFile(0, -1, 0);
  } else {
    ok = toFile(0, -1, 0);
  }
  ok = std::fflush(file) == 0 && !std::ferror(file) && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(path.c_str());  // no half-written page left behind
  return ok ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
