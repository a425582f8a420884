// Page cleanup (see PxCleanApi.h): blank pages, skew, quarter turns and dark borders, measured on a
// reduced grey copy of the page with integer arithmetic.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxPageAlloc.h"
#include "pxclean/PxCleanApi.h"

namespace {

bool Valid(const PxPage* page) {
  return page && page->pixels && page->width > 0 && page->height > 0 && page->width <= PX_MAX_DIMENSION &&
         page->height <= PX_MAX_DIMENSION &&
         (page->bitsPerPixel == 1 || page->bitsPerPixel == 8 || page->bitsPerPixel == 24) &&
         page->stride >= PxPageStride(page->width, page->bitsPerPixel);
}

int Dpi(const PxPage* page) {
  const int dpi = page->yDpi > 0 ? page->yDpi : page->xDpi;
  return dpi >= 50 && dpi <= 4800 ? dpi : 300;  // unknown: the usual scan
}

// Row y of the page as grey bytes (0 black).
void GreyRow(const PxPage* page, int32_t y, uint8_t* out) {
  const uint8_t* row = page->pixels + size_t(y) * size_t(page->stride);
  const int32_t w = page->width;
  switch (page->bitsPerPixel) {
    case 1:
      for (int32_t x = 0; x < w; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
      break;
    case 8:
      std::memcpy(out, row, size_t(w));
      break;
    default:
      for (int32_t x = 0; x < w; ++x)
        out[x] = uint8_t((row[3 * x] * 77 + row[3 * x + 1] * 150 + row[3 * x + 2] * 29) >> 8);
      break;
  }
}

// The page averaged over f x f blocks.
struct Reduced {
  int32_t w = 0, h = 0, f = 1;
  std::vector<uint8_t> grey;
  uint8_t At(int32_t x, int32_t y) const { return grey[size_t(y) * size_t(w) + size_t(x)]; }
};

Reduced Reduce(const PxPage* page, int32_t f) {
  Reduced r;
  r.f = f = std::max(1, f);
  r.w = std::max(1, page->width / f);
  r.h = std::max(1, page->height / f);
  r.grey.resize(size_t(r.w) * size_t(r.h));
  std::vector<uint8_t> line(size_t(page->width));
  std::vector<uint32_t> sums(size_t(r.w));
  const int32_t fx = std::min(f, page->width), fy = std::min(f, page->height);
  for (int32_t ry = 0; ry < r.h; ++ry) {
    std::fill(sums.begin(), sums.end(), 0u);
    for (int32_t k = 0; k < fy; ++k) {
      GreyRow(page, ry * fy + k, line.data());
      for (int32_t rx = 0; rx < r.w; ++rx) {
        const uint8_t* p = line.data() + size_t(rx) * size_t(fx);
        uint32_t s = 0;
        for (int32_t j = 0; j < fx; ++j) s += p[j];
        sums[size_t(rx)] += s;
      }
    }
    uint8_t* out = r.grey.data() + size_t(ry) * size_t(r.w);
    const uint32_t n = uint32_t(fx) * uint32_t(fy);
    for (int32_t rx = 0; rx < r.w; ++rx) out[rx] = uint8_t(sums[size_t(rx)] / n);
  }
  return r;
}

// The paper's white: a high percentile of the middle half, where the paper is even with dark borders.
int PaperWhite(const Reduced& r) {
  uint32_t hist[256] = {};
  uint32_t n = 0;
  for (int32_t y = r.h / 4; y < r.h - r.h / 4; ++y)
    for (int32_t x = r.w / 4; x < r.w - r.w / 4; ++x) ++hist[r.At(x, y)], ++n;
  if (n == 0) return 255;
  uint32_t seen = 0;
  int level = 255;
  for (; level > 0; --level) {
    seen += hist[level];
    if (seen * 10 >= n) break;  // the brightest tenth
  }
  return std::max(level, 32);
}

int32_t ReductionFor(const PxPage* page, int targetDpi) {
  return std::max(1, (Dpi(page) + targetDpi / 2) / targetDpi);
}

int32_t Ink(const PxPage* page, int32_t* ppm) {
  const Reduced r = Reduce(page, ReductionFor(page, 150));
  const int dark = PaperWhite(r) / 2;
  const int32_t margin = std::max(1, Dpi(page) / 4 / r.f);
  const int32_t x0 = std::min(margin, r.w / 4), x1 = r.w - x0, y0 = std::min(margin, r.h / 4), y1 = r.h - y0;
  // A dark pixel counts when one of its four neighbours is dark too: lone noise pixels do not.
  uint64_t ink = 0;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* row = r.grey.data() + size_t(y) * size_t(r.w);
    const uint8_t* up = y > 0 ? row - r.w : row;
    const uint8_t* down = y + 1 < r.h ? row + r.w : row;
    for (int32_t x = x0; x < x1; ++x)
      if (row[x] < dark)
        ink += (y > 0 && up[x] < dark) || (y + 1 < r.h && down[x] < dark) || (x > 0 && row[x - 1] < dark) ||
               (x + 1 < r.w && row[x + 1] < dark);
  }
  const uint64_t area = uint64_t(std::max(1, x1 - x0)) * uint64_t(std::max(1, y1 - y0));
  *ppm = int32_t(ink * 1000000 / area);
  return PX_OK;
}

// Skew by line profiles: the ink of narrow vertical strips is counted per row once; for an angle
// each strip's counts are shifted by the drop of a line across to it, and the sum of squared
// differences of neighbouring rows peaks where the text lines lie along the rows.
class SkewFinder {
 public:
  explicit SkewFinder(const Reduced& r) : m_h(r.h) {
    const int dark = PaperWhite(r) / 2;
    m_strips = r.w / kStrip;  // none on a page narrower than a strip: no ink to measure
    m_counts.assign(size_t(m_strips) * size_t(m_h), 0);
    for (int32_t y = 0; y < r.h; ++y) {
      const uint8_t* row = r.grey.data() + size_t(y) * size_t(r.w);
      for (int32_t s = 0; s < m_strips; ++s) {
        uint16_t n = 0;
        for (int32_t x = s * kStrip; x < (s + 1) * kStrip; ++x) n += row[x] < dark;
        m_counts[size_t(s) * size_t(m_h) + size_t(y)] = n;
        m_ink += n;
      }
    }
    m_centre = (m_strips * kStrip) / 2.0;
    const int32_t reach = int32_t(std::ceil(m_centre * std::tan(kReach * M_PI / 180))) + 2;
    m_offset = reach;
    m_acc.assign(size_t(m_h) + 2 * size_t(reach), 0);
    // Only rows every strip reaches at every angle are compared: the page's own top and bottom
    // edges would otherwise be a line at 0 degrees wherever ink touches them.
    m_from = size_t(2 * reach);
    m_to = m_h > 2 * reach ? size_t(m_h) : m_from;
  }

