// Windows BMP (see BmpCodec.h): BITMAPFILEHEADER, BITMAPINFOHEADER and its later versions.
#include "toolkit/file/BmpCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pxfile {

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}

constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;

struct Header {
  int64_t width = 0, height = 0;
  bool topDown = false;
  int bpp = 0;
  uint32_t compression = 0;
  uint32_t dataOffset = 0;
  uint32_t masks[3] = {0, 0, 0};
  std::vector<uint8_t> palette;  // RGB triples
  int xDpi = 0, yDpi = 0;
  int depth = 24;  // depth the page loads at
};

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
  if (size < 26 || d[0] != 'B' || d[1] != 'M') return PX_ERR_FORMAT;
  h.dataOffset = Le32(d + 10);
  const uint32_t infoSize = Le32(d + 14);
  if (infoSize < 12 || infoSize > size - 14) return PX_ERR_CORRUPT;
  int paletteEntry = 4;
  if (infoSize == 12) {
    h.width = Le16(d + 18);
    h.height = int16_t(Le16(d + 20));
    h.bpp = Le16(d + 24);
    paletteEntry = 3;
  } else {
    if (infoSize < 40) return PX_ERR_CORRUPT;
    h.width = int32_t(Le32(d + 18));
    h.height = int32_t(Le32(d + 22));
    h.bpp = Le16(d + 28);
    h.compression = Le32(d + 30);
    const double ppm[2] = {double(int32_t(Le32(d + 38))), double(int32_t(Le32(d + 42)))};
    if (ppm[0] > 0 && ppm[0] * 0.0254 <= PX_MAX_DPI) h.xDpi = int(std::lround(ppm[0] * 0.0254));
    if (ppm[1] > 0 && ppm[1] * 0.0254 <= PX_MAX_DPI) h.yDpi = int(std::lround(ppm[1] * 0.0254));
  }
  if (h.height < 0) {
    h.topDown = true;
    h.height = -h.height;
  }
  if (h.compression == kRle8 || h.compression == kRle4) {
    // Run-length data is bottom-up and needs the matching depth.
    if (h.bpp != (h.compression == kRle8 ? 8 : 4) || h.topDown) return PX_ERR_CORRUPT;
  } else if (h.compression == 3 && (h.bpp == 16 || h.bpp == 32)) {
    const size_t at = infoSize >= 52 ? 14 + 40 : 14 + infoSize;
    if (at + 12 > size) return PX_ERR_CORRUPT;
    for (int i = 0; i < 3; ++i) h.masks[i] = Le32(d + at + 4 * i);
  } else if (h.compression != 0) {
    return PX_ERR_UNSUPPORTED;
  } else if (h.bpp == 16) {
    h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
  } else if (h.bpp == 32) {
    h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
  }
  if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32)
    return PX_ERR_UNSUPPORTED;
  if (h.bpp <= 8) {
    uint32_t colours = infoSize >= 40 ? Le32(d + 46) : 0;
    if (colours == 0 || colours > (1u << h.bpp)) colours = 1u << h.bpp;
    const size_t at = 14 + size_t(infoSize) + (h.compression == 3 ? 12 : 0);
    if (at + size_t(colours) * paletteEntry > size) return PX_ERR_CORRUPT;
    bool grey = true;
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t* p = d + at + size_t(i) * paletteEntry;
      h.palette.insert(h.palette.end(), {p[2], p[1], p[0]});
      grey = grey && p[0] == p[1] && p[1] == p[2];
    }
    h.palette.resize(size_t(1u << h.bpp) * 3, 0);
    const bool bilevel =
        h.bpp == 1 && grey &&
        ((h.palette[0] == 0 && h.palette[3] == 255) || (h.palette[0] == 255 && h.palette[3] == 0));
    h.depth = bilevel ? 1 : grey ? 8 : 24;
  }
  return CheckPageSize(h.width, h.height);
}

int Shift(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}
int Scale(uint32_t value, uint32_t mask) {
  if (!mask) return 0;
  const int s = Shift(mask);
  const uint32_t max = mask >> s;
  return int(((value & mask) >> s) * 255 / max);
}

// Expands BI_RLE8 / BI_RLE4 data into one palette index per pixel, rows top-down. Pixels the data
// skips (deltas, early ends of line or bitmap) keep index 0. Runs and deltas reaching past the line
// or the bitmap are clipped; data that ends before the end-of-bitmap code with rows still missing is
// truncated.
int DecodeRle(const Header& h, const uint8_t* data, size_t size, std::vector<uint8_t>& indices) {
  const size_t width = size_t(h.width), height = size_t(h.height);
  indices.assign(width * height, 0);
  const bool four = h.compression == kRle4;
  size_t at = 0, x = 0, y = 0;  // y counts from the bottom row, as the data does
  auto put = [&](uint8_t index) {
    if (x < width && y < height) indices[(height - 1 - y) * width + x] = index;
    ++x;
  };
  while (y < height) {
    if (size - at < 2) return PX_ERR_READ;
    const uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {  // encoded run
      const size_t n = std::min<size_t>(count, x < width ? width - x : 0);
      for (size_t i = 0; i < n; ++i) put(four ? uint8_t(i & 1 ? value & 15 : value >> 4) : value);
      x += count - n;
    } else if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta: right and up
      if (size - at < 2) return PX_ERR_READ;
      x += data[at];
      y += data[at + 1];
      at += 2;
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      const size_t padded = (bytes + 1) & ~size_t(1);
      if (size - at < padded) return PX_ERR_READ;
      for (size_t i = 0; i < value; ++i)
        put(four ? uint8_t(i & 1 ? data[at + i / 2] & 15 : data[at + i / 2] >> 4) : data[at + i]);
      at += padded;
    }
  }
  return PX_OK;
}

}  // namespace

int BmpInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  Header h;
  const int result = ParseHeader(data, size, h);
  if (result != PX_OK && result != PX_ERR_TOO_LARGE) return result;
  info->nWidth = int32_t(h.width);
  info->nHeight = int32_t(h.height);
  info->nBitsPerPixel = h.depth;
  info->nPages = 1;
  info->nXDpi = h.xDpi;
  info->nYDpi = h.yDpi;
  return result;
}

int BmpLoad(const uint8_t* data, size_t size, PxPage** out) {
  Header h;
  int result = ParseHeader(data, size, h);
  if (result != PX_OK) return result;
  const bool rle = h.compression == kRle8 || h.compression == kRle4;
  if (h.dataOffset > size) return PX_ERR_READ;
  std::vector<uint8_t> indices;  // run-length data expanded: one byte per pixel, top-down
  if (rle) {
    result = DecodeRle(h, data + h.dataOffset, size - h.dataOffset, indices);
    if (result != PX_OK) return result;
    h.bpp = 8;  // the palette (resized to 16 entries for RLE4) covers every index
    h.palette.resize(256 * 3, 0);
  }
  const uint64_t rowBytes = rle ? uint64_t(h.width) : ((uint64_t(h.width) * h.bpp + 31) / 32) * 4;
  if (!rle && rowBytes * uint64_t(h.height) > size - h.dataOffset) return PX_ERR_READ;
  PageHolder page(NewPage(int32_t(h.width), int32_t(h.height), h.depth, h.xDpi, h.yDpi));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  const bool inverted = h.depth == 1 && h.palette[0] == 255;
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* src = rle ? indices.data() + rowBytes * uint64_t(y)
                             : data + h.dataOffset + rowBytes * uint64_t(h.topDown ? y : h.height - 1 - y);
    uint8_t* dst = PxPageRow(page.get(), int32_t(y));
    if (h.depth == 1) {
      const size_t bytes = size_t(h.width + 7) / 8;
      std::memcpy(dst, src, bytes);
      if (inverted)
        for (size_t i = 0; i < bytes; ++i) dst[i] = uint8_t(~dst[i]);
      continue;
    }
    for (int64_t x = 0; x < h.width; ++x) {
      int r, g, b;
      if (h.bpp <= 8) {
        const int bit = int(x * h.bpp);
        const int index = (src[bit >> 3] >> (8 - h.bpp - (bit & 7))) & ((1 << h.bpp) - 1);
        r = h.palette[size_t(index) * 3], g = h.palette[size_t(index) * 3 + 1],
        b = h.palette[size_t(index) * 3 + 2];
      } else if (h.bpp == 24) {
        b = src[x * 3], g = src[x * 3 + 1], r = src[x * 3 + 2];
      } else {
        const uint32_t v = h.bpp == 16 ? Le16(src + x * 2) : Le32(src + x * 4);
        r = Scale(v, h.masks[0]), g = Scale(v, h.masks[1]), b = Scale(v, h.masks[2]);
      }
      if (h.depth == 8)
        dst[x] = uint8_t(r);
      else
        dst[x * 3] = uint8_t(r), dst[x * 3 + 1] = uint8_t(g), dst[x * 3 + 2] = uint8_t(b);
    }
  }
  *out = page.release();
  return PX_OK;
}

int BmpSave(const PxPage* page, const std::string& path) {
  const int bpp = page->bitsPerPixel;
  const uint32_t colours = bpp == 1 ? 2 : bpp == 8 ? 256 : 0;
  const uint64_t rowBytes = ((uint64_t(page->width) * bpp + 31) / 32) * 4;
  const uint64_t offset = 14 + 40 + uint64_t(colours) * 4;
  const uint64_t total = offset + rowBytes * uint64_t(page->height);
  if (total > 0xFFFFFFFFu) return PX_ERR_TOO_LARGE;
  std::vector<uint8_t> v;
  v.reserve(size_t(total));
  v.push_back('B'), v.push_back('M');
  Put32(v, uint32_t(total)), Put32(v, 0), Put32(v, uint32_t(offset));
  Put32(v, 40), Put32(v, uint32_t(page->width)), Put32(v, uint32_t(page->height));
  Put16(v, 1), Put16(v, uint16_t(bpp)), Put32(v, 0), Put32(v, uint32_t(rowBytes * uint64_t(page->height)));
  Put32(v, uint32_t(std::lround(page->xDpi / 0.0254))), Put32(v, uint32_t(std::lround(page->yDpi / 0.0254)));
  Put32(v, colours), Put32(v, 0);
  for (uint32_t i = 0; i < colours; ++i) {
    const uint8_t g = uint8_t(bpp == 1 ? (i ? 255 : 0) : i);
    v.insert(v.end(), {g, g, g, 0});
  }
  for (int32_t y = page->height - 1; y >= 0; --y) {
    const uint8_t* src = PxPageRow(page, y);
    const size_t start = v.size();
    if (bpp == 24) {
      for (int32_t x = 0; x < page->width; ++x)
        v.insert(v.end(), {src[x * 3 + 2], src[x * 3 + 1], src[x * 3]});
    } else {
      v.insert(v.end(), src, src + (bpp == 1 ? (page->width + 7) / 8 : page->width));
    }
    v.resize(start + size_t(rowBytes), 0);
  }
  return WriteFile(path, v.data(), v.size(), false);
}

}  // namespace pxfile
