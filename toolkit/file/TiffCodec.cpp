// TIFF through libtiff (see TiffCodec.h).
#include "toolkit/file/TiffCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/file/TiffLzw.h"

namespace pxfile {

namespace {

// libtiff reports through handlers; the file library answers with result codes instead, and keeps
// only whether the decoder met damaged data (libtiff's fax decoders warn and pad the rest of the
// strip with white; a truncated page must fail). PXFILE_TRACE shows every message.
struct Diagnostics {
  bool damaged = false;
};

int Handler(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
  if (std::getenv("PXFILE_TRACE")) {
    va_list copy;
    va_copy(copy, args);
    std::fprintf(stderr, "libtiff %s: ", module ? module : "");
    std::vfprintf(stderr, fmt, copy);
    std::fputc('\n', stderr);
    va_end(copy);
  }
  if (user && fmt &&
      (std::strstr(fmt, "Premature EOF") || std::strstr(fmt, "code word") ||
       std::strstr(fmt, "Line length mismatch") || std::strstr(fmt, "Uncompressed data")))
    static_cast<Diagnostics*>(user)->damaged = true;
  return 1;
}

TIFFOpenOptions* Options(Diagnostics* diagnostics = nullptr) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(PX_MAX_PAGE_BYTES));
  TIFFOpenOptionsSetErrorHandlerExtR(options, Handler, diagnostics);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Handler, diagnostics);
  return options;
}

// A TIFF in a growable memory buffer, for libtiff's client interface.
struct MemoryTiff {
  std::vector<uint8_t> data;
  uint64_t pos = 0;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryTiff*>(h);
  if (n < 0 || m->pos >= m->data.size()) return 0;
  const uint64_t left = m->data.size() - m->pos;
  const uint64_t take = uint64_t(n) < left ? uint64_t(n) : left;
  std::memcpy(buf, m->data.data() + m->pos, size_t(take));
  m->pos += take;
  return tmsize_t(take);
}
tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryTiff*>(h);
  if (n < 0) return -1;
  const uint64_t end = m->pos + uint64_t(n);
  if (end > uint64_t(kMaxFileBytes)) return -1;
  if (end > m->data.size()) m->data.resize(size_t(end));
  std::memcpy(m->data.data() + m->pos, buf, size_t(n));
  m->pos = end;
  return n;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemoryTiff*>(h);
  uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data.size();
  m->pos = base + off;
  return m->pos;
}
int MemClose(thandle_t) {
  return 0;
}
toff_t MemSize(thandle_t h) {
  return static_cast<MemoryTiff*>(h)->data.size();
}
int MemMap(thandle_t, void**, toff_t*) {
  return 0;
}
void MemUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenMemory(MemoryTiff& m, const char* mode, Diagnostics* diagnostics = nullptr) {
  TIFFOpenOptions* options = Options(diagnostics);
  TIFF* tif = TIFFClientOpenExt("memory", mode, &m, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap,
                                MemUnmap, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

TIFF* OpenFile(const std::string& path, const char* mode, Diagnostics* diagnostics = nullptr) {
  TIFFOpenOptions* options = Options(diagnostics);
  TIFF* tif = TIFFOpenExt(path.c_str(), mode, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

struct TiffCloser {
  TIFF* tif;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

void DirectoryResolution(TIFF* tif, int& x, int& y) {
  float fx = 0, fy = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  x = y = 0;
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &fx) != 1 || !std::isfinite(fx)) fx = 0;
  if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &fy) != 1 || !std::isfinite(fy)) fy = fx;
  if (unit == RESUNIT_CENTIMETER) fx *= 2.54f, fy *= 2.54f;
  if (unit == RESUNIT_NONE) fx = fy = 0;
  if (fx > 0 && fx <= PX_MAX_DPI) x = int(std::lround(fx));
  if (fy > 0 && fy <= PX_MAX_DPI) y = int(std::lround(fy));
}

struct Layout {
  uint32_t width = 0, height = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
  int depth = 1;        // depth the page loads at
  bool direct = false;  // rows read as they are (bilevel, grey or RGB, 8 bits or less, strips)
};

int ReadLayout(TIFF* tif, Layout& l) {
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height))
    return PX_ERR_CORRUPT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
    l.photometric = l.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR && l.spp == 3 && l.bps == 8) {
    // libjpeg converts to RGB itself, far cheaper than libtiff's RGBA reader.
    if (TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) l.photometric = PHOTOMETRIC_RGB;
  }
  const bool grey = l.photometric == PHOTOMETRIC_MINISWHITE || l.photometric == PHOTOMETRIC_MINISBLACK;
  if (grey && l.bps == 1 && l.spp == 1)
    l.depth = 1;
  else if (grey)
    l.depth = 8;
  else
    l.depth = 24;
  // Rows that are already in the page's layout are read as they are; everything else (palette, 16
  // bits, YCbCr, CMYK, tiles, separate planes) goes through libtiff's RGBA reader.
  const bool rgb8 =
      l.photometric == PHOTOMETRIC_RGB && l.spp == 3 && l.bps == 8 && l.planar == PLANARCONFIG_CONTIG;
  l.direct = ((grey && l.spp == 1 && (l.bps == 1 || l.bps == 8)) || rgb8) && !TIFFIsTiled(tif);
  return CheckPageSize(l.width, l.height);
}

