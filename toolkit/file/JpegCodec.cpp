// JPEG through libjpeg-turbo (see JpegCodec.h). ITU-T T.81 / JFIF 1.02.
#include "toolkit/file/JpegCodec.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/resource.h>
#include <unistd.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace pxfile {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end) end the decode: a page padded with grey is not a success.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) OnError(cinfo);
}

void Silent(j_common_ptr) {}

void SetupErrors(ErrorManager& err, jpeg_common_struct* cinfo) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.pub.output_message = Silent;
}

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
  info->nFileType = PX_TYPE_JPEG;
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

namespace {

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

}  // namespace

namespace {

// Starts the encoder on an image of that size (8 bits grey or 24 bits RGB); restartRows > 0 asks for
// a restart marker every that many MCU rows, restartMcus > 0 every that many MCUs. The caller holds
// the setjmp for libjpeg's errors.
void Start(jpeg_compress_struct& cinfo, int32_t width, int32_t height, int bitsPerPixel, int quality,
           int restartRows, int xDpi, int yDpi, int restartMcus = 0) {
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

bool CompressToMemory(Encode& e, const PxPage* page, int quality, int32_t first, int32_t count,
                      int restartRows, int restartMcus = 0) {
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

uint16_t Be16(const uint8_t* p) {
  return uint16_t(p[0] << 8 | p[1]);
}

// Offsets in the headers of a JPEG stream written by libjpeg: the frame header (SOF) and the first
// byte of entropy-coded data after the scan header. False when they are not within the first `size`
// bytes.
bool Headers(const uint8_t* d, size_t size, size_t& sof, size_t& data) {
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

// The same for a whole stream, which must end with its end marker.
bool Layout(const uint8_t* d, size_t size, size_t& sof, size_t& data) {
  return size >= 4 && d[size - 2] == 0xFF && d[size - 1] == 0xD9 && Headers(d, size - 2, sof, data);
}

// Pages from this size on are compressed in bands on two threads.
constexpr int64_t kBandPixels = 2 * 1000 * 1000;

// Whether compression may use threads of its own.
bool ThreadsAllowed() {
#if defined(__SANITIZE_ADDRESS__)
  // GCC 12's LeakSanitizer crashes in its exit-time scan of thread-local storage once such a thread has
  // run in a process that loaded SANE's backends; sanitizer builds compress on the caller's thread
  // (same pixels).
  return false;
#else
  return std::thread::hardware_concurrency() >= 2;
#endif
}

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

namespace {

// libjpeg's output into a buffer that grows; the encoder's own thread takes each finished MCU row out
// of it and moves what follows to the front, so it stays about one MCU row long.
struct GrowingDest {
  jpeg_destination_mgr pub{};  // first: libjpeg sees only this
  uint8_t* data = nullptr;
  size_t capacity = 0;
  size_t Written() const { return capacity - pub.free_in_buffer; }
  void Rewind(size_t keepFrom) {
    const size_t keep = Written() - keepFrom;
    std::memmove(data, data + keepFrom, keep);
    pub.next_output_byte = data + keep;
    pub.free_in_buffer = capacity - keep;
  }
  ~GrowingDest() { std::free(data); }
};

void GrowingInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDest*>(cinfo->dest);
  d->pub.next_output_byte = d->data;
  d->pub.free_in_buffer = d->capacity;
}

boolean GrowingEmpty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDest*>(cinfo->dest);
  const size_t used = d->capacity;
  auto* grown = static_cast<uint8_t*>(std::realloc(d->data, used * 2));
  if (grown == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  d->data = grown;
  d->capacity = used * 2;
  d->pub.next_output_byte = grown + used;
  d->pub.free_in_buffer = d->capacity - used;
  return TRUE;
}

void GrowingTerm(j_compress_ptr) {}

// One column range of the page, with its own encoder.
struct StreamPart {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  GrowingDest dest;
  bool created = false;
  int32_t x = 0;  // first column
  int32_t width = 0;
  int chunks = 1;  // restart intervals in each of its MCU rows
  // The entropy-coded data of each MCU row (with the markers between its intervals), taken out as
  // soon as the marker after it is written. The encoder fills an entry before it counts it ready; the
  // file's writer empties it after.
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> head;  // the headers up to the scan's data (taken with the first row)
  size_t start = 0;           // where the current row's data begins in `dest`
  int taken = 0;              // rows taken out
  int groupsDone = 0;         // these four under the stream's mutex
  int ready = 0;
  bool failed = false;
  bool busy = false;     // a thread is setting it up or compressing a row of it
  bool started = false;  // its encoder is set up
  std::thread thread;
  ~StreamPart() {
    if (created) jpeg_destroy_compress(&cinfo);
  }

  // Takes out the finished row: the data up to the restart marker that ends its last interval, or up
  // to the end marker once the encoder has finished. False when the stream is not as libjpeg writes it.
  bool TakeRow(bool finished, std::vector<uint8_t>&& into) {
    const uint8_t* d = dest.data;
    const size_t size = dest.Written();
    if (taken == 0) {
      size_t sof = 0;
      if (!Headers(d, size, sof, start)) return false;
      head.assign(d, d + start);
    }
    size_t end = 0;
    if (finished) {
      if (size < start + 2 || d[size - 2] != 0xFF || d[size - 1] != 0xD9) return false;
      end = size - 2;
    } else {
      int markers = 0;
      for (size_t at = start; end == 0 && at + 1 < size;) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(d + at, 0xFF, size - at - 1));
        if (ff == nullptr) break;
        const size_t pos = size_t(ff - d);
        if (d[pos + 1] >= 0xD0 && d[pos + 1] <= 0xD7 && ++markers == chunks) end = pos;
        at = pos + 2;
      }
      if (end == 0) return false;
    }
    into.assign(d + start, d + end);
    rows[size_t(taken)] = std::move(into);
    ++taken;
    if (!finished) {
      dest.Rewind(end + 2);
      start = 0;
    }
    return true;
  }
};

}  // namespace

struct JpegStream::State {
  static constexpr int kSlots = 16;  // MCU rows the ring holds
  static constexpr int kWakeRows = 4;
  static constexpr int kHelperNice = 10;  // above the process's own

