// PNG through libpng (see PngCodec.h). W3C PNG 2nd edition: IHDR 11.2.2, pHYs 11.3.5.3.
#include "toolkit/file/PngCodec.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pxfile {

namespace {

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Depth and resolution straight from the chunks (the simplified reader does not report them).
struct Chunks {
  int bitDepth = 0, colourType = 0;
  int xDpi = 0, yDpi = 0;
};

int ScanChunks(const uint8_t* data, size_t size, Chunks& c) {
  if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) return PX_ERR_CORRUPT;
  c.bitDepth = data[24];
  c.colourType = data[25];
  size_t pos = 8;
  while (pos + 12 <= size) {
    const uint32_t length = Be32(data + pos);
    if (length > size - pos - 12) break;
    const uint8_t* type = data + pos + 4;
    if (std::memcmp(type, "pHYs", 4) == 0 && length == 9 && data[pos + 16] == 1) {
      const double x = Be32(data + pos + 8) * 0.0254, y = Be32(data + pos + 12) * 0.0254;
      if (x > 0 && x <= PX_MAX_DPI) c.xDpi = int(std::lround(x));
      if (y > 0 && y <= PX_MAX_DPI) c.yDpi = int(std::lround(y));
    }
    if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) break;
    pos += size_t(length) + 12;
  }
  return PX_OK;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (24 - 8 * i)));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* body, size_t length) {
  PutBe32(out, uint32_t(length));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body, body + length);
  PutBe32(out, uint32_t(crc32(0, out.data() + at, uInt(length + 4))));
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// libpng's simplified reader puts the rows of 16-bit interlaced images in the wrong places (8-bit ones
// are right), so such a file is rebuilt without interlacing first: the seven passes are unfiltered
// and put together here, and every other chunk is kept as it was, so the colour handling is the one
// every other PNG gets.
int Deinterlace16(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  const uint32_t width = Be32(data + 16), height = Be32(data + 20);
  const int colourType = data[25];
  const int channels = colourType == 0   ? 1
                       : colourType == 2 ? 3
                       : colourType == 4 ? 2
                       : colourType == 6 ? 4
                                         : 0;
  if (channels == 0 || data[24] != 16) return PX_ERR_CORRUPT;
  int result = CheckPageSize(width, height);
  if (result != PX_OK) return result;
  const size_t bpp = size_t(channels) * 2, stride = size_t(width) * bpp;
  static const uint32_t kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
  static const uint32_t kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
  size_t expected = 0;
  for (int p = 0; p < 7; ++p) {
    const uint64_t w = width > kX0[p] ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
    const uint64_t h = height > kY0[p] ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
    if (w > 0) expected += size_t(h * (1 + w * bpp));
  }
  std::vector<uint8_t> passes(expected), image(stride * height), raw;
  // The compressed data, inflated across the IDAT chunks.
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return PX_ERR_NO_MEMORY;
  z.next_out = passes.data();
  z.avail_out = uInt(expected);
  std::vector<std::pair<size_t, size_t>> kept;  // chunks other than IHDR, IDAT and IEND
  size_t firstIdat = 0;
  int zresult = Z_OK;
  for (size_t pos = 8; pos + 12 <= size;) {
    const uint32_t length = Be32(data + pos);
    if (length > size - pos - 12) break;
    const uint8_t* type = data + pos + 4;
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      if (firstIdat == 0) firstIdat = kept.size() + 1;
      if (zresult == Z_OK && length > 0) {
        z.next_in = const_cast<uint8_t*>(data + pos + 8);
        z.avail_in = length;
        while (zresult == Z_OK && z.avail_in > 0 && z.avail_out > 0) zresult = inflate(&z, Z_NO_FLUSH);
      }
    } else if (std::memcmp(type, "IHDR", 4) != 0) {
      kept.emplace_back(pos, size_t(length) + 12);
    }
    pos += size_t(length) + 12;
  }
  const bool complete = z.avail_out == 0;
  inflateEnd(&z);
  if (!complete || firstIdat == 0) return PX_ERR_CORRUPT;

  const uint8_t* in = passes.data();
  std::vector<uint8_t> prev, cur;
  for (int p = 0; p < 7; ++p) {
    const uint32_t w = width > kX0[p] ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
    const uint32_t h = height > kY0[p] ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
    if (w == 0 || h == 0) continue;
    const size_t rowBytes = size_t(w) * bpp;
    prev.assign(rowBytes, 0);
    cur.resize(rowBytes);
    for (uint32_t r = 0; r < h; ++r, in += 1 + rowBytes) {
      const uint8_t filter = in[0];
      const uint8_t* f = in + 1;
      for (size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
        switch (filter) {
          case 0:
            cur[i] = f[i];
            break;
          case 1:
            cur[i] = uint8_t(f[i] + a);
            break;
          case 2:
            cur[i] = uint8_t(f[i] + b);
            break;
          case 3:
            cur[i] = uint8_t(f[i] + (a + b) / 2);
            break;
          case 4:
            cur[i] = uint8_t(f[i] + Paeth(a, b, c));
            break;
          default:
            return PX_ERR_CORRUPT;
        }
      }
      uint8_t* dst = image.data() + size_t(kY0[p] + r * kDy[p]) * stride;
      for (uint32_t x = 0; x < w; ++x)
        std::memcpy(dst + size_t(kX0[p] + x * kDx[p]) * bpp, cur.data() + size_t(x) * bpp, bpp);
      prev.swap(cur);
      cur.resize(rowBytes);
    }
  }
  raw.reserve(size_t(height) * (stride + 1));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), image.begin() + ptrdiff_t(y * stride), image.begin() + ptrdiff_t((y + 1) * stride));
  }
  std::vector<uint8_t>().swap(image);
  std::vector<uint8_t> packed(compressBound(uLong(raw.size())));
  uLongf packedLength = uLongf(packed.size());
  if (compress2(packed.data(), &packedLength, raw.data(), uLong(raw.size()), 1) != Z_OK)
    return PX_ERR_NO_MEMORY;

  out.assign(data, data + 8);
  uint8_t ihdr[13];
  std::memcpy(ihdr, data + 16, 13);
  ihdr[12] = 0;  // no interlacing
  PutChunk(out, "IHDR", ihdr, 13);
  for (size_t k = 0; k <= kept.size(); ++k) {
    if (k + 1 == firstIdat) PutChunk(out, "IDAT", packed.data(), packedLength);
    if (k < kept.size()) out.insert(out.end(), data + kept[k].first, data + kept[k].first + kept[k].second);
  }
  PutChunk(out, "IEND", nullptr, 0);
  return PX_OK;
}