// Copies rows in the file's layout into the page (min-is-white grey and bilevel inverted), undoing
// the horizontal predictor on the way when `predictorSpp` is set, and clears each row's padding (the
// page comes unfilled).
void StoreRows(const Layout& l, const uint8_t* src, tmsize_t srcStride, int32_t need, uint32_t first,
               uint32_t count, int predictorSpp, PxPage* page) {
  const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
  for (uint32_t r = 0; r < count; ++r, src += srcStride) {
    uint8_t* dst = PxPageRow(page, int32_t(first + r));
    if (predictorSpp > 0)
      TiffUndoPredictor8(src, dst, size_t(need), predictorSpp);
    else
      std::memcpy(dst, src, size_t(need));
    if (invert)
      for (int32_t i = 0; i < need; ++i) dst[i] = uint8_t(~dst[i]);
    std::memset(dst + need, 0, size_t(page->stride - need));
  }
}

// 8-bit rows with the horizontal predictor: libtiff is told to leave the predictor in place, and it
// is undone while the rows are copied, one pass over the page instead of two. Returns the samples
// per pixel to undo it with, or 0 when libtiff keeps doing it.
int TakeOverPredictor(TIFF* tif, const Layout& l) {
  uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_LZW && compression != COMPRESSION_ADOBE_DEFLATE &&
      compression != COMPRESSION_DEFLATE)
    return 0;
  if (TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor) != 1 || predictor != PREDICTOR_HORIZONTAL ||
      l.bps != 8)
    return 0;
  return TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_NONE) == 1 ? l.spp : 0;
}

// One strip's samples, as libtiff's TIFFReadEncodedStrip gives them. LZW strips go through the
// toolkit's own decoder (three times faster than libtiff's); any strip it refuses is read by libtiff,
// which then reports damage as it always did.
class StripReader {
 public:
  explicit StripReader(TIFF* tif) : m_tif(tif) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    m_lzw = compression == COMPRESSION_LZW && TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &m_byteCounts) == 1;
  }
  bool Read(uint32_t strip, uint8_t* out, tmsize_t bytes) {
    if (m_lzw && strip < TIFFNumberOfStrips(m_tif)) {
      // Every code gives at least one byte, so more raw data than this is not a strip of this size.
      const uint64_t raw = m_byteCounts[strip];
      if (raw > 0 && raw <= uint64_t(bytes) * 2 + 4096) {
        if (m_raw.size() < raw) m_raw.resize(size_t(raw));
        if (TIFFReadRawStrip(m_tif, strip, m_raw.data(), tmsize_t(raw)) == tmsize_t(raw) &&
            TiffLzwDecode(m_raw.data(), size_t(raw), out, size_t(bytes)))
          return true;
      }
    }
    return TIFFReadEncodedStrip(m_tif, strip, out, bytes) >= bytes;
  }

 private:
  TIFF* m_tif;
  bool m_lzw = false;
  uint64_t* m_byteCounts = nullptr;
  std::vector<uint8_t> m_raw;
};