  std::string path;
  FILE* file = nullptr;
  int32_t width = 0, height = 0;
  int bytesPerPixel = 0;
  int quality = 0;
  int xDpi = 0, yDpi = 0;
  size_t rowBytes = 0;
  int mcu = 0;       // rows per MCU row
  int groups = 0;    // MCU rows of the announced height
  int interval = 0;  // MCUs per restart interval
  int32_t rows = 0;
  // Not cleared: every row is written before it is read. Whole huge pages from 1 MB on, mapped at
  // once (see PxPagePrefault): one fault instead of hundreds while the first rows arrive.
  std::unique_ptr<uint8_t, decltype(&std::free)> ring{nullptr, &std::free};
  size_t ringBytes = 0;
  // stdio's own would be 4 KB: a write call for every row. In the ring's last huge page when it has
  // room (fresh pages of its own cost a fault each); the file is always closed before the ring goes.
  static constexpr size_t kFileBuffer = 64 * 1024;
  char* fileBuffer = nullptr;
  std::unique_ptr<char[]> ownFileBuffer;
  std::vector<std::unique_ptr<StreamPart>> parts;
  bool threaded = false;
  // The file so far: the headers once written, where the frame header is, the MCU rows written, and
  // the restart intervals begun.
  bool headWritten = false;
  size_t sofAt = 0;
  int written = 0;
  int writeLimit = 0;  // MCU rows the parts may give the file (fewer for a page that ended early)
  int intervals = 0;
  bool writeFailed = false;

  std::mutex mutex;
  std::condition_variable changed;
  int filled = 0;     // MCU rows complete in the ring
  bool stop = false;  // the encoders end after the rows filled so far, without finishing
  bool abort = false;
  bool made = false;    // the file was created by this stream (only then is it removed on failure)
  bool closed = false;  // the file is complete and stays
  // Waking a thread is dear (in a virtual machine, tens of microseconds), so nobody is woken for
  // every MCU row: the helper is woken only when it waits, for a few rows at once, and the writer only
  // when it waits for a row the helper is compressing.
  bool writerWaiting = false;
  int encodersWaiting = 0;
  std::vector<std::vector<uint8_t>> spare;  // row buffers written out