  uint64_t Ink() const { return m_ink; }

  double Score(double degrees) {
    const double t = std::tan(std::clamp(degrees, -kReach, kReach) * M_PI / 180);
    std::fill(m_acc.begin(), m_acc.end(), 0);
    for (int32_t s = 0; s < m_strips; ++s) {
      const double xc = s * kStrip + kStrip / 2.0 - m_centre;
      const int32_t shift = int32_t(std::lround(xc * t));
      int32_t* acc = m_acc.data() + m_offset - shift;
      const uint16_t* c = m_counts.data() + size_t(s) * size_t(m_h);
      for (int32_t y = 0; y < m_h; ++y) acc[y] += c[y];
    }
    int64_t sum = 0;
    for (size_t i = m_from + 1; i < m_to; ++i) {
      const int64_t d = m_acc[i] - m_acc[i - 1];
      sum += d * d;
    }
    return double(sum);
  }

  static constexpr int32_t kStrip = 8;
  static constexpr double kSweep = 10.5;
  static constexpr double kReach = 11.0;  // the sweep and the finer steps around its ends

 private:
  int32_t m_h, m_strips = 0, m_offset = 0;
  double m_centre = 0;
  uint64_t m_ink = 0;
  std::vector<uint16_t> m_counts;
  std::vector<int32_t> m_acc;
  size_t m_from = 0, m_to = 0;
};

int32_t FindSkew(const PxPage* page, double* degrees, double* confidence) {
  *degrees = 0;
  *confidence = 0;
  const Reduced r = Reduce(page, ReductionFor(page, 150));
  SkewFinder finder(r);
  // Too little ink for lines: a blank page or a few marks.
  if (finder.Ink() < 2000 || r.h < 32 || r.w < 2 * SkewFinder::kStrip) return PX_OK;

  constexpr double kStep = 0.25;
  std::vector<double> sweep;
  double best = 0, bestScore = -1;
  for (double a = -SkewFinder::kSweep; a <= SkewFinder::kSweep + 1e-9; a += kStep) {
    const double s = finder.Score(a);
    sweep.push_back(s);
    if (s > bestScore) bestScore = s, best = a;
  }
  // Finer around the peak, then a parabola through the best and its neighbours.
  for (double step : {0.05, 0.01}) {
    const double from = best - 5 * step;
    for (int i = 0; i <= 10; ++i) {
      const double a = from + i * step;
      const double s = finder.Score(a);
      if (s > bestScore) bestScore = s, best = a;
    }
  }
  const double below = finder.Score(best - 0.01), above = finder.Score(best + 0.01);
  const double bend = below - 2 * bestScore + above;
  if (bend < 0) best += std::clamp(0.01 * (below - above) / (2 * bend), -0.01, 0.01);

  std::vector<double> sorted = sweep;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const double median = sorted[sorted.size() / 2];
  *confidence = median > 0 ? bestScore / median : 0;
  if (std::fabs(best) > 10.0 + 1e-9 || *confidence < PX_CLEAN_SKEW_SURE) {
    *degrees = 0;
    return PX_OK;
  }
  *degrees = best;
  return PX_OK;
}

// A fresh page of the given size and depth, white.
PxPage Blank(int32_t width, int32_t height, int32_t bpp, const PxPage* like) {
  PxPage out{};
  out.width = width;
  out.height = height;
  out.bitsPerPixel = bpp;
  out.stride = PxPageStride(width, bpp);
  out.xDpi = like->xDpi;
  out.yDpi = like->yDpi;
  if (out.stride == 0) return out;
  out.pixels = static_cast<uint8_t*>(std::malloc(size_t(out.stride) * size_t(height)));
  if (out.pixels) std::memset(out.pixels, 0xFF, size_t(out.stride) * size_t(height));
  return out;
}

void Replace(PxPage* page, PxPage& with) {
  std::free(page->pixels);
  *page = with;
}

// Bilinear turn of a plane of `channels` interleaved bytes per pixel.
void RotatePlane(const uint8_t* src, int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t w, int32_t h,
                 int channels, double degrees) {
  const double rad = degrees * M_PI / 180, c = std::cos(rad), s = std::sin(rad);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  constexpr int kShift = 16;
  constexpr double kOne = double(1 << kShift);
  const int64_t dxStep = std::llround(c * kOne), dyStep = std::llround(-s * kOne);
  const int64_t maxX = int64_t(w - 1) << kShift, maxY = int64_t(h - 1) << kShift;
  for (int32_t y = 0; y < h; ++y) {
    // The source of (0, y): the page turned back.
    const double dy = y - cy;
    int64_t sx = std::llround((cx + (-cx) * c + dy * s) * kOne);
    int64_t sy = std::llround((cy - (-cx) * s + dy * c) * kOne);
    uint8_t* out = dst + size_t(y) * size_t(dstStride);
    for (int32_t x = 0; x < w; ++x, sx += dxStep, sy += dyStep, out += channels) {
      if (sx < -(int64_t(1) << kShift) || sy < -(int64_t(1) << kShift) ||
          sx > maxX + (int64_t(1) << kShift) || sy > maxY + (int64_t(1) << kShift))
        continue;  // stays white
      const int64_t fx0 = sx >> kShift, fy0 = sy >> kShift;
      const int32_t ax = int32_t((sx >> (kShift - 8)) & 0xFF), ay = int32_t((sy >> (kShift - 8)) & 0xFF);
      const bool inside = fx0 >= 0 && fy0 >= 0 && fx0 + 1 < w && fy0 + 1 < h;
      for (int ch = 0; ch < channels; ++ch) {
        int32_t p00, p01, p10, p11;
        if (inside) {
          const uint8_t* p = src + size_t(fy0) * size_t(srcStride) + size_t(fx0) * size_t(channels) + ch;
          p00 = p[0], p01 = p[channels], p10 = p[srcStride], p11 = p[srcStride + channels];
        } else {
          auto at = [&](int64_t xx, int64_t yy) -> int32_t {
            if (xx < 0 || yy < 0 || xx >= w || yy >= h) return 255;
            return src[size_t(yy) * size_t(srcStride) + size_t(xx) * size_t(channels) + ch];
          };
          p00 = at(fx0, fy0), p01 = at(fx0 + 1, fy0), p10 = at(fx0, fy0 + 1), p11 = at(fx0 + 1, fy0 + 1);
        }
        const int32_t top = p00 * (256 - ax) + p01 * ax, bottom = p10 * (256 - ax) + p11 * ax;
        out[ch] = uint8_t((top * (256 - ay) + bottom * ay + (1 << 15)) >> 16);
      }
    }
  }
}

int32_t Rotate(PxPage* page, double degrees) {
  if (!std::isfinite(degrees) || std::fabs(degrees) > 45) return PX_ERR_PARAMETER;
  if (degrees == 0) return PX_OK;
  const int32_t w = page->width, h = page->height;
  PxPage out = Blank(w, h, page->bitsPerPixel, page);
  if (!out.pixels) return PX_ERR_NO_MEMORY;
  if (page->bitsPerPixel == 1) {
    // Turned as grey and thresholded back: edges stay smooth instead of stair-stepped.
    std::vector<uint8_t> grey(size_t(w) * size_t(h)), turned(size_t(w) * size_t(h), 255);
    for (int32_t y = 0; y < h; ++y) GreyRow(page, y, grey.data() + size_t(y) * size_t(w));
    RotatePlane(grey.data(), w, turned.data(), w, w, h, 1, degrees);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = out.pixels + size_t(y) * size_t(out.stride);
      const uint8_t* g = turned.data() + size_t(y) * size_t(w);
      for (int32_t x = 0; x < w; ++x)
        if (g[x] < 128) row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
    }
  } else {
    RotatePlane(page->pixels, page->stride, out.pixels, out.stride, w, h, page->bitsPerPixel / 8, degrees);
  }
  Replace(page, out);
  return PX_OK;
}