// Largest strip decoded in one piece. Whole strips let libtiff hand Deflate data to libdeflate
// (several times faster than zlib's streaming inflate) and skip per-row codec calls; a file made of
// one huge strip is read row by row instead, so memory stays about one page.
constexpr tmsize_t kMaxStripBytes = 16 << 20;

int LoadDirect(TIFF* tif, const Layout& l, PxPage* page) {
  const tmsize_t scan = TIFFScanlineSize(tif);
  const int32_t need = l.bps == 1 ? (int32_t(l.width) + 7) / 8 : int32_t(l.width) * l.spp;
  if (scan < need) return PX_ERR_CORRUPT;
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::min(std::max<uint32_t>(rowsPerStrip, 1), l.height);
  const tmsize_t stripBytes = TIFFStripSize(tif);
  const uint32_t strips = (l.height - 1) / rowsPerStrip + 1;
  if (stripBytes > 0 && stripBytes <= kMaxStripBytes && stripBytes >= tmsize_t(rowsPerStrip) * scan &&
      TIFFNumberOfStrips(tif) >= strips) {
    std::vector<uint8_t> strip(static_cast<size_t>(stripBytes));
    const int predictor = TakeOverPredictor(tif, l);
    StripReader reader(tif);
    for (uint32_t s = 0; s < strips; ++s) {
      const uint32_t first = s * rowsPerStrip;
      const uint32_t rows = std::min(rowsPerStrip, l.height - first);
      if (!reader.Read(s, strip.data(), tmsize_t(rows) * scan)) return PX_ERR_CORRUPT;
      StoreRows(l, strip.data(), scan, need, first, rows, predictor, page);
    }
    return PX_OK;
  }
  std::vector<uint8_t> row(static_cast<size_t>(scan));
  for (uint32_t y = 0; y < l.height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) < 0) return PX_ERR_CORRUPT;
    StoreRows(l, row.data(), scan, need, y, 1, 0, page);
  }
  return PX_OK;
}

int LoadRgba(TIFF* tif, const Layout& l, PxPage* page) {
  char message[1024];
  if (!TIFFRGBAImageOK(tif, message)) return PX_ERR_UNSUPPORTED;
  TIFFRGBAImage image;
  if (!TIFFRGBAImageBegin(&image, tif, 0, message)) return PX_ERR_UNSUPPORTED;
  image.req_orientation = ORIENTATION_TOPLEFT;
  std::vector<uint32_t> raster;
  try {
    raster.resize(size_t(l.width) * l.height);
  } catch (...) {
    TIFFRGBAImageEnd(&image);
    return PX_ERR_NO_MEMORY;
  }
  const int ok = TIFFRGBAImageGet(&image, raster.data(), l.width, l.height);
  // libtiff hands colour with alpha premultiplied (it multiplies unassociated alpha itself), but
  // grey with alpha as the file has it: premultiplied only when the file's alpha is associated.
  const bool grey = l.photometric == PHOTOMETRIC_MINISWHITE || l.photometric == PHOTOMETRIC_MINISBLACK;
  const bool premultiplied =
      image.alpha == EXTRASAMPLE_ASSOCALPHA || (image.alpha == EXTRASAMPLE_UNASSALPHA && !grey);
  TIFFRGBAImageEnd(&image);
  if (!ok) return PX_ERR_CORRUPT;
  for (uint32_t y = 0; y < l.height; ++y) {
    uint8_t* dst = PxPageRow(page, int32_t(y));
    const uint32_t* src = raster.data() + size_t(y) * l.width;
    for (uint32_t x = 0; x < l.width; ++x) {
      const uint32_t p = src[x];
      // Composite alpha onto white, as a page would be printed; once.
      const uint32_t a = TIFFGetA(p);
      const auto over = [a, premultiplied](uint32_t c) {
        return premultiplied ? std::min<uint32_t>(255, c + 255 - a) : (c * a + 255 * (255 - a) + 127) / 255;
      };
      const uint32_t r = over(TIFFGetR(p));
      const uint32_t g = over(TIFFGetG(p));
      const uint32_t b = over(TIFFGetB(p));
      if (page->bitsPerPixel == 24) {
        dst[x * 3] = uint8_t(r), dst[x * 3 + 1] = uint8_t(g), dst[x * 3 + 2] = uint8_t(b);
      } else if (page->bitsPerPixel == 8) {
        dst[x] = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
      } else {
        SetBit(dst, int(x), g >= 128);
      }
    }
  }
  return PX_OK;
}