  ~State() {
    if (!closed) Abort();
  }

  int GroupRows(int g) const { return std::min(mcu, height - g * mcu); }
  uint8_t* Slot(int g) { return ring.get() + size_t(g % kSlots) * size_t(mcu) * rowBytes; }

  // The ring's pages are mapped by PrefaultRing, on the second thread when there is one: meanwhile the
  // device's first rows are read (its pipe is small, and it waits while nobody reads).
  bool AllocateRing() {
    const size_t bytes = size_t(kSlots) * size_t(mcu) * rowBytes;
    constexpr size_t kHuge = size_t(2) << 20;
    if (bytes >= (size_t(1) << 20)) {
      ringBytes = (bytes + kHuge - 1) & ~(kHuge - 1);
      ring.reset(static_cast<uint8_t*>(std::aligned_alloc(kHuge, ringBytes)));
      if (ring != nullptr && ringBytes - bytes >= kFileBuffer)
        fileBuffer = reinterpret_cast<char*>(ring.get() + bytes);
    } else {
      ring.reset(static_cast<uint8_t*>(std::malloc(bytes)));
    }
    return ring != nullptr;
  }

  void PrefaultRing() {
    if (ringBytes > 0) PxPagePrefault(ring.get(), ringBytes);
  }

  // Opens the file for writing without emptying it: a file of that name is written over and cut to
  // its new length at the end (emptying an old file at open took up to a millisecond on ext4, while the
  // device waited).
  bool OpenFile() {
    const int fd = OpenForWriting(path, O_WRONLY, false);
    if (fd < 0) return false;
    file = fdopen(fd, "wb");
    if (file == nullptr) {
      ::close(fd);
      return false;
    }
    made = true;
    if (fileBuffer == nullptr) {
      ownFileBuffer.reset(new (std::nothrow) char[kFileBuffer]);
      fileBuffer = ownFileBuffer.get();
    }
    if (fileBuffer != nullptr) std::setvbuf(file, fileBuffer, _IOFBF, kFileBuffer);
    return true;
  }

  bool StartPart(StreamPart& p) {
    SetupErrors(p.err, reinterpret_cast<jpeg_common_struct*>(&p.cinfo));
    jpeg_create_compress(&p.cinfo);
    p.created = true;
    p.rows.resize(size_t(groups));
    // A few MCU rows' worth: rows are taken out as they are finished.
    p.dest.capacity = size_t(p.width) * size_t(mcu) * size_t(bytesPerPixel) + 65536;
    p.dest.data = static_cast<uint8_t*>(std::malloc(p.dest.capacity));
    if (p.dest.data == nullptr) return false;
    p.dest.pub.init_destination = GrowingInit;
    p.dest.pub.empty_output_buffer = GrowingEmpty;
    p.dest.pub.term_destination = GrowingTerm;
    p.cinfo.dest = &p.dest.pub;
    if (setjmp(p.err.jump)) return false;
    // Restart markers where the parts' rows are joined and where a short page can be cut: every
    // `interval` MCUs, which ends each MCU row of every part.
    Start(p.cinfo, p.width, height, bytesPerPixel * 8, quality, 0, xDpi, yDpi, interval);
    return true;
  }

  bool EncodeGroup(StreamPart& p, int g) {
    if (setjmp(p.err.jump)) return false;
    JSAMPROW pointers[16];
    const int n = GroupRows(g);
    uint8_t* base = Slot(g) + size_t(p.x) * size_t(bytesPerPixel);
    for (int i = 0; i < n; ++i) pointers[i] = base + size_t(i) * rowBytes;
    if (jpeg_write_scanlines(&p.cinfo, pointers, JDIMENSION(n)) != JDIMENSION(n)) return false;
    // The first MCU of row g began with the marker that ends row g - 1.
    return g == 0 || p.TakeRow(false, Spare());
  }