int DepthOf(const Chunks& c) {
  if (c.colourType == 0 && c.bitDepth == 1) return 1;
  if (c.colourType == 0 || c.colourType == 4) return 8;
  return 24;
}

}  // namespace

int PngInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return PX_ERR_CORRUPT;
  Chunks c;
  int result = ScanChunks(data, size, c);
  info->nWidth = int32_t(image.width);
  info->nHeight = int32_t(image.height);
  png_image_free(&image);
  if (result != PX_OK) return result;
  info->nBitsPerPixel = DepthOf(c);
  info->nPages = 1;
  info->nXDpi = c.xDpi;
  info->nYDpi = c.yDpi;
  return PX_OK;
}

int PngLoad(const uint8_t* data, size_t size, PxPage** out) {
  Chunks c;
  int result = ScanChunks(data, size, c);
  if (result != PX_OK) return result;
  std::vector<uint8_t> rebuilt;
  if (c.bitDepth == 16 && data[28] == 1) {
    try {
      result = Deinterlace16(data, size, rebuilt);
    } catch (const std::bad_alloc&) {
      result = PX_ERR_NO_MEMORY;
    }
    if (result != PX_OK) return result;
    data = rebuilt.data();
    size = rebuilt.size();
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return PX_ERR_CORRUPT;
  result = CheckPageSize(image.width, image.height);
  if (result != PX_OK) {
    png_image_free(&image);
    return result;
  }
  const int depth = DepthOf(c);
  image.format = depth == 24 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(PNG_IMAGE_SIZE(image));
  } catch (...) {
    png_image_free(&image);
    return PX_ERR_NO_MEMORY;
  }
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, buffer.data(), 0, nullptr)) {
    png_image_free(&image);
    return PX_ERR_CORRUPT;
  }
  PageHolder page(NewPage(int32_t(image.width), int32_t(image.height), depth, c.xDpi, c.yDpi));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  const size_t rowBytes = PNG_IMAGE_ROW_STRIDE(image);
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* src = buffer.data() + y * rowBytes;
    uint8_t* dst = PxPageRow(page.get(), int32_t(y));
    if (depth == 1) {
      for (uint32_t x = 0; x < image.width; ++x) SetBit(dst, int(x), src[x] >= 128);
    } else {
      std::memcpy(dst, src, rowBytes);
    }
  }
  *out = page.release();
  return PX_OK;
}

namespace {

struct Writer {
  FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string path;
  bool done = false;
  ~Writer() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file) std::fclose(file);
    if (!done && !path.empty()) ::unlink(path.c_str());  // no half-written page left behind
  }
};

void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

int PngSave(const PxPage* page, const std::string& path, int level) {
  Writer w;
  const int fd = OpenForWriting(path, O_WRONLY, true);
  w.file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!w.file) {
    if (fd >= 0) ::close(fd);
    return PX_ERR_WRITE;
  }
  w.path = path;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!w.png) return PX_ERR_NO_MEMORY;
  w.info = png_create_info_struct(w.png);
  if (!w.info) return PX_ERR_NO_MEMORY;
  if (setjmp(png_jmpbuf(w.png))) return PX_ERR_WRITE;
  png_init_io(w.png, w.file);
  png_set_compression_level(w.png, (level >= 1 && level <= 9) ? level : 6);
  const int bpp = page->bitsPerPixel;
  png_set_IHDR(w.png, w.info, png_uint_32(page->width), png_uint_32(page->height), bpp == 1 ? 1 : 8,
               bpp == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (page->xDpi > 0 && page->yDpi > 0)
    png_set_pHYs(w.png, w.info, png_uint_32(std::lround(page->xDpi / 0.0254)),
                 png_uint_32(std::lround(page->yDpi / 0.0254)), PNG_RESOLUTION_METER);
  png_write_info(w.png, w.info);
  for (int32_t y = 0; y < page->height; ++y) png_write_row(w.png, PxPageRow(page, y));
  png_write_end(w.png, w.info);
  png_destroy_write_struct(&w.png, &w.info);
  w.png = nullptr;
  const bool ok = std::fflush(w.file) == 0 && !std::ferror(w.file);
  const bool closed = std::fclose(w.file) == 0;
  w.file = nullptr;
  w.done = ok && closed;
  return ok && closed ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