// 16-bit CMYK, which libtiff's RGBA reader refuses: strips, contiguous or in planes, each ink taken
// at full precision (R = (1 - C)(1 - K), likewise G with M and B with Y) and rounded once to 8 bits.
int LoadCmyk16(TIFF* tif, const Layout& l, PxPage* page) {
  if (TIFFIsTiled(tif)) return PX_ERR_UNSUPPORTED;
  const bool planes = l.planar == PLANARCONFIG_SEPARATE;
  const tmsize_t scan = TIFFScanlineSize(tif);
  const tmsize_t need = tmsize_t(l.width) * 2 * (planes ? 1 : l.spp);
  if (scan < need) return PX_ERR_CORRUPT;
  std::vector<uint16_t> row[4];
  for (int s = 0; s < (planes ? 4 : 1); ++s) row[s].resize(size_t(scan + 1) / 2);
  for (uint32_t y = 0; y < l.height; ++y) {
    for (int s = 0; s < (planes ? 4 : 1); ++s)
      if (TIFFReadScanline(tif, row[s].data(), y, uint16_t(s)) < 0) return PX_ERR_CORRUPT;
    uint8_t* dst = PxPageRow(page, int32_t(y));
    for (uint32_t x = 0; x < l.width; ++x) {
      const auto ink = [&](int s) -> double {
        return planes ? row[s][x] / 65535.0 : row[0][size_t(x) * l.spp + size_t(s)] / 65535.0;
      };
      const double white = 1.0 - ink(3);
      for (int c = 0; c < 3; ++c) dst[x * 3 + c] = uint8_t(std::lround(255.0 * (1.0 - ink(c)) * white));
    }
  }
  return PX_OK;
}

int LoadCurrent(TIFF* tif, PxPage** out) {
  Layout l;
  int result = ReadLayout(tif, l);
  if (result != PX_OK) return result;
  int x = 0, y = 0;
  DirectoryResolution(tif, x, y);
  PageHolder page(NewPage(int32_t(l.width), int32_t(l.height), l.depth, x, y, /*filled=*/!l.direct));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  uint16_t inks = INKSET_CMYK;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
  const bool cmyk16 =
      l.photometric == PHOTOMETRIC_SEPARATED && l.bps == 16 && l.spp >= 4 && inks == INKSET_CMYK;
  result = l.direct ? LoadDirect(tif, l, page.get())
           : cmyk16 ? LoadCmyk16(tif, l, page.get())
                    : LoadRgba(tif, l, page.get());
  if (result != PX_OK) return result;
  *out = page.release();
  return PX_OK;
}

int CountPages(TIFF* tif) {
  int pages = 1;
  while (TIFFReadDirectory(tif)) {
    if (++pages >= PX_MAX_PAGES) break;
  }
  return pages;
}

