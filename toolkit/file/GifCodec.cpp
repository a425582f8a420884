// GIF89a through giflib (see GifCodec.h).
#include "toolkit/file/GifCodec.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <libimagequant.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace pxfile {

namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buf, int n) {
  auto* s = static_cast<Source*>(gif->UserData);
  if (n <= 0) return 0;
  size_t take = s->size - s->pos;
  if (take > size_t(n)) take = size_t(n);
  std::memcpy(buf, s->data + s->pos, take);
  s->pos += take;
  return int(take);
}

struct GifCloser {
  GifFileType* gif = nullptr;
  ~GifCloser() {
    int error = 0;
    if (gif) DGifCloseFile(gif, &error);
  }
};

struct Frame {
  int width = 0, height = 0, depth = 8;
  int xDpi = 0, yDpi = 0;
  std::vector<GifColorType> colours;
};

int MapDepth(const std::vector<GifColorType>& map) {
  bool grey = true;
  for (const GifColorType& c : map) grey = grey && c.Red == c.Green && c.Green == c.Blue;
  if (!grey) return 24;
  if (map.size() == 2) {
    const int a = map[0].Red, b = map[1].Red;
    if ((a == 0 && b == 255) || (a == 255 && b == 0)) return 1;
  }
  return 8;
}

// Walks the images of a file. Every image is a page: page N is what the screen shows after image N
// (earlier images left in place as their disposal says, transparent pixels showing what is below,
// the screen white where nothing was drawn). An image that covers the whole screen without
// transparency is the page by itself, at the depth of its colour map; any other page is 24 bits.
// Converting a file loads its pages one after another, and page N needs the images before it drawn:
// the screen after the last page loaded is kept (for one file, by content), so that the next page
// goes on from there instead of drawing every image again.
struct Resume {
  size_t size = 0;
  uLong crc = 0;
  int image = 0;   // images drawn
  size_t pos = 0;  // where the next record starts
  std::vector<uint8_t> canvas, saved;
  int pendingDisposal = 0, px = 0, py = 0, pw = 0, ph = 0, xDpi = 0, yDpi = 0;
};
thread_local Resume t_resume;
constexpr size_t kMaxResumeBytes = 64u << 20;

class Walker {
 public:
  Walker(const uint8_t* data, size_t size) : m_source{data, size, 0} {}

  // Counts the images (without decoding them); the first one's page sizes and depth in f.
  int Count(Frame& f, int& pages) {
    pages = 0;
    return Walk(0, f, nullptr, &pages);
  }
  // Page `want` (from 1) in f and pixels: palette indices of f's size when f.depth < 24 or the
  // colours are f.colours, else RGB rows of the screen (f.colours empty).
  int Page(int want, Frame& f, std::vector<uint8_t>& pixels) { return Walk(want, f, &pixels, nullptr); }

 private:
  struct Control {
    int transparent = -1;
    int disposal = 0;
  };

