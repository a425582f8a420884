// PDF input through qpdf (structure, image streams) and poppler (rendering); see PdfReader.h.
#include "toolkit/pdfread/PdfReader.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <qpdf/JSON.hh>  // complete before QPDF.hh for clang
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "toolkit/file/JpegCodec.h"
#include "toolkit/file/TiffCodec.h"

namespace pxfile {

namespace {

// What a page is made of, as far as loading needs to know.
struct PageImage {
  bool found = false;   // the page has an image
  bool direct = false;  // one image over the whole page, in a coding decoded here
  int width = 0, height = 0, depth = 24;
  double pageWidth = 0, pageHeight = 0;  // points
  int xDpi = 0, yDpi = 0;
  QPDFObjectHandle stream;
};

int Dpi(int pixels, double points) {
  if (points <= 0) return 0;
  const double dpi = pixels * 72.0 / points;
  return (dpi > 0 && dpi <= PX_MAX_DPI) ? int(std::lround(dpi)) : 0;
}

std::string Name(QPDFObjectHandle h) {
  return h.isName() ? h.getName() : std::string();
}

void Inspect(QPDFPageObjectHelper& page, PageImage& pi) {
  QPDFObjectHandle box = page.getMediaBox(false);
  if (box.isRectangle()) {
    const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
    pi.pageWidth = std::fabs(r.urx - r.llx);
    pi.pageHeight = std::fabs(r.ury - r.lly);
  }
  std::map<std::string, QPDFObjectHandle> images = page.getImages();
  long long best = -1;
  for (auto& entry : images) {
    QPDFObjectHandle dict = entry.second.getDict();
    QPDFObjectHandle w = dict.getKey("/Width"), h = dict.getKey("/Height");
    if (!w.isInteger() || !h.isInteger()) continue;
    const long long area = w.getIntValue() * h.getIntValue();
    if (area <= best) continue;
    best = area;
    pi.found = true;
    pi.stream = entry.second;
    pi.width = int(std::min<long long>(w.getIntValue(), PX_MAX_DIMENSION + 1LL));
    pi.height = int(std::min<long long>(h.getIntValue(), PX_MAX_DIMENSION + 1LL));
    QPDFObjectHandle bpc = dict.getKey("/BitsPerComponent");
    const std::string space = Name(dict.getKey("/ColorSpace"));
    pi.depth = (bpc.isInteger() && bpc.getIntValue() == 1) ? 1 : space == "/DeviceGray" ? 8 : 24;
  }
  if (!pi.found) return;
  pi.xDpi = Dpi(pi.width, pi.pageWidth);
  pi.yDpi = Dpi(pi.height, pi.pageHeight);
  if (images.size() != 1) return;
  QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
  if (rotate.isInteger() && rotate.getIntValue() % 360 != 0) return;
  QPDFObjectHandle dict = pi.stream.getDict();
  if (dict.hasKey("/Decode") || dict.hasKey("/ImageMask") || dict.hasKey("/SMask") || dict.hasKey("/Mask"))
    return;
  const std::string space = Name(dict.getKey("/ColorSpace"));
  if (space != "/DeviceGray" && space != "/DeviceRGB") return;
  // Only a content stream that does no more than place the image counts as "one image".
  std::string content;
  QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
  if (contents.isStream()) {
    std::shared_ptr<Buffer> b = contents.getStreamData(qpdf_dl_generalized);
    if (b->getSize() > 256) return;
    content.assign(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
  } else {
    return;
  }
  for (const char* op : {"Tj", "TJ", " re", " l\n", " l ", " m ", " c ", "BI"})
    if (content.find(op) != std::string::npos) return;
  pi.direct = true;
}

// Inflates at most `expected` bytes; more input than that is ignored (a bomb stops at the page).
int Inflate(const std::string& in, size_t expected, std::vector<uint8_t>& out) {
  out.assign(expected, 0);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return PX_ERR_INTERNAL;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(expected);
  int rc = Z_OK;
  while (z.avail_out > 0 && rc == Z_OK) rc = inflate(&z, Z_NO_FLUSH);
  inflateEnd(&z);
  return z.avail_out == 0 ? PX_OK : PX_ERR_CORRUPT;
}

int DecodeDirect(PageImage& pi, PxPage** out) {
  QPDFObjectHandle dict = pi.stream.getDict();
  QPDFObjectHandle filter = dict.getKey("/Filter");
  if (filter.isArray() && filter.getArrayNItems() == 1) filter = filter.getArrayItem(0);
  QPDFObjectHandle parms = dict.getKey("/DecodeParms");
  if (parms.isArray() && parms.getArrayNItems() == 1) parms = parms.getArrayItem(0);
  const std::string name = Name(filter);
  const std::shared_ptr<Buffer> raw = pi.stream.getRawStreamData();
  const uint8_t* data = raw->getBuffer();
  const size_t size = raw->getSize();
  PxPage* page = nullptr;
  int result = PX_ERR_UNSUPPORTED;
  if (name == "/DCTDecode") {
    result = JpegLoad(data, size, &page);
  } else if (name == "/CCITTFaxDecode" && pi.depth == 1) {
    long k = 0;
    bool blackIs1 = false;
    if (parms.isDictionary()) {
      if (parms.getKey("/K").isInteger()) k = long(parms.getKey("/K").getIntValue());
      if (parms.getKey("/BlackIs1").isBool()) blackIs1 = parms.getKey("/BlackIs1").getBoolValue();
    }
    const int flags = (k < 0   ? PX_FAX_G4
                       : k > 0 ? PX_FAX_G3_2D
                               : PX_FAX_G3_1D) |
                      (blackIs1 ? PX_FAX_BLACK_IS_1 : 0);
    result = DecodeFax(data, size, pi.width, pi.height, flags, 0, 0, &page);
  } else if ((name == "/FlateDecode" || name.empty()) &&
             !(parms.isDictionary() && parms.hasKey("/Predictor"))) {
    const int bpc = pi.depth == 1 ? 1 : 8;
    const int components = pi.depth == 24 ? 3 : 1;
    const size_t rowBytes = (size_t(pi.width) * size_t(components * bpc) + 7) / 8;
    const size_t expected = rowBytes * size_t(pi.height);
    std::vector<uint8_t> samples;
    if (name.empty()) {
      if (size < expected) return PX_ERR_READ;
      samples.assign(data, data + expected);
      result = PX_OK;
    } else {
      result = Inflate(std::string(reinterpret_cast<const char*>(data), size), expected, samples);
    }
    if (result == PX_OK) {
      PageHolder holder(NewPage(pi.width, pi.height, pi.depth, 0, 0));
      if (!holder.get()) return PX_ERR_NO_MEMORY;
      for (int y = 0; y < pi.height; ++y)
        std::memcpy(PxPageRow(holder.get(), y), samples.data() + size_t(y) * rowBytes, rowBytes);
      page = holder.release();
    }
  }
  if (result != PX_OK) return result;
  if (page->width != pi.width || page->height != pi.height) {
    PxPageFree(page);
    return PX_ERR_CORRUPT;
  }
  page->xDpi = pi.xDpi;
  page->yDpi = pi.yDpi;
  *out = page;
  return PX_OK;
}

int Render(const uint8_t* input, size_t count, int index, PageImage& pi, PxPage** out) {
  if (count > size_t(INT32_MAX)) return PX_ERR_TOO_LARGE;
  // Poppler's complaints about damaged files would go to standard error; results say enough.
  poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(reinterpret_cast<const char*>(input), int(count)));
  if (!doc || doc->is_locked()) return PX_ERR_CORRUPT;
  std::unique_ptr<poppler::page> page(doc->create_page(index));
  if (!page) return PX_ERR_PAGE;
  const poppler::rectf rect = page->page_rect();
  const double xDpi = pi.xDpi > 0 ? pi.xDpi : 150, yDpi = pi.yDpi > 0 ? pi.yDpi : 150;
  const double w = std::ceil(rect.width() * xDpi / 72.0 - 0.01),
               h = std::ceil(rect.height() * yDpi / 72.0 - 0.01);
  if (!(w >= 1 && h >= 1 && w <= PX_MAX_DIMENSION && h <= PX_MAX_DIMENSION)) return PX_ERR_TOO_LARGE;
  int result = CheckPageSize((long long)w, (long long)h);
  if (result != PX_OK) return result;
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, pi.depth != 1);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, pi.depth != 1);
  renderer.set_image_format(poppler::image::format_rgb24);
  poppler::image image = renderer.render_page(page.get(), xDpi, yDpi);
  if (!image.is_valid() || image.width() <= 0 || image.height() <= 0) return PX_ERR_CORRUPT;
  result = CheckPageSize(image.width(), image.height());
  if (result != PX_OK) return result;
  PageHolder holder(NewPage(image.width(), image.height(), pi.depth, int(xDpi), int(yDpi)));
  if (!holder.get()) return PX_ERR_NO_MEMORY;
  const int format = image.format();
  // rgb24 is three bytes R, G, B; bgr24 three bytes B, G, R; argb32 a native-order word: B, G, R, A.
  const int bytes = format == poppler::image::format_argb32 ? 4 : 3;
  const bool rgb = format == poppler::image::format_rgb24;
  if (format != poppler::image::format_bgr24 && !rgb && format != poppler::image::format_argb32)
    return PX_ERR_UNSUPPORTED;
  if (image.bytes_per_row() < 0 || size_t(image.bytes_per_row()) < size_t(image.width()) * size_t(bytes))
    return PX_ERR_INTERNAL;
  for (int y = 0; y < image.height(); ++y) {
    const uint8_t* src =
        reinterpret_cast<const uint8_t*>(image.const_data()) + size_t(y) * size_t(image.bytes_per_row());
    uint8_t* dst = PxPageRow(holder.get(), y);
    for (int x = 0; x < image.width(); ++x) {
      const uint8_t* p = src + size_t(x) * size_t(bytes);
      const int r = rgb ? p[0] : p[2], g = p[1], b = rgb ? p[2] : p[0];
      if (holder->bitsPerPixel == 24)
        dst[x * 3] = uint8_t(r), dst[x * 3 + 1] = uint8_t(g), dst[x * 3 + 2] = uint8_t(b);
      else if (holder->bitsPerPixel == 8)
        dst[x] = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
      else
        SetBit(dst, x, g >= 128);
    }
  }
  *out = holder.release();
  return PX_OK;
}

