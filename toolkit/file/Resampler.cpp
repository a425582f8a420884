// Area-average and bilinear resampling, depth conversion (see Resampler.h).
#include "toolkit/file/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pxfile {

namespace {

// One axis of the resampling: for each target index, the source indices and their weights
// (16.16 fixed point, summing to 65536).
struct Tap {
  int first = 0;
  std::vector<uint32_t> weights;
};

std::vector<Tap> Taps(int from, int to) {
  std::vector<Tap> taps(static_cast<size_t>(to));
  if (to <= from) {
    // Box filter: target pixel i covers source [i*from/to, (i+1)*from/to).
    const double scale = double(from) / to;
    for (int i = 0; i < to; ++i) {
      const double start = i * scale, end = (i + 1) * scale;
      Tap& t = taps[size_t(i)];
      t.first = int(std::floor(start));
      const int last = std::min(from - 1, int(std::ceil(end)) - 1);
      uint32_t sum = 0;
      for (int s = t.first; s <= last; ++s) {
        const double cover = std::min(end, double(s + 1)) - std::max(start, double(s));
        const uint32_t w = uint32_t(std::lround(cover / scale * 65536.0));
        t.weights.push_back(w);
        sum += w;
      }
      if (!t.weights.empty()) t.weights.back() += 65536 - sum;  // rounding goes to the last tap
    }
  } else {
    // Bilinear, pixel centres aligned: source position (i + 0.5) * from / to - 0.5.
    for (int i = 0; i < to; ++i) {
      double pos = (i + 0.5) * from / to - 0.5;
      pos = std::clamp(pos, 0.0, double(from - 1));
      Tap& t = taps[size_t(i)];
      t.first = int(std::floor(pos));
      const uint32_t w1 = uint32_t(std::lround((pos - t.first) * 65536.0));
      if (t.first + 1 < from && w1 > 0)
        t.weights = {65536 - w1, w1};
      else
        t.weights = {65536};
    }
  }
  return taps;
}

}  // namespace

int ConvertDepth(const PxPage* in, int bpp, PxPage** out) {
  if (bpp != 1 && bpp != 8 && bpp != 24) return PX_ERR_PARAMETER;
  PageHolder page(NewPage(in->width, in->height, bpp, in->xDpi, in->yDpi));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  for (int32_t y = 0; y < in->height; ++y) {
    const uint8_t* src = PxPageRow(in, y);
    uint8_t* dst = PxPageRow(page.get(), y);
    for (int32_t x = 0; x < in->width; ++x) {
      int r, g, b;
      if (in->bitsPerPixel == 1)
        r = g = b = GetBit(src, x) ? 255 : 0;
      else if (in->bitsPerPixel == 8)
        r = g = b = src[x];
      else
        r = src[x * 3], g = src[x * 3 + 1], b = src[x * 3 + 2];
      if (bpp == 24) {
        dst[x * 3] = uint8_t(r), dst[x * 3 + 1] = uint8_t(g), dst[x * 3 + 2] = uint8_t(b);
      } else {
        const int grey = in->bitsPerPixel == 24 ? (r * 77 + g * 150 + b * 29 + 128) >> 8 : r;
        if (bpp == 8)
          dst[x] = uint8_t(std::min(grey, 255));
        else
          SetBit(dst, x, grey >= 128);
      }
    }
  }
  *out = page.release();
  return PX_OK;
}

int Resample(const PxPage* in, int width, int height, PxPage** out) {
  if (width <= 0 || height <= 0) return PX_ERR_PARAMETER;
  int result = CheckPageSize(width, height);
  if (result != PX_OK) return result;
  // Work on 8 or 24 bits; 1-bit pages go through grey and come back thresholded.
  PageHolder grey;
  const PxPage* src = in;
  if (in->bitsPerPixel == 1) {
    PxPage* g = nullptr;
    result = ConvertDepth(in, 8, &g);
    if (result != PX_OK) return result;
    grey.reset(g);
    src = g;
  }
  const int channels = src->bitsPerPixel / 8;
  const std::vector<Tap> xs = Taps(src->width, width), ys = Taps(src->height, height);
  PageHolder page(NewPage(width, height, src->bitsPerPixel, 0, 0));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  // Horizontal pass into a row of 16.16 sums, then vertical accumulation per target row.
  std::vector<uint64_t> acc(size_t(width) * size_t(channels));
  std::vector<uint32_t> row(size_t(width) * size_t(channels));
  for (int ty = 0; ty < height; ++ty) {
    std::fill(acc.begin(), acc.end(), 0);
    const Tap& vt = ys[size_t(ty)];
    for (size_t k = 0; k < vt.weights.size(); ++k) {
      const uint8_t* line = PxPageRow(src, vt.first + int(k));
      for (int tx = 0; tx < width; ++tx) {
        const Tap& ht = xs[size_t(tx)];
        for (int c = 0; c < channels; ++c) {
          uint64_t sum = 0;
          for (size_t j = 0; j < ht.weights.size(); ++j)
            sum += uint64_t(ht.weights[j]) * line[size_t(ht.first + int(j)) * size_t(channels) + size_t(c)];
          row[size_t(tx) * size_t(channels) + size_t(c)] = uint32_t((sum + 32768) >> 16);
        }
      }
      for (size_t i = 0; i < acc.size(); ++i) acc[i] += uint64_t(vt.weights[k]) * row[i];
    }
    uint8_t* dst = PxPageRow(page.get(), ty);
    for (size_t i = 0; i < acc.size(); ++i) dst[i] = uint8_t(std::min<uint64_t>((acc[i] + 32768) >> 16, 255));
  }
  const auto scaleDpi = [](int dpi, int to, int from) {
    return dpi > 0 ? int(std::min<int64_t>(PX_MAX_DPI, (int64_t(dpi) * to + from / 2) / from)) : 0;
  };
  page->xDpi = scaleDpi(in->xDpi, width, in->width);
  page->yDpi = scaleDpi(in->yDpi, height, in->height);
  if (in->bitsPerPixel == 1) {
    // A one-pixel stroke shrunk by half averages to mid grey; counting a pixel black from a third
    // black coverage keeps such strokes (and so small text) instead of letting them fade to white.
    const int threshold = (width < in->width || height < in->height) ? 170 : 128;
    PageHolder bilevel(NewPage(width, height, 1, page->xDpi, page->yDpi));
    if (!bilevel.get()) return PX_ERR_NO_MEMORY;
    for (int y = 0; y < height; ++y) {
      const uint8_t* src = PxPageRow(page.get(), y);
      uint8_t* dst = PxPageRow(bilevel.get(), y);
      for (int x = 0; x < width; ++x) SetBit(dst, x, src[x] >= threshold);
    }
    *out = bilevel.release();
    return PX_OK;
  }
  *out = page.release();
  return PX_OK;
}

}  // namespace pxfile