  bool FinishPart(StreamPart& p) {
    if (setjmp(p.err.jump)) return false;
    jpeg_finish_compress(&p.cinfo);
    return p.TakeRow(true, Spare());
  }

  // Encodes MCU row g on the calling thread and counts what it finished.
  bool Encode(StreamPart& p, int g) {
    const bool ok = EncodeGroup(p, g) && (g + 1 < groups || FinishPart(p));
    std::lock_guard<std::mutex> lock(mutex);
    p.groupsDone = g + 1;
    p.ready = p.taken;
    p.failed = !ok;
    return ok;
  }

  // Compresses the next row of a part taken with `busy` set (setting the part up first if nobody
  // has), and gives it back; wakes whoever waits for it.
  bool Advance(StreamPart& p, int g) {
    const bool ok = (p.started || StartPart(p)) && Encode(p, g);
    Release(p, ok);
    return ok;
  }

  // Gives back a part taken with `busy` set, waking the writer if it waits, and the helper if it
  // waits for this part.
  void Release(StreamPart& p, bool ok) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      p.started = true;
      p.failed = p.failed || !ok;
      p.busy = false;
      wake = writerWaiting || !ok || (encodersWaiting > 0 && &p == parts.back().get());
    }
    if (wake) changed.notify_all();
  }

  // Sets a part up on the calling thread unless another thread has or is doing it.
  void SetUp(StreamPart& p) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (p.busy || p.started) return;
      p.busy = true;
    }
    Release(p, StartPart(p));
  }

  // Compresses the part's rows before `upTo` on the calling thread as far as no other thread is busy
  // with it; false when it failed.
  bool TryAdvance(StreamPart& p, int upTo) {
    for (;;) {
      int g = 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (p.failed) return false;
        if (p.busy || p.groupsDone >= upTo) return true;
        p.busy = true;
        g = p.groupsDone;
      }
      if (!Advance(p, g)) return false;
    }
  }

  // The helper's thread: maps the ring and sets both parts' encoders up while the writer reads the
  // first rows into the ring (so the device does not wait for that), then compresses the second
  // part's rows as they come. It yields to the reading thread and to the device's own (on two cores
  // it would otherwise slow the data it waits for: a scan from SANE's test device took 7 to 15 %
  // longer); when it falls behind, the writer takes rows of its part itself (see CatchUp).
  void Run() {
    errno = 0;
    const int niceness = getpriority(PRIO_PROCESS, 0);  // this thread's, on Linux
    if (errno == 0) setpriority(PRIO_PROCESS, 0, std::min(19, niceness + kHelperNice));
    PrefaultRing();
    for (auto& part : parts) SetUp(*part);
    StreamPart& p = *parts.back();
    for (;;) {
      int g = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        auto ready = [&] {
          return abort || p.failed || (!p.busy && (filled > p.groupsDone || stop || p.groupsDone >= groups));
        };
        if (!ready()) {
          ++encodersWaiting;
          changed.wait(lock, ready);
          --encodersWaiting;
        }
        if (abort || p.failed || filled <= p.groupsDone) return;
        g = p.groupsDone;
        p.busy = true;
      }
      if (!Advance(p, g)) return;
    }
  }

  // The MCU row g is in the ring: the first part is compressed on the writer's thread, like a single
  // pass (once the helper has set it up: until then rows wait in the ring), and the other on its own
  // thread meanwhile (or here too when there are no threads).
  bool Filled(int g) {
    if (threaded) {
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex);
        filled = g + 1;
        // A waiting encoder is woken for a few rows at once: on a page that costs little to compress
        // it would otherwise sleep and wake for every row.
        wake = encodersWaiting > 0 && (filled == groups || filled - parts[1]->groupsDone >= kWakeRows);
      }
      if (wake) changed.notify_all();
      if (!TryAdvance(*parts[0], g + 1)) return false;
    } else if (!Encode(*parts[0], g)) {
      return false;
    }
    WriteReady(groups);
    return !writeFailed;
  }

  // Writes the MCU rows every part has finished, in order, up to `limit` rows: the file grows while
  // the page is still being compressed.
  void WriteReady(int limit) {
    int upTo = std::min(limit, writeLimit);
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& p : parts) upTo = std::min(upTo, p->ready);
    }
    if (upTo <= written || writeFailed || !WriteHead()) return;
    bool ok = true;
    std::vector<std::vector<uint8_t>> done;
    for (; written < upTo && ok; ++written)
      for (auto& p : parts) {
        std::vector<uint8_t>& row = p->rows[size_t(written)];
        ok = ok && PutRow(row);
        row.clear();
        done.push_back(std::move(row));
      }
    writeFailed = !ok;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& row : done) spare.push_back(std::move(row));
  }

  // A row buffer written out before, its memory already in use (fresh memory is dear); else a new one.
  std::vector<uint8_t> Spare() {
    std::lock_guard<std::mutex> lock(mutex);
    if (spare.empty()) return {};
    std::vector<uint8_t> row = std::move(spare.back());
    spare.pop_back();
    return row;
  }

  // The first part's headers stand for the whole image, with the page's width. False when writing
  // failed.
  bool WriteHead() {
    if (headWritten) return !writeFailed;
    headWritten = true;
    StreamPart& first = *parts[0];
    if (first.head.empty()) {  // no row was taken (a page of one MCU row): its encoder has stopped
      size_t data = 0;
      if (!Headers(first.dest.data, first.dest.Written(), sofAt, data)) return !(writeFailed = true);
      first.head.assign(first.dest.data, first.dest.data + data);
    }
    size_t data = 0;
    std::vector<uint8_t>& head = first.head;
    bool ok = Headers(head.data(), head.size(), sofAt, data);
    if (ok) {
      head[sofAt + 7] = uint8_t(width >> 8);
      head[sofAt + 8] = uint8_t(width);
      ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
    }
    writeFailed = !ok;
    return ok;
  }

  // A part's MCU row, after the marker that ends the interval before: its restart markers, numbered
  // in the part's own stream, get their numbers in the whole image's.
  bool PutRow(std::vector<uint8_t>& row) {
    bool ok = true;
    if (intervals > 0) {
      const uint8_t marker[2] = {0xFF, uint8_t(0xD0 + (intervals - 1) % 8)};
      ok = std::fwrite(marker, 1, 2, file) == 2;
    }
    ++intervals;
    uint8_t* d = row.data();
    const size_t size = row.size();
    for (size_t at = 0; at + 1 < size;) {
      auto* ff = static_cast<uint8_t*>(std::memchr(d + at, 0xFF, size - at - 1));
      if (ff == nullptr) break;
      if (ff[1] >= 0xD0 && ff[1] <= 0xD7) ff[1] = uint8_t(0xD0 + (intervals++ - 1) % 8);
      at = size_t(ff - d) + 2;
    }
    return ok && std::fwrite(d, 1, size, file) == size;
  }

  // Takes the next row; false when an encoder or the file failed.
  bool Put(const uint8_t* row) {
    const int g = rows / mcu;
    const int r = rows % mcu;
    if (r == 0 && threaded && g >= kSlots && !SlotFree(g)) return false;
    std::memcpy(Slot(g) + size_t(r) * rowBytes, row, rowBytes);
    ++rows;
    return r + 1 < GroupRows(g) || Filled(g);
  }

  // Waits until the ring slot of MCU row g is free, writing what is ready first; false when an
  // encoder or the file failed.
  bool SlotFree(int g) { return CatchUp(g - kSlots + 1); }

  // Until every part has done `need` MCU rows: the writer compresses rows of a part that is behind
  // and not busy itself, and waits only for a row being compressed (after writing what is ready).
  // False when an encoder or the file failed.
  bool CatchUp(int need) {
    for (bool wrote = false;;) {
      StreamPart* behind = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex);
        for (auto& p : parts) {
          if (p->failed) return false;
          if (p->groupsDone < need && behind == nullptr) behind = p.get();
        }
        if (behind == nullptr) return true;
        if (behind->busy && wrote) {
          writerWaiting = true;
          changed.wait(lock, [&] { return !behind->busy || behind->failed; });
          writerWaiting = false;
          continue;
        }
        if (behind->busy)
          behind = nullptr;  // write what is ready first, then wait
        else
          behind->busy = true;
      }
      if (behind != nullptr) {
        if (!Advance(*behind, behind->groupsDone)) return false;
        wrote = false;
      } else {
        WriteReady(groups);
        if (writeFailed) return false;
        wrote = true;
      }
    }
  }

  void Join() {
    for (auto& p : parts)
      if (p->thread.joinable()) p->thread.join();
  }

  void Abort() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      abort = true;
    }
    changed.notify_all();
    Join();
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    if (made) std::remove(path.c_str());
  }

  // The last MCU row of a page that ended early, `count` rows from `rows`, compressed for each part as
  // an image of its own: libjpeg pads its bottom edge exactly as a single pass of the short page would.
  // The entropy-coded data of each, or an empty list on failure.
  std::vector<std::vector<uint8_t>> Tail(const uint8_t* rows, int count) const {
    std::vector<std::vector<uint8_t>> tails;
    for (const auto& p : parts) {
      PxPage view{};
      view.width = p->width;
      view.height = count;
      view.bitsPerPixel = bytesPerPixel * 8;
      view.stride = int32_t(rowBytes);
      view.pixels = const_cast<uint8_t*>(rows) + size_t(p->x) * size_t(bytesPerPixel);
      view.xDpi = xDpi;
      view.yDpi = yDpi;
      pxfile::Encode e;
      size_t sof = 0, data = 0;
      if (!CompressToMemory(e, &view, quality, 0, count, 0, interval) || !Layout(e.buffer, e.size, sof, data))
        return {};
      tails.emplace_back(e.buffer + data, e.buffer + e.size - 2);
    }
    return tails;
  }
};