  int Walk(int want, Frame& f, std::vector<uint8_t>* pixels, int* count) {
    int error = 0;
    GifCloser gc{DGifOpen(&m_source, ReadMemory, &error)};
    if (!gc.gif) return PX_ERR_CORRUPT;
    GifFileType* gif = gc.gif;
    const int screenW = gif->SWidth, screenH = gif->SHeight;
    Control control;
    int image = 0;
    std::vector<uint8_t> canvas, saved, indices;
    int pendingDisposal = 0, px = 0, py = 0, pw = 0, ph = 0;
    uLong crc = 0;
    if (pixels) {
      crc = crc32(0, m_source.data, uInt(std::min<size_t>(m_source.size, 1u << 30)));
      Resume& r = t_resume;
      if (r.size == m_source.size && r.crc == crc && r.image > 0 && r.image < want &&
          r.pos <= m_source.size) {
        image = r.image;
        m_source.pos = r.pos;
        canvas.swap(r.canvas);
        saved.swap(r.saved);
        pendingDisposal = r.pendingDisposal, px = r.px, py = r.py, pw = r.pw, ph = r.ph;
        m_xDpi = r.xDpi, m_yDpi = r.yDpi;
      }
      r = Resume{};
    }
    for (int records = 0; records < 10000000; ++records) {
      GifRecordType type;
      if (DGifGetRecordType(gif, &type) == GIF_ERROR) return image > 0 && count ? PX_OK : PX_ERR_CORRUPT;
      if (type == TERMINATE_RECORD_TYPE)
        return image > 0 && count ? PX_OK : image > 0 ? PX_ERR_PAGE : PX_ERR_CORRUPT;
      if (type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* ext = nullptr;
        if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return PX_ERR_CORRUPT;
        bool first = true;
        while (ext) {
          if (first && code == COMMENT_EXT_FUNC_CODE && ext[0] > 4 && std::memcmp(ext + 1, "dpi=", 4) == 0) {
            char text[256];
            std::memcpy(text, ext + 1, ext[0]);
            text[ext[0]] = 0;
            int x = 0, y = 0;
            if (std::sscanf(text, "dpi=%d,%d", &x, &y) == 2 && x > 0 && y > 0 && x <= PX_MAX_DPI &&
                y <= PX_MAX_DPI)
              m_xDpi = x, m_yDpi = y;
          }
          if (first && code == GRAPHICS_EXT_FUNC_CODE && ext[0] >= 4) {
            control.disposal = (ext[1] >> 2) & 7;
            control.transparent = (ext[1] & 1) ? ext[4] : -1;
          }
          first = false;
          if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return PX_ERR_CORRUPT;
        }
        continue;
      }
      if (type != IMAGE_DESC_RECORD_TYPE) continue;
      if (DGifGetImageDesc(gif) == GIF_ERROR) return PX_ERR_CORRUPT;
      ++image;
      const GifImageDesc& desc = gif->Image;
      const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
      if (!map || map->ColorCount <= 0 || map->ColorCount > 256) return PX_ERR_CORRUPT;
      const bool whole = desc.Left == 0 && desc.Top == 0 && desc.Width >= screenW && desc.Height >= screenH &&
                         control.transparent < 0;
      Frame frame;
      frame.xDpi = m_xDpi, frame.yDpi = m_yDpi;
      frame.colours.assign(map->Colors, map->Colors + map->ColorCount);
      frame.depth = whole ? MapDepth(frame.colours) : 24;
      // Indices beyond a short map read as black rather than past its end.
      frame.colours.resize(256, GifColorType{0, 0, 0});
      frame.width = whole ? desc.Width : screenW;
      frame.height = whole ? desc.Height : screenH;
      int result = CheckPageSize(frame.width, frame.height);
      if (result == PX_OK) result = CheckPageSize(desc.Width, desc.Height);
      if (image == 1) {
        f = frame;
        if (result != PX_OK && !(count && result == PX_ERR_TOO_LARGE)) return result;
      } else if (result != PX_OK) {
        return result;
      }
      if (count) {
        if (image >= PX_MAX_PAGES) break;
        *count = image;
        // The image data is skipped unread.
        int codeSize = 0;
        GifByteType* block = nullptr;
        if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return PX_ERR_CORRUPT;
        while (block)
          if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return PX_ERR_CORRUPT;
        control = Control{};
        continue;
      }
      indices.resize(size_t(desc.Width) * size_t(desc.Height));
      // Interlaced images arrive in four passes (GIF89a appendix E).
      static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      const int passes = desc.Interlace ? 4 : 1;
      for (int p = 0; p < passes; ++p) {
        const int start = desc.Interlace ? kStart[p] : 0, step = desc.Interlace ? kStep[p] : 1;
        for (int y = start; y < desc.Height; y += step)
          if (DGifGetLine(gif, indices.data() + size_t(y) * size_t(desc.Width), desc.Width) == GIF_ERROR)
            return PX_ERR_CORRUPT;
      }
      // Draw onto the screen: first undo what the previous image's disposal asks.
      if (canvas.empty()) canvas.assign(size_t(screenW) * size_t(screenH) * 3, 255);
      if (pendingDisposal == 2) {
        for (int y = py; y < py + ph; ++y)
          std::memset(canvas.data() + (size_t(y) * screenW + px) * 3, 255, size_t(pw) * 3);
      } else if (pendingDisposal == 3 && !saved.empty()) {
        canvas.swap(saved);
      }
      px = std::min<int>(desc.Left, screenW), py = std::min<int>(desc.Top, screenH);
      pw = std::min<int>(desc.Width, screenW - px), ph = std::min<int>(desc.Height, screenH - py);
      pendingDisposal = control.disposal;
      if (pendingDisposal == 3) saved = canvas;
      for (int y = 0; y < ph; ++y) {
        const uint8_t* src = indices.data() + size_t(y) * size_t(desc.Width);
        uint8_t* dst = canvas.data() + (size_t(y + py) * screenW + px) * 3;
        for (int x = 0; x < pw; ++x) {
          if (src[x] == control.transparent) continue;
          const GifColorType& c = frame.colours[src[x]];
          dst[x * 3] = c.Red, dst[x * 3 + 1] = c.Green, dst[x * 3 + 2] = c.Blue;
        }
      }
      control = Control{};
      if (image == want) {
        f = frame;
        if (whole) {
          pixels->swap(indices);
        } else {
          f.colours.clear();
          *pixels = canvas;
        }
        if (canvas.size() + saved.size() <= kMaxResumeBytes) {
          Resume& r = t_resume;
          r.size = m_source.size, r.crc = crc, r.image = image, r.pos = m_source.pos;
          r.canvas.swap(canvas);
          r.saved.swap(saved);
          r.pendingDisposal = pendingDisposal, r.px = px, r.py = py, r.pw = pw, r.ph = ph;
          r.xDpi = m_xDpi, r.yDpi = m_yDpi;
        }
        return PX_OK;
      }
    }
    return count ? PX_OK : PX_ERR_CORRUPT;
  }

