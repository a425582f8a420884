// Image readers of pxmpeg-enc; see ImageSeries.h.
#include "tools/mpegenc/ImageSeries.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/FrameIntake.h"
#include "pxkernel/PxKernel.h"

namespace pxenc_tool {

namespace {

constexpr int kMaxSide = 16383;

bool ReadPpmHeader(FILE* f, int* pW, int* pH, int* pMax) {
  char magic[3] = {};
  if (std::fscanf(f, "%2s", magic) != 1 || std::strcmp(magic, "P6") != 0) return false;
  int vals[3];
  for (int& v : vals) {
    int c;
    while ((c = std::fgetc(f)) != EOF && (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '#')) {
      if (c == '#')
        while ((c = std::fgetc(f)) != EOF && c != '\n') {
        }
    }
    if (c == EOF) return false;
    std::ungetc(c, f);
    if (std::fscanf(f, "%d", &v) != 1) return false;
  }
  std::fgetc(f);
  *pW = vals[0];
  *pH = vals[1];
  *pMax = vals[2];
  return *pW > 0 && *pH > 0 && *pW <= kMaxSide && *pH <= kMaxSide && *pMax == 255;
}

bool IsPng(const std::string& path) {
  return path.size() > 4 &&
         (path.compare(path.size() - 4, 4, ".png") == 0 || path.compare(path.size() - 4, 4, ".PNG") == 0);
}

}  // namespace

bool ImageSize(const std::string& path, int* pW, int* pH, std::string* pError) {
  if (IsPng(path)) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) {
      *pError = path + ": " + img.message;
      return false;
    }
    *pW = static_cast<int>(img.width);
    *pH = static_cast<int>(img.height);
    png_image_free(&img);
    return true;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *pError = path + ": cannot open";
    return false;
  }
  int nMax = 0;
  const bool ok = ReadPpmHeader(f, pW, pH, &nMax);
  std::fclose(f);
  if (!ok) *pError = path + ": not a binary PPM with 8-bit samples";
  return ok;
}

bool LoadImageBitmap(const std::string& path, PxBitmap* b, std::string* pError) {
  *b = PxBitmap{};
  int w = 0, h = 0;
  if (!ImageSize(path, &w, &h, pError)) return false;
  if (w > kMaxSide || h > kMaxSide) {
    *pError = path + ": too large";
    return false;
  }
  const int32_t nStride = w * 3;
  auto* pix = static_cast<uint8_t*>(PxKernel().pfnAlloc(static_cast<size_t>(nStride) * h));
  if (!pix) {
    *pError = "out of memory";
    return false;
  }
  bool ok = false;
  if (IsPng(path)) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&img, path.c_str())) {
      img.format = PNG_FORMAT_BGR;
      ok = png_image_finish_read(&img, nullptr, pix, nStride, nullptr) != 0;
      if (!ok) *pError = path + ": " + img.message;
      png_image_free(&img);
    }
  } else {
    FILE* f = std::fopen(path.c_str(), "rb");
    int nMax = 0;
    if (f && ReadPpmHeader(f, &w, &h, &nMax) &&
        std::fread(pix, 1, static_cast<size_t>(nStride) * h, f) == static_cast<size_t>(nStride) * h) {
      for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) std::swap(pix[3 * i], pix[3 * i + 2]);
      ok = true;
    } else {
      *pError = path + ": short or malformed PPM";
    }
    if (f) std::fclose(f);
  }
  if (!ok) {
    PxKernel().pfnFree(pix);
    return false;
  }
  b->nWidth = w;
  b->nHeight = h;
  b->nBitsPerPixel = 24;
  b->nBytesPerRow = nStride;
  b->nColorOrder = PX_ORDER_BGR;
  b->nFlags = PX_BITMAP_OWNS_PIXELS;
  b->pPixels = pix;
  return true;
}

int32_t RawYuvSource::Count(int32_t* pnCount) {
  const int64_t nFrame =
      static_cast<int64_t>(m_w) * m_h + 2 * static_cast<int64_t>((m_w + 1) / 2) * ((m_h + 1) / 2);
  if (std::fseek(m_f, 0, SEEK_END) != 0) return PXM_ERR_READ;
  const long nSize = std::ftell(m_f);
  if (nSize < 0) return PXM_ERR_READ;
  const int64_t n = nSize / nFrame;
  *pnCount = n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
  return PXM_OK;
}

int32_t RawYuvSource::Fetch(int32_t nIndex, pxenc::Frame& dst) {
  const int cw = (m_w + 1) / 2, ch = (m_h + 1) / 2;
  const size_t nY = static_cast<size_t>(m_w) * m_h, nC = static_cast<size_t>(cw) * ch;
  m_buf.resize(nY + 2 * nC);
  if (std::fseek(m_f, static_cast<long>(nIndex) * static_cast<long>(m_buf.size()), SEEK_SET) != 0 ||
      std::fread(m_buf.data(), 1, m_buf.size(), m_f) != m_buf.size())
    return PXM_ERR_READ;
  for (int y = 0; y < m_h; ++y)
    std::memcpy(dst.y.p + static_cast<size_t>(y) * dst.y.nStride, &m_buf[y * static_cast<size_t>(m_w)], m_w);
  pxenc::FrameIntake::PadPlane(dst.y.p, dst.y.nStride, m_w, m_h, dst.y.nWidth, dst.y.nHeight);
  // Chroma of the file is 4:2:0; wider chroma formats repeat samples.
  const int sx = dst.cb.nWidth >= dst.y.nWidth ? 0 : 1;
  const int sy = dst.cb.nHeight >= dst.y.nHeight ? 0 : 1;
  const int outW = (m_w + sx) >> sx, outH = (m_h + sy) >> sy;
  for (int c = 0; c < 2; ++c) {
    const uint8_t* src = &m_buf[nY + c * nC];
    pxenc::Plane& o = c == 0 ? dst.cb : dst.cr;
    for (int y = 0; y < outH; ++y) {
      const int syy = sy ? y : (m_bInterlaced ? ((y >> 2) * 2 + (y & 1)) : y / 2);
      const uint8_t* row = src + static_cast<size_t>(std::min(syy, ch - 1)) * cw;
      uint8_t* orow = o.p + static_cast<size_t>(y) * o.nStride;
      if (sx)
        std::memcpy(orow, row, static_cast<size_t>(outW));
      else
        for (int x = 0; x < outW; ++x) orow[x] = row[x / 2];
    }
    pxenc::FrameIntake::PadPlane(o.p, o.nStride, outW, outH, o.nWidth, o.nHeight);
  }
  return PXM_OK;
}

}  // namespace pxenc_tool
