// PDF writer with incremental updates (see PdfWriter.h).
//
// Object numbers are fixed by page index, so an update needs only the page count and the offset of
// the previous cross-reference section, both read back from the file's last lines:
//   1 catalog, 2 page tree, then for page k (1-based): 3k page, 3k+1 content stream, 3k+2 image.
#include "toolkit/file/PdfWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "toolkit/file/JpegCodec.h"
#include "toolkit/file/TiffCodec.h"

namespace pxfile {

namespace {

constexpr const char* kMarker = "%PxPdf pages ";

struct Tail {
  long pages = 0;
  long long xref = 0;
  long long size = 0;  // file length
};

// Reads "%PxPdf pages N\nstartxref\nX\n%%EOF\n" from the end of a file written here.
int ReadTail(const std::string& path, Tail& t) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return PX_ERR_APPEND;
  char buf[160] = {0};
  int result = PX_ERR_APPEND;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    t.size = std::ftell(f);
    const long take = t.size < long(sizeof(buf) - 1) ? long(t.size) : long(sizeof(buf) - 1);
    if (take > 0 && std::fseek(f, -take, SEEK_END) == 0 &&
        std::fread(buf, 1, size_t(take), f) == size_t(take)) {
      const char* m = nullptr;
      for (const char* p = std::strstr(buf, kMarker); p; p = std::strstr(p + 1, kMarker)) m = p;
      if (m &&
          std::sscanf(m + std::strlen(kMarker), "%ld\nstartxref\n%lld\n%%%%EOF", &t.pages, &t.xref) == 2 &&
          t.pages > 0 && t.pages < PX_MAX_PAGES && t.xref > 0 && t.xref < t.size && std::strstr(m, "%%EOF"))
        result = PX_OK;
    }
  }
  std::fclose(f);
  return result;
}

class Out {
 public:
  explicit Out(long long base) : m_nBase(base) {}
  void Text(const std::string& s) { m_data.insert(m_data.end(), s.begin(), s.end()); }
  void Bytes(const std::vector<uint8_t>& b) { m_data.insert(m_data.end(), b.begin(), b.end()); }
  long long Offset() const { return m_nBase + (long long)m_data.size(); }
  const std::vector<uint8_t>& Data() const { return m_data; }

 private:
  long long m_nBase;
  std::vector<uint8_t> m_data;
};

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  char buf[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof(buf), fmt, args);
  va_end(args);
  return buf;
}

std::string Number(double v) {
  std::string s = Format("%.4f", v);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

int EncodeImage(const PxPage* page, PdfCoding coding, int quality, std::vector<uint8_t>& data,
                std::string& dict) {
  const int bpp = page->bitsPerPixel;
  if (coding == PdfCoding::Group4 || (coding == PdfCoding::Flate && bpp == 1)) {
    int result = EncodeG4(page, data);
    if (result != PX_OK) return result;
    dict = Format(
        "/ColorSpace/DeviceGray/BitsPerComponent 1/Filter/CCITTFaxDecode"
        "/DecodeParms<</K -1/Columns %d/Rows %d/BlackIs1 false>>",
        page->width, page->height);
    return PX_OK;
  }
  const char* space = bpp == 24 ? "/DeviceRGB" : "/DeviceGray";
  if (coding == PdfCoding::Jpeg) {
    int result = JpegEncode(page, quality, data);
    if (result != PX_OK) return result;
    dict = Format("/ColorSpace%s/BitsPerComponent 8/Filter/DCTDecode", space);
    return PX_OK;
  }
  const size_t rowBytes = size_t(page->width) * size_t(bpp / 8);
  std::vector<uint8_t> raw(rowBytes * size_t(page->height));
  for (int32_t y = 0; y < page->height; ++y)
    std::memcpy(raw.data() + size_t(y) * rowBytes, PxPageRow(page, y), rowBytes);
  uLongf length = compressBound(uLong(raw.size()));
  data.resize(length);
  if (compress2(data.data(), &length, raw.data(), uLong(raw.size()), 6) != Z_OK) return PX_ERR_INTERNAL;
  data.resize(length);
  dict = Format("/ColorSpace%s/BitsPerComponent 8/Filter/FlateDecode", space);
  return PX_OK;
}

}  // namespace