JpegStream::JpegStream() = default;

JpegStream::~JpegStream() = default;

int JpegStream::Open(const std::string& path, int32_t width, int32_t height, int bitsPerPixel, int xDpi,
                     int yDpi, int factor) {
  if (m_state) return PX_ERR_PARAMETER;
  if ((bitsPerPixel != 8 && bitsPerPixel != 24) || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION ||
      height > JPEG_MAX_DIMENSION)
    return PX_ERR_PARAMETER;
  auto state = std::make_unique<State>();
  State& s = *state;
  s.path = path;
  s.width = width;
  s.height = height;
  s.bytesPerPixel = bitsPerPixel / 8;
  s.rowBytes = size_t(width) * size_t(s.bytesPerPixel);
  s.mcu = bitsPerPixel == 24 ? 16 : 8;  // libjpeg's defaults: 4:2:0 colour
  s.groups = (height + s.mcu - 1) / s.mcu;
  s.writeLimit = s.groups;
  const int mcusPerRow = (width + s.mcu - 1) / s.mcu;
  // A large page is cut into columns of whole restart intervals (one interval length fits all): two
  // halves when its MCUs per row are even, else the fewest equal columns they divide into (319 MCUs:
  // 11 of 29), the writer's thread taking the left ones, a second thread the others. Narrow intervals
  // would cost a marker every few MCUs, so they are not used.
  int chunks = 1;
  if (ThreadsAllowed() && int64_t(width) * height >= kBandPixels) {
    chunks = mcusPerRow % 2 == 0 ? 2 : 0;
    for (int p = 3; chunks == 0 && p * p <= mcusPerRow; p += 2)
      if (mcusPerRow % p == 0) chunks = p;
    if (chunks == 0 || mcusPerRow / chunks < 8) chunks = 1;
  }
  s.interval = mcusPerRow / chunks;
  s.threaded = chunks > 1;
  const int count = chunks > 1 ? 2 : 1;
  if (s.interval > 65535) return PX_ERR_PARAMETER;  // the largest restart interval
  if (!s.AllocateRing()) return PX_ERR_NO_MEMORY;
  if (!s.OpenFile()) return PX_ERR_WRITE;
  s.quality = JpegQualityFor(factor);
  s.xDpi = xDpi;
  s.yDpi = yDpi;
  const int leftChunks = chunks / 2;
  const int32_t left = leftChunks * s.interval * s.mcu;
  for (int i = 0; i < count; ++i) {
    auto part = std::make_unique<StreamPart>();
    part->x = i == 0 ? 0 : left;
    part->width = count == 1 ? width : i == 0 ? left : width - left;
    part->chunks = count == 1 ? 1 : i == 0 ? leftChunks : chunks - leftChunks;
    s.parts.push_back(std::move(part));
  }
  if (s.threaded) {
    try {
      s.parts[1]->thread = std::thread([&s] { s.Run(); });  // which sets the parts up (see Run)
    } catch (const std::system_error&) {
      return PX_ERR_NO_MEMORY;
    }
  } else {
    s.PrefaultRing();
    if (!s.StartPart(*s.parts[0])) return PX_ERR_NO_MEMORY;  // the state's end removes the file
    s.parts[0]->started = true;
  }
  m_state = std::move(state);
  return PX_OK;
}