int WriteDirectory(TIFF* tif, const PxPage* page, bool compressed) {
  const int bpp = page->bitsPerPixel;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page->width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page->height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bpp == 1 ? 1 : 8));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bpp == 24 ? 3 : 1));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  // Bilevel pages are written min-is-white, what fax readers expect of Group 4.
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
               bpp == 1   ? PHOTOMETRIC_MINISWHITE
               : bpp == 8 ? PHOTOMETRIC_MINISBLACK
                          : PHOTOMETRIC_RGB);
  uint16_t compression = COMPRESSION_NONE;
  if (compressed) compression = bpp == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE;
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  // Strips of about 256 KB: libtiff's 8 KB default means one zlib stream per row of a colour page,
  // which costs more than the compression. Group 4 pages are one strip (as PDF embeds them).
  const uint64_t stripRowBytes =
      bpp == 1 ? uint64_t(page->width + 7) / 8 : uint64_t(page->width) * uint64_t(bpp / 8);
  const uint32_t rowsPerStrip =
      compression == COMPRESSION_CCITTFAX4
          ? uint32_t(page->height)
          : uint32_t(std::max<uint64_t>(1, std::min<uint64_t>(page->height, 262144 / stripRowBytes)));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  if (page->xDpi > 0 && page->yDpi > 0) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(page->xDpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(page->yDpi));
  }
  const size_t bytes = bpp == 1 ? size_t(page->width + 7) / 8 : size_t(page->width) * size_t(bpp / 8);
  std::vector<uint8_t> row(bytes);
  for (int32_t y = 0; y < page->height; ++y) {
    std::memcpy(row.data(), PxPageRow(page, y), bytes);
    if (bpp == 1)
      for (uint8_t& b : row) b = uint8_t(~b);
    if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) < 0) return PX_ERR_WRITE;
  }
  return TIFFWriteDirectory(tif) ? PX_OK : PX_ERR_WRITE;
}

// Where an appended page changes the file: its old end, and the last directory's link to the next
// (0 there), which libtiff points at the new directory.
struct AppendPoint {
  off_t size = -1;
  off_t link = -1;  // -1: unknown (not a classic TIFF the walk understands); only the size is restored
};

AppendPoint FindAppendPoint(int fd) {
  AppendPoint point;
  struct stat st {};
  if (fstat(fd, &st) != 0) return point;
  point.size = st.st_size;
  uint8_t header[8];
  if (::pread(fd, header, sizeof header, 0) != 8) return point;
  const bool little = header[0] == 'I' && header[1] == 'I';
  if (!little && !(header[0] == 'M' && header[1] == 'M')) return point;
  auto u16 = [little](const uint8_t* b) { return little ? b[0] | b[1] << 8 : b[0] << 8 | b[1]; };
  auto u32 = [little](const uint8_t* b) {
    return little ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
                  : uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
  };
  if (u16(header + 2) != 42) return point;  // BigTIFF: size only
  off_t link = 4;
  uint32_t next = u32(header + 4);
  // A chain longer than the file could hold is a loop.
  for (off_t steps = 0; next != 0 && steps < st.st_size / 2; ++steps) {
    uint8_t count[2];
    if (off_t(next) + 2 > st.st_size || ::pread(fd, count, 2, next) != 2) return point;
    link = off_t(next) + 2 + 12 * off_t(u16(count));
    uint8_t value[4];
    if (link + 4 > st.st_size || ::pread(fd, value, 4, link) != 4) return point;
    next = u32(value);
  }
  if (next == 0) point.link = link;
  return point;
}

bool CutBack(int fd, const AppendPoint& point) {
  if (point.size < 0 || ::ftruncate(fd, point.size) != 0) return false;
  static const uint8_t zero[4] = {0, 0, 0, 0};
  return point.link < 0 || (::pwrite(fd, zero, 4, point.link) == 4 && ::fsync(fd) == 0);
}

}  // namespace