  Source m_source;
  int m_xDpi = 0, m_yDpi = 0;
};

}  // namespace

int GifInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  Frame f;
  int pages = 0;
  Walker walker(data, size);
  const int result = walker.Count(f, pages);
  if (result != PX_OK && result != PX_ERR_TOO_LARGE) return result;
  if (pages < 1) return PX_ERR_CORRUPT;
  info->nWidth = f.width;
  info->nHeight = f.height;
  info->nBitsPerPixel = f.depth;
  info->nPages = pages;
  info->nXDpi = f.xDpi;
  info->nYDpi = f.yDpi;
  return PX_OK;
}

int GifLoad(const uint8_t* data, size_t size, int pageNumber, PxPage** out) {
  Frame f;
  std::vector<uint8_t> pixels;
  Walker walker(data, size);
  int result = walker.Page(pageNumber, f, pixels);
  if (result != PX_OK) return result;
  PageHolder page(NewPage(f.width, f.height, f.depth, f.xDpi, f.yDpi));
  if (!page.get()) return PX_ERR_NO_MEMORY;
  for (int y = 0; y < f.height; ++y) {
    uint8_t* dst = PxPageRow(page.get(), y);
    if (f.colours.empty()) {
      std::memcpy(dst, pixels.data() + size_t(y) * size_t(f.width) * 3, size_t(f.width) * 3);
      continue;
    }
    const uint8_t* src = pixels.data() + size_t(y) * size_t(f.width);
    for (int x = 0; x < f.width; ++x) {
      const GifColorType& c = f.colours[src[x]];
      if (f.depth == 1)
        SetBit(dst, x, c.Red >= 128);
      else if (f.depth == 8)
        dst[x] = c.Red;
      else
        dst[x * 3] = c.Red, dst[x * 3 + 1] = c.Green, dst[x * 3 + 2] = c.Blue;
    }
  }
  *out = page.release();
  return PX_OK;
}