int32_t Turn(PxPage* page, int32_t quarters) {
  quarters = ((quarters % 4) + 4) % 4;
  if (quarters == 0) return PX_OK;
  const int32_t w = page->width, h = page->height;
  const int32_t ow = quarters == 2 ? w : h, oh = quarters == 2 ? h : w;
  PxPage out = Blank(ow, oh, page->bitsPerPixel, page);
  if (!out.pixels) return PX_ERR_NO_MEMORY;
  if (quarters != 2) std::swap(out.xDpi, out.yDpi);
  const int bpp = page->bitsPerPixel;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = page->pixels + size_t(y) * size_t(page->stride);
    for (int32_t x = 0; x < w; ++x) {
      int32_t nx, ny;  // clockwise: (x, y) goes to (h-1-y, x)
      if (quarters == 1)
        nx = h - 1 - y, ny = x;
      else if (quarters == 2)
        nx = w - 1 - x, ny = h - 1 - y;
      else
        nx = y, ny = w - 1 - x;
      uint8_t* orow = out.pixels + size_t(ny) * size_t(out.stride);
      if (bpp == 1) {
        if (!((row[x >> 3] >> (7 - (x & 7))) & 1)) orow[nx >> 3] &= uint8_t(~(0x80 >> (nx & 7)));
      } else if (bpp == 8) {
        orow[nx] = row[x];
      } else {
        std::memcpy(orow + 3 * size_t(nx), row + 3 * size_t(x), 3);
      }
    }
  }
  Replace(page, out);
  return PX_OK;
}