int TiffInfo(const std::string& path, PxFileInfo* info) {
  TiffCloser tc{OpenFile(path, "r")};
  if (!tc.tif) return PX_ERR_CORRUPT;
  Layout l;
  const int result = ReadLayout(tc.tif, l);
  if (result != PX_OK && result != PX_ERR_TOO_LARGE) return result;
  info->nWidth = int32_t(l.width);
  info->nHeight = int32_t(l.height);
  info->nBitsPerPixel = l.depth;
  DirectoryResolution(tc.tif, info->nXDpi, info->nYDpi);
  info->nPages = CountPages(tc.tif);
  return PX_OK;
}

int TiffLoad(const std::string& path, int page, PxPage** out) {
  Diagnostics diagnostics;
  TiffCloser tc{OpenFile(path, "r", &diagnostics)};
  if (!tc.tif) return PX_ERR_CORRUPT;
  for (int i = 1; i < page; ++i)
    if (!TIFFReadDirectory(tc.tif)) return PX_ERR_PAGE;
  diagnostics.damaged = false;
  PxPage* loaded = nullptr;
  const int result = LoadCurrent(tc.tif, &loaded);
  if (result == PX_OK && diagnostics.damaged) {
    PxPageFree(loaded);
    return PX_ERR_CORRUPT;
  }
  *out = loaded;
  return result;
}

int TiffSave(const PxPage* page, const std::string& path, bool compressed, bool append) {
  // Opened by the file library's own rules (never through a link, the user's regular file only).
  const int fd = OpenForWriting(path, O_RDWR, !append);
  const AppendPoint point = append && fd >= 0 ? FindAppendPoint(fd) : AppendPoint{};
  const int kept = append && fd >= 0 ? ::dup(fd) : -1;  // libtiff closes fd; the cut-back needs it
  TIFFOpenOptions* options = fd >= 0 ? Options() : nullptr;
  TiffCloser tc{fd >= 0 ? TIFFFdOpenExt(fd, path.c_str(), append ? "a" : "w", options) : nullptr};
  if (options) TIFFOpenOptionsFree(options);
  if (!tc.tif) {
    if (fd >= 0) ::close(fd);
    if (kept >= 0) ::close(kept);
    return append ? PX_ERR_APPEND : PX_ERR_WRITE;
  }
  int result = WriteDirectory(tc.tif, page, compressed);
  TIFFClose(tc.tif);
  tc.tif = nullptr;
  if (result != PX_OK && !append) ::unlink(path.c_str());  // no half-written page left behind
  // A failed append (a full disk) leaves the file as it was: the pages before it are the user's.
  if (result != PX_OK && kept >= 0 && !CutBack(kept, point)) result = PX_ERR_APPEND;
  if (kept >= 0) ::close(kept);
  return result;
}