struct Document {
  QPDF pdf;
  std::vector<QPDFPageObjectHelper> pages;
};

int Open(const uint8_t* bytes, size_t count, Document& d) {
  d.pdf.setSuppressWarnings(true);
  d.pdf.setAttemptRecovery(true);
  d.pdf.processMemoryFile("input.pdf", reinterpret_cast<const char*>(bytes), count);
  d.pages = QPDFPageDocumentHelper(d.pdf).getAllPages();
  return d.pages.empty() ? PX_ERR_CORRUPT : PX_OK;
}

}  // namespace

int PdfInfo(const uint8_t* bytes, size_t count, PxFileInfo* info) {
  try {
    Document d;
    int result = Open(bytes, count, d);
    if (result != PX_OK) return result;
    PageImage pi;
    Inspect(d.pages[0], pi);
    info->nFileType = 146;
    info->nPages = int32_t(std::min<size_t>(d.pages.size(), PX_MAX_PAGES));
    info->nBitsPerPixel = pi.found ? pi.depth : 24;
    const double xDpi = pi.xDpi > 0 ? pi.xDpi : 150, yDpi = pi.yDpi > 0 ? pi.yDpi : 150;
    info->nWidth = pi.direct ? pi.width : int32_t(std::min(pi.pageWidth * xDpi / 72.0, 1e9));
    info->nHeight = pi.direct ? pi.height : int32_t(std::min(pi.pageHeight * yDpi / 72.0, 1e9));
    info->nXDpi = int(xDpi);
    info->nYDpi = int(yDpi);
    return PX_OK;
  } catch (...) {
    return PX_ERR_CORRUPT;
  }
}

int PdfLoad(const uint8_t* bytes, size_t count, int page, PxPage** out) {
  try {
    Document d;
    int result = Open(bytes, count, d);
    if (result != PX_OK) return result;
    if (page < 1 || size_t(page) > d.pages.size()) return PX_ERR_PAGE;
    PageImage pi;
    Inspect(d.pages[size_t(page - 1)], pi);
    if (pi.direct) {
      result = CheckPageSize(pi.width, pi.height);
      if (result != PX_OK) return result;
      result = DecodeDirect(pi, out);
      if (result == PX_OK) return result;
    }
    return Render(bytes, count, page - 1, pi, out);
  } catch (...) {
    return PX_ERR_CORRUPT;
  }
}

}  // namespace pxfile