// The paper inside dark borders: from each side inwards while the line across is mostly dark,
// twice, so that each side's lines are judged between the borders found for the others.
int32_t FindPaper(const PxPage* page, PxCleanBox* box) {
  const int32_t w = page->width, h = page->height;
  *box = PxCleanBox{0, 0, w, h};
  const Reduced r = Reduce(page, ReductionFor(page, 75));
  const int dark = PaperWhite(r) / 2;
  // Dark pixels per column over every 4th row and per row over every 4th column, at full size.
  constexpr int32_t kStep = 4;
  std::vector<uint8_t> line(static_cast<size_t>(w));
  std::vector<uint8_t> darkMap;  // the sampled rows, one byte per pixel: 1 dark
  const int32_t sampledRows = (h + kStep - 1) / kStep;
  darkMap.resize(size_t(sampledRows) * size_t(w));
  std::vector<uint8_t> colMap(size_t(h) * size_t((w + kStep - 1) / kStep));
  const int32_t sampledCols = (w + kStep - 1) / kStep;
  for (int32_t y = 0; y < h; ++y) {
    GreyRow(page, y, line.data());
    if (y % kStep == 0) {
      uint8_t* d = darkMap.data() + size_t(y / kStep) * size_t(w);
      for (int32_t x = 0; x < w; ++x) d[x] = line[x] < dark;
    }
    uint8_t* c = colMap.data() + size_t(y) * size_t(sampledCols);
    for (int32_t x = 0, i = 0; x < w; x += kStep, ++i) c[i] = line[x] < dark;
  }
  int32_t left = 0, right = w, top = 0, bottom = h;
  for (int pass = 0; pass < 2; ++pass) {
    const int32_t r0 = (top + kStep - 1) / kStep, r1 = std::max(r0 + 1, (bottom + kStep - 1) / kStep);
    auto colDark = [&](int32_t x) {
      uint32_t n = 0;
      for (int32_t i = r0; i < r1 && i < sampledRows; ++i) n += darkMap[size_t(i) * size_t(w) + size_t(x)];
      return 2 * n > uint32_t(r1 - r0);
    };
    const int32_t c0 = (left + kStep - 1) / kStep, c1 = std::max(c0 + 1, (right + kStep - 1) / kStep);
    auto rowIsDark = [&](int32_t y) {
      uint32_t n = 0;
      const uint8_t* c = colMap.data() + size_t(y) * size_t(sampledCols);
      for (int32_t i = c0; i < c1 && i < sampledCols; ++i) n += c[i];
      return 2 * n > uint32_t(c1 - c0);
    };
    int32_t l = 0, rr = w, t = 0, b = h;
    while (l < w && colDark(l)) ++l;
    while (rr > l && colDark(rr - 1)) --rr;
    while (t < h && rowIsDark(t)) ++t;
    while (b > t && rowIsDark(b - 1)) --b;
    left = l, right = rr, top = t, bottom = b;
  }
  if (2 * (right - left) < w || 2 * (bottom - top) < h) return PX_OK;  // a dark picture, not a border
  *box = PxCleanBox{left, top, right, bottom};
  return PX_OK;
}