int EncodeG4(const PxPage* page, std::vector<uint8_t>& out) {
  if (page->bitsPerPixel != 1) return PX_ERR_PARAMETER;
  MemoryTiff m;
  {
    TiffCloser tc{OpenMemory(m, "w")};
    if (!tc.tif) return PX_ERR_INTERNAL;
    if (WriteDirectory(tc.tif, page, true) != PX_OK) return PX_ERR_INTERNAL;
  }
  m.pos = 0;
  TiffCloser tc{OpenMemory(m, "r")};
  if (!tc.tif) return PX_ERR_INTERNAL;
  uint64_t* counts = nullptr;
  if (!TIFFGetField(tc.tif, TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts) return PX_ERR_INTERNAL;
  out.resize(size_t(counts[0]));
  if (TIFFReadRawStrip(tc.tif, 0, out.data(), tmsize_t(out.size())) != tmsize_t(out.size()))
    return PX_ERR_INTERNAL;
  return PX_OK;
}

int DecodeFax(const uint8_t* data, size_t size, int width, int height, int flags, int xDpi, int yDpi,
              PxPage** out) {
  if (width <= 0 || width > PX_MAX_DIMENSION || height < 0) return PX_ERR_PARAMETER;
  if (size == 0) return PX_ERR_CORRUPT;
  const bool heightGiven = height != 0;
  if (!heightGiven) {
    // Unknown length: at most one row per bit of data, within the pixel budget.
    int64_t rows = PixelLimit() / width;
    if (rows > PX_MAX_DIMENSION) rows = PX_MAX_DIMENSION;
    if (int64_t(size) * 8 < rows) rows = int64_t(size) * 8;
    height = int(rows);
  }
  int result = CheckPageSize(width, height);
  if (result != PX_OK) return result;
  // Group 3 one-dimensional data is read as TIFF's CCITT Group 3 when it carries EOL codes, and
  // as Modified Huffman (TIFF compression 2, byte-aligned rows) when it does not.
  uint16_t compression = COMPRESSION_CCITTFAX3;
  uint32_t g3options = 0;
  if (flags & PX_FAX_G4) {
    compression = COMPRESSION_CCITTFAX4;
  } else if (flags & PX_FAX_G3_2D) {
    g3options = GROUP3OPT_2DENCODING;
  } else {
    // EOL-coded data starts with an EOL: eleven or more 0 bits (fill included) before the first 1.
    // A Modified Huffman row starts with a white run code, which has at most seven leading zeros
    // (T.4 tables 1 to 3).
    int zeros = 0;
    for (size_t i = 0; i < size && i < 16 && zeros == int(i) * 8; ++i)
      for (int b = 7; b >= 0; --b) {
        const int bit = (flags & PX_FAX_LSB_FIRST) ? (data[i] >> (7 - b)) & 1 : (data[i] >> b) & 1;
        if (bit) break;
        ++zeros;
      }
    const bool eol = zeros >= 11;
    if (!eol) compression = COMPRESSION_CCITTRLE;
  }
  MemoryTiff m;
  {
    TiffCloser tc{OpenMemory(m, "w")};
    if (!tc.tif) return PX_ERR_INTERNAL;
    TIFF* t = tc.tif;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(1));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, g3options);
    TIFFSetField(t, TIFFTAG_FILLORDER, (flags & PX_FAX_LSB_FIRST) ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(height));
    if (TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(data), tmsize_t(size)) < 0) return PX_ERR_INTERNAL;
    if (!TIFFWriteDirectory(t)) return PX_ERR_INTERNAL;
  }
  m.pos = 0;
  Diagnostics diagnostics;
  TiffCloser tc{OpenMemory(m, "r", &diagnostics)};
  if (!tc.tif) return PX_ERR_CORRUPT;
  PageHolder page(NewPage(width, height, 1, xDpi, yDpi));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  // A strip that ends early leaves the decoder failing on the rest: keep the rows it produced when
  // the length was unknown, fail when the caller gave one.
  const size_t rowBytes = size_t(width + 7) / 8;
  std::vector<uint8_t> row(size_t(TIFFScanlineSize(tc.tif)) + 1);
  const bool invert = !(flags & PX_FAX_BLACK_IS_1);
  int rows = 0;
  for (int y = 0; y < height; ++y) {
    if (TIFFReadScanline(tc.tif, row.data(), uint32_t(y), 0) < 0 || diagnostics.damaged) break;
    uint8_t* dst = PxPageRow(page.get(), y);
    std::memcpy(dst, row.data(), rowBytes);
    if (invert)
      for (size_t i = 0; i < rowBytes; ++i) dst[i] = uint8_t(~dst[i]);
    rows = y + 1;
  }
  if (rows == 0) return PX_ERR_CORRUPT;
  if (rows < height) {
    // Height given (the wrapped fax records carry it): a short page is damaged data.
    if (heightGiven) return PX_ERR_CORRUPT;
    page->height = rows;
  }
  *out = page.release();
  return PX_OK;
}

}  // namespace pxfile