namespace {

// Palette and indices for a colour page: libimagequant's quantiser with full dithering.
int Quantise(const PxPage* page, std::vector<GifColorType>& palette, std::vector<uint8_t>& indices) {
  const size_t pixels = size_t(page->width) * size_t(page->height);
  std::vector<uint8_t> rgba(pixels * 4);
  for (int32_t y = 0; y < page->height; ++y) {
    const uint8_t* src = PxPageRow(page, y);
    uint8_t* dst = rgba.data() + size_t(y) * size_t(page->width) * 4;
    for (int32_t x = 0; x < page->width; ++x)
      dst[x * 4] = src[x * 3], dst[x * 4 + 1] = src[x * 3 + 1], dst[x * 4 + 2] = src[x * 3 + 2],
              dst[x * 4 + 3] = 255;
  }
  liq_attr* attr = liq_attr_create();
  if (!attr) return PX_ERR_NO_MEMORY;
  liq_set_speed(attr, 8);
  liq_image* image = liq_image_create_rgba(attr, rgba.data(), page->width, page->height, 0);
  liq_result* res = nullptr;
  int result = PX_ERR_INTERNAL;
  if (image && liq_image_quantize(image, attr, &res) == LIQ_OK) {
    liq_set_dithering_level(res, 1.0f);
    indices.resize(pixels);
    if (liq_write_remapped_image(res, image, indices.data(), indices.size()) == LIQ_OK) {
      const liq_palette* pal = liq_get_palette(res);
      palette.clear();
      for (unsigned i = 0; i < pal->count; ++i)
        palette.push_back(GifColorType{pal->entries[i].r, pal->entries[i].g, pal->entries[i].b});
      result = PX_OK;
    }
  }
  if (res) liq_result_destroy(res);
  if (image) liq_image_destroy(image);
  liq_attr_destroy(attr);
  return result;
}

}  // namespace

int GifSave(const PxPage* page, const std::string& path) {
  if (page->width > 65535 || page->height > 65535) return PX_ERR_TOO_LARGE;
  std::vector<GifColorType> palette;
  std::vector<uint8_t> indices;
  const size_t pixels = size_t(page->width) * size_t(page->height);
  if (page->bitsPerPixel == 24) {
    int result = Quantise(page, palette, indices);
    if (result != PX_OK) return result;
  } else {
    const int colours = page->bitsPerPixel == 1 ? 2 : 256;
    for (int i = 0; i < colours; ++i) {
      const GifByteType g = GifByteType(colours == 2 ? i * 255 : i);
      palette.push_back(GifColorType{g, g, g});
    }
    indices.resize(pixels);
    for (int32_t y = 0; y < page->height; ++y) {
      const uint8_t* src = PxPageRow(page, y);
      uint8_t* dst = indices.data() + size_t(y) * size_t(page->width);
      for (int32_t x = 0; x < page->width; ++x)
        dst[x] = page->bitsPerPixel == 1 ? uint8_t(GetBit(src, x)) : src[x];
    }
  }
  // A colour map's size is a power of two.
  int mapSize = 2;
  while (mapSize < int(palette.size())) mapSize *= 2;
  palette.resize(size_t(mapSize), GifColorType{0, 0, 0});
  int error = 0;
  const int fd = OpenForWriting(path, O_WRONLY, true);
  GifFileType* gif = fd >= 0 ? EGifOpenFileHandle(fd, &error) : nullptr;
  if (!gif) {
    if (fd >= 0) ::close(fd);
    return PX_ERR_WRITE;
  }
  ColorMapObject* map = GifMakeMapObject(mapSize, palette.data());
  bool ok = map != nullptr;
  EGifSetGifVersion(gif, true);
  ok = ok && EGifPutScreenDesc(gif, page->width, page->height, 8, 0, map) != GIF_ERROR;
  if (ok && page->xDpi > 0 && page->yDpi > 0) {
    char text[64];
    const int n = std::snprintf(text, sizeof(text), "dpi=%d,%d", page->xDpi, page->yDpi);
    ok = EGifPutComment(gif, text) != GIF_ERROR && n > 0;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, page->width, page->height, false, nullptr) != GIF_ERROR;
  for (int32_t y = 0; ok && y < page->height; ++y)
    ok = EGifPutLine(gif, indices.data() + size_t(y) * size_t(page->width), page->width) != GIF_ERROR;
  if (map) GifFreeMapObject(map);
  const bool closed = EGifCloseFile(gif, &error) != GIF_ERROR;
  if (!(ok && closed)) ::unlink(path.c_str());  // no half-written page left behind
  return ok && closed ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