int32_t Crop(PxPage* page, const PxCleanBox* box) {
  if (box->left < 0 || box->top < 0 || box->right > page->width || box->bottom > page->height ||
      box->left >= box->right || box->top >= box->bottom)
    return PX_ERR_PARAMETER;
  if (box->left == 0 && box->top == 0 && box->right == page->width && box->bottom == page->height)
    return PX_OK;
  const int32_t w = box->right - box->left, h = box->bottom - box->top;
  PxPage out = Blank(w, h, page->bitsPerPixel, page);
  if (!out.pixels) return PX_ERR_NO_MEMORY;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = page->pixels + size_t(y + box->top) * size_t(page->stride);
    uint8_t* orow = out.pixels + size_t(y) * size_t(out.stride);
    if (page->bitsPerPixel == 1) {
      for (int32_t x = 0; x < w; ++x) {
        const int32_t sx = x + box->left;
        if (!((row[sx >> 3] >> (7 - (sx & 7))) & 1)) orow[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
      }
    } else {
      const size_t bytes = size_t(page->bitsPerPixel / 8);
      std::memcpy(orow, row + size_t(box->left) * bytes, size_t(w) * bytes);
    }
  }
  Replace(page, out);
  return PX_OK;
}

template <typename F>
int32_t Guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t PxCleanInk(const PxPage* page, int32_t* inkPpm) {
  if (!inkPpm) return PX_ERR_PARAMETER;
  *inkPpm = 0;
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return Ink(page, inkPpm); });
}

__attribute__((visibility("default"))) int32_t PxCleanFindSkew(const PxPage* page, double* degrees,
                                                               double* confidence) {
  if (!degrees || !confidence) return PX_ERR_PARAMETER;
  *degrees = *confidence = 0;
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return FindSkew(page, degrees, confidence); });
}

__attribute__((visibility("default"))) int32_t PxCleanRotate(PxPage* page, double degrees) {
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return Rotate(page, degrees); });
}

__attribute__((visibility("default"))) int32_t PxCleanTurn(PxPage* page, int32_t quarters) {
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return Turn(page, quarters); });
}

__attribute__((visibility("default"))) int32_t PxCleanFindPaper(const PxPage* page, PxCleanBox* box) {
  if (!box) return PX_ERR_PARAMETER;
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return FindPaper(page, box); });
}

__attribute__((visibility("default"))) int32_t PxCleanCrop(PxPage* page, const PxCleanBox* box) {
  if (!box) return PX_ERR_PARAMETER;
  if (!Valid(page)) return PX_ERR_NO_BITMAP;
  return Guarded([&] { return Crop(page, box); });
}

}  // extern "C"
