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

#include "pxclass/PxFileTypes.h"
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
  int xDpi = 0, yDpi = 0;                // as a page records it (0 beyond PX_MAX_DPI)
  double renderXDpi = 0, renderYDpi = 0;  // what the image's pixels need, however high
  std::vector<QPDFObjectHandle> all;      // every image of the page
  QPDFObjectHandle stream;
};

double ExactDpi(int pixels, double points) {
  if (points <= 0) return 0;
  const double dpi = pixels * 72.0 / points;
  return std::isfinite(dpi) && dpi > 0 ? dpi : 0;
}

int Dpi(int pixels, double points) {
  const double dpi = ExactDpi(pixels, points);
  return (dpi > 0 && dpi <= PX_MAX_DPI) ? int(std::lround(dpi)) : 0;
}

// The resolution a page is rendered at: its largest image's (so that image keeps its pixels), 150
// without images, lowered evenly when the page would pass the toolkit's page limits.
void RenderResolution(const PageImage& pi, double& xDpi, double& yDpi) {
  xDpi = pi.renderXDpi > 0 ? pi.renderXDpi : 150;
  yDpi = pi.renderYDpi > 0 ? pi.renderYDpi : 150;
  const double w = pi.pageWidth * xDpi / 72.0, h = pi.pageHeight * yDpi / 72.0;
  double scale = 1;
  if (w * h > double(PixelLimit())) scale = std::sqrt(double(PixelLimit()) / (w * h));
  if (w * h * 3 > double(PX_MAX_PAGE_BYTES))
    scale = std::min(scale, std::sqrt(double(PX_MAX_PAGE_BYTES) / (w * h * 3)));
  if (w * scale > PX_MAX_DIMENSION) scale = std::min(scale, PX_MAX_DIMENSION / w);
  if (h * scale > PX_MAX_DIMENSION) scale = std::min(scale, PX_MAX_DIMENSION / h);
  // Rounded up to whole pixels the page must still fit (the renderer may add a pixel either way).
  const auto fits = [&](double k) {
    const double pw = std::ceil(w * k) + 1, ph = std::ceil(h * k) + 1;
    return pw * ph <= double(PixelLimit()) && pw * ph * 3 <= double(PX_MAX_PAGE_BYTES) &&
           pw <= PX_MAX_DIMENSION && ph <= PX_MAX_DIMENSION;
  };
  if (scale < 1)
    for (int i = 0; i < 200 && !fits(scale); ++i) scale *= 0.995;
  xDpi *= scale;
  yDpi *= scale;
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
    pi.all.push_back(entry.second);
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
  pi.renderXDpi = ExactDpi(pi.width, pi.pageWidth);
  pi.renderYDpi = ExactDpi(pi.height, pi.pageHeight);
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
    result = JpegLoad(data, size, &page, false);
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

// The renderer draws nothing for an image it cannot decode and says so only on its error channel, so
// a page's images are decoded here first: one that does not decode fails the page rather than
// leaving a blank where it was. Codings decoded by neither (JBIG2, JPEG 2000) are left to the renderer.
int CheckImages(const PageImage& pi) {
  for (QPDFObjectHandle image : pi.all) {
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle filter = dict.getKey("/Filter");
    std::vector<std::string> filters;
    if (filter.isArray())
      for (int i = 0; i < filter.getArrayNItems(); ++i) filters.push_back(Name(filter.getArrayItem(i)));
    else if (filter.isName())
      filters.push_back(Name(filter));
    const std::string last = filters.empty() ? std::string() : filters.back();
    bool known = true;
    for (const std::string& f : filters)
      known = known &&
              (f == "/FlateDecode" || f == "/LZWDecode" || f == "/ASCIIHexDecode" || f == "/ASCII85Decode" ||
               f == "/RunLengthDecode" || (f == "/DCTDecode" && filters.size() == 1));
    if (!known) continue;
    std::shared_ptr<Buffer> data;
    try {
      // JPEG data is decoded by the toolkit's own decoder; the other codings by qpdf.
      data = last == "/DCTDecode" ? image.getRawStreamData() : image.getStreamData(qpdf_dl_specialized);
    } catch (...) {
      return PX_ERR_CORRUPT;
    }
    if (last == "/DCTDecode") {
      PxPage* decoded = nullptr;
      const int result = JpegLoad(data->getBuffer(), data->getSize(), &decoded, false);
      PxPageFree(decoded);
      if (result != PX_OK)
        return result == PX_ERR_TOO_LARGE || result == PX_ERR_NO_MEMORY ? result : PX_ERR_CORRUPT;
      continue;
    }
    QPDFObjectHandle w = dict.getKey("/Width"), h = dict.getKey("/Height"),
                     bpc = dict.getKey("/BitsPerComponent");
    if (!w.isInteger() || !h.isInteger() || !bpc.isInteger()) continue;
    if (dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue()) continue;
    // Samples per pixel from the colour space, where it says so plainly.
    QPDFObjectHandle space = dict.getKey("/ColorSpace");
    int components = 0;
    const std::string spaceName = Name(space);
    if (spaceName == "/DeviceGray") components = 1;
    if (spaceName == "/DeviceRGB") components = 3;
    if (spaceName == "/DeviceCMYK") components = 4;
    if (space.isArray() && space.getArrayNItems() > 0 && Name(space.getArrayItem(0)) == "/Indexed")
      components = 1;
    if (components == 0) continue;
    const long long rowBits = w.getIntValue() * components * bpc.getIntValue();
    const long long need = (rowBits + 7) / 8 * h.getIntValue();
    if (need > 0 && (long long)(data->getSize()) < need) return PX_ERR_CORRUPT;
  }
  return PX_OK;
}

int Render(const uint8_t* input, size_t count, int index, PageImage& pi, PxPage** out) {
  int checked = CheckImages(pi);
  if (checked != PX_OK) return checked;
  if (count > size_t(INT32_MAX)) return PX_ERR_TOO_LARGE;
  // Poppler's complaints about damaged files would go to standard error; results say enough.
  poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(reinterpret_cast<const char*>(input), int(count)));
  if (!doc || doc->is_locked()) return PX_ERR_CORRUPT;
  std::unique_ptr<poppler::page> page(doc->create_page(index));
  if (!page) return PX_ERR_PAGE;
  const poppler::rectf rect = page->page_rect();
  PageImage sized = pi;
  sized.pageWidth = rect.width();
  sized.pageHeight = rect.height();
  double xDpi = 0, yDpi = 0;
  RenderResolution(sized, xDpi, yDpi);
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
  PageHolder holder(
      NewPage(image.width(), image.height(), pi.depth, int(std::lround(xDpi)), int(std::lround(yDpi))));
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
    info->nFileType = PX_TYPE_PDF;
    info->nPages = int32_t(std::min<size_t>(d.pages.size(), PX_MAX_PAGES));
    info->nBitsPerPixel = pi.found ? pi.depth : 24;
    double xDpi = 0, yDpi = 0;
    RenderResolution(pi, xDpi, yDpi);
    info->nWidth =
        pi.direct ? pi.width : int32_t(std::min(std::ceil(pi.pageWidth * xDpi / 72.0 - 0.01), 1e9));
    info->nHeight =
        pi.direct ? pi.height : int32_t(std::min(std::ceil(pi.pageHeight * yDpi / 72.0 - 0.01), 1e9));
    info->nXDpi = xDpi <= PX_MAX_DPI ? int(std::lround(xDpi)) : 0;
    info->nYDpi = yDpi <= PX_MAX_DPI ? int(std::lround(yDpi)) : 0;
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
      // Damaged image data fails the page; only a coding this reader leaves alone goes to the renderer.
      if (result != PX_ERR_UNSUPPORTED) return result;
    }
    return Render(bytes, count, page - 1, pi, out);
  } catch (...) {
    return PX_ERR_CORRUPT;
  }
}

}  // namespace pxfile
