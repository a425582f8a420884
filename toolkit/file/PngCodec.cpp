// PNG through libpng (see PngCodec.h). W3C PNG 2nd edition: IHDR 11.2.2, pHYs 11.3.5.3.
#include "toolkit/file/PngCodec.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

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
  info->nFileType = 75;
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