int JpegStream::Write(const uint8_t* rows, int32_t count, size_t stride) {
  if (!m_state) return PX_ERR_PARAMETER;
  State& s = *m_state;
  for (int32_t i = 0; i < count && s.rows < s.height; ++i)
    if (!s.Put(rows + size_t(i) * stride)) return s.writeFailed ? PX_ERR_WRITE : PX_ERR_INTERNAL;
  return PX_OK;
}

int JpegStream::Close(bool keep) {
  if (!m_state) return PX_ERR_PARAMETER;
  std::unique_ptr<State> state = std::move(m_state);
  State& s = *state;
  const int32_t received = s.rows;
  if (!keep || received == 0) return keep ? PX_ERR_WRITE : PX_OK;  // the state's end removes the file
  int rowsFromParts = s.groups;
  std::vector<std::vector<uint8_t>> tails;
  if (received < s.height) {
    // The page ended early: its last MCU row is compressed on its own (see Tail). Any rows complete
    // the encoders' MCU row there, which closes the restart interval before it; nothing after is
    // encoded.
    rowsFromParts = (received - 1) / s.mcu;
    s.writeLimit = rowsFromParts;
    const std::vector<uint8_t> last(
        s.Slot(rowsFromParts), s.Slot(rowsFromParts) + size_t(received - rowsFromParts * s.mcu) * s.rowBytes);
    tails = s.Tail(last.data(), received - rowsFromParts * s.mcu);
    if (tails.empty()) return PX_ERR_INTERNAL;
    const int32_t upTo = std::min(s.height, (rowsFromParts + 1) * s.mcu);
    while (s.rows < upTo)
      if (!s.Put(last.data())) return PX_ERR_INTERNAL;
    if (s.rows < s.height) {
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stop = true;
      }
      s.changed.notify_all();
    }
  }
  // The writer takes what the helper has not begun (only the writer changes `filled`); the state's end
  // stops the helper on failure.
  if (s.threaded && !s.CatchUp(s.filled)) return s.writeFailed ? PX_ERR_WRITE : PX_ERR_INTERNAL;
  s.Join();
  for (auto& p : s.parts)
    if (p->failed) return PX_ERR_INTERNAL;
  s.WriteReady(rowsFromParts);
  bool ok = s.WriteHead() && s.written == rowsFromParts;
  for (auto& tail : tails) ok = ok && s.PutRow(tail);
  const uint8_t end[2] = {0xFF, 0xD9};
  ok = ok && std::fwrite(end, 1, 2, s.file) == 2;
  const long length = ok ? std::ftell(s.file) : -1;  // an older file's tail is cut off there
  ok = length > 0;
  if (ok && received < s.height) {
    // The frame header gets the rows that came.
    const uint8_t rowsKept[2] = {uint8_t(received >> 8), uint8_t(received)};
    ok = std::fseek(s.file, long(s.sofAt + 5), SEEK_SET) == 0 && std::fwrite(rowsKept, 1, 2, s.file) == 2;
  }
  ok = std::fflush(s.file) == 0 && !std::ferror(s.file) && ok;
  ok = ok && ftruncate(fileno(s.file), off_t(length)) == 0;
  ok = std::fclose(s.file) == 0 && ok;
  s.file = nullptr;
  s.closed = ok;  // a failed file is removed with the state: no half-written page left behind
  return ok ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