int PdfSave(const PxPage* page, const std::string& path, PdfCoding coding, int jpegQuality, bool append) {
  if ((coding == PdfCoding::Jpeg && page->bitsPerPixel == 1) ||
      (coding == PdfCoding::Group4 && page->bitsPerPixel != 1))
    return PX_ERR_PARAMETER;
  Tail tail;
  if (append) {
    int result = ReadTail(path, tail);
    if (result != PX_OK) return result;
  }
  std::vector<uint8_t> image;
  std::string imageDict;
  int result = EncodeImage(page, coding, jpegQuality, image, imageDict);
  if (result != PX_OK) return result;

  const long k = tail.pages + 1;  // this page's index
  const long pageObj = 3 * k, contentObj = pageObj + 1, imageObj = pageObj + 2;
  const double xDpi = page->xDpi > 0 ? page->xDpi : 72, yDpi = page->yDpi > 0 ? page->yDpi : 72;
  const std::string w = Number(page->width * 72.0 / xDpi), h = Number(page->height * 72.0 / yDpi);

  Out out(append ? tail.size : 0);
  std::vector<std::pair<long, long long>> offsets;  // object number, offset
  if (!append) {
    out.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    offsets.push_back({1, out.Offset()});
    out.Text("1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n");
  } else {
    out.Text("\n");
  }
  offsets.push_back({pageObj, out.Offset()});
  out.Text(
      Format("%ld 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 %s %s]/Resources<</XObject<</Im0 %ld 0 R>>>>"
             "/Contents %ld 0 R>>\nendobj\n",
             pageObj, w.c_str(), h.c_str(), imageObj, contentObj));
  const std::string content = Format("q %s 0 0 %s 0 0 cm /Im0 Do Q\n", w.c_str(), h.c_str());
  offsets.push_back({contentObj, out.Offset()});
  out.Text(Format("%ld 0 obj\n<</Length %zu>>\nstream\n", contentObj, content.size()));
  out.Text(content + "endstream\nendobj\n");
  offsets.push_back({imageObj, out.Offset()});
  out.Text(Format("%ld 0 obj\n<</Type/XObject/Subtype/Image/Width %d/Height %d%s/Length %zu>>\nstream\n",
                  imageObj, page->width, page->height, imageDict.c_str(), image.size()));
  out.Bytes(image);
  out.Text("\nendstream\nendobj\n");
  offsets.push_back({2, out.Offset()});
  std::string kids;
  for (long i = 1; i <= k; ++i) kids += Format("%s%ld 0 R", i > 1 ? " " : "", 3 * i);
  out.Text("2 0 obj\n<</Type/Pages/Count " + std::to_string(k) + "/Kids[" + kids + "]>>\nendobj\n");

  // Cross-reference section: one subsection per run of consecutive object numbers.
  const long long xref = out.Offset();
  std::sort(offsets.begin(), offsets.end());
  std::string table = "xref\n";
  if (!append) table += "0 1\n0000000000 65535 f \n";
  for (size_t i = 0; i < offsets.size();) {
    size_t j = i;
    while (j + 1 < offsets.size() && offsets[j + 1].first == offsets[j].first + 1) ++j;
    table += Format("%ld %zu\n", offsets[i].first, j - i + 1);
    for (size_t n = i; n <= j; ++n) table += Format("%010lld 00000 n \n", offsets[n].second);
    i = j + 1;
  }
  out.Text(table);
  std::string trailer = Format("trailer\n<</Size %ld/Root 1 0 R", imageObj + 1);
  if (append) trailer += Format("/Prev %lld", tail.xref);
  trailer += Format(">>\n%s%ld\nstartxref\n%lld\n%%%%EOF\n", kMarker, k, xref);
  out.Text(trailer);
  return WriteFile(path, out.Data().data(), out.Data().size(), append);
}

}  // namespace pxfile
