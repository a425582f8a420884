// PDF writer with incremental updates (see PdfWriter.h).
//
// Object numbers are fixed by page index, so an update needs only the page count and the offset of
// the previous cross-reference section, both read back from the file's last lines:
//   1 catalog, 2 page tree, then for page k (1-based): 3k page, 3k+1 content stream, 3k+2 image.
// A page with a text layer also uses the glyphless font's objects, numbered past every page's
// (kFontObj on); each update that has text writes them again, so no update depends on an earlier one.
#include "toolkit/file/PdfWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "pxclass/PxLimits.h"
#include "toolkit/file/JpegCodec.h"
#include "toolkit/file/TiffCodec.h"

namespace pxfile {

namespace {

constexpr const char* kMarker = "%PxPdf pages ";

struct Tail {
  long pages = 0;
  long long xref = 0;
  long long size = 0;  // file length
  long objects = 0;    // the last trailer's /Size, 0 when not read
};

constexpr long kFontObj = 3L * PX_MAX_PAGES + 3;  // Type0 font, CID font, descriptor, font file,
constexpr long kFontObjCount = 6;                 // ToUnicode map, CID-to-glyph map

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
          t.pages > 0 && t.pages < PX_MAX_PAGES && t.xref > 0 && t.xref < t.size && std::strstr(m, "%%EOF")) {
        result = PX_OK;
        const char* size = nullptr;
        for (const char* p = std::strstr(buf, "/Size "); p && p < m; p = std::strstr(p + 1, "/Size "))
          size = p;
        if (size && std::sscanf(size + 6, "%ld", &t.objects) != 1) t.objects = 0;
      }
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

// The text layer's font: a TrueType font whose glyphs are all empty and one em wide, so every
// character of the invisible text advances by the font size and each word's horizontal scale alone
// sets its width. Codes are UTF-16 units (Identity-H), the ToUnicode map sends each to itself.
void Put16(std::vector<uint8_t>& b, unsigned v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}
uint32_t TableSum(const std::vector<uint8_t>& t) {
  uint32_t sum = 0;
  for (size_t i = 0; i < t.size(); i += 4)
    sum += uint32_t(t[i]) << 24 | uint32_t(i + 1 < t.size() ? t[i + 1] : 0) << 16 |
           uint32_t(i + 2 < t.size() ? t[i + 2] : 0) << 8 | uint32_t(i + 3 < t.size() ? t[i + 3] : 0);
  return sum;
}

std::vector<uint8_t> GlyphlessFont() {
  std::vector<std::pair<const char*, std::vector<uint8_t>>> tables;
  std::vector<uint8_t> t;
  // cmap: one format 4 subtable with only the closing segment.
  Put16(t, 0), Put16(t, 1), Put16(t, 3), Put16(t, 1), Put32(t, 12);
  Put16(t, 4), Put16(t, 24), Put16(t, 0), Put16(t, 2), Put16(t, 2), Put16(t, 0), Put16(t, 0);
  Put16(t, 0xFFFF), Put16(t, 0), Put16(t, 0xFFFF), Put16(t, 1), Put16(t, 0);
  tables.push_back({"cmap", t});
  tables.push_back({"glyf", std::vector<uint8_t>(4, 0)});
  t.clear();  // head; the checksum adjustment (offset 8) is set last
  Put32(t, 0x00010000), Put32(t, 0x00010000), Put32(t, 0), Put32(t, 0x5F0F3CF5), Put16(t, 0x000B);
  Put16(t, 1000), t.insert(t.end(), 16, 0), Put16(t, 0), Put16(t, 0), Put16(t, 1000), Put16(t, 1000);
  Put16(t, 0), Put16(t, 3), Put16(t, 2), Put16(t, 0), Put16(t, 0);
  tables.push_back({"head", t});
  t.clear();  // hhea
  Put32(t, 0x00010000), Put16(t, 800), Put16(t, uint16_t(-200)), Put16(t, 0), Put16(t, 1000);
  for (int i = 0; i < 11; ++i) Put16(t, i == 3 ? 1 : 0);  // minLSB .. metricDataFormat; caret rise 1
  Put16(t, 2);
  tables.push_back({"hhea", t});
  t.clear();  // hmtx: both glyphs one em wide
  Put16(t, 1000), Put16(t, 0), Put16(t, 1000), Put16(t, 0);
  tables.push_back({"hmtx", t});
  tables.push_back({"loca", std::vector<uint8_t>(6, 0)});
  t.clear();  // maxp 1.0
  Put32(t, 0x00010000), Put16(t, 2);
  for (int i = 0; i < 13; ++i) Put16(t, i == 4 ? 2 : 0);  // maxZones 2
  tables.push_back({"maxp", t});
  t.clear();  // post 3.0: no glyph names
  Put32(t, 0x00030000), Put32(t, 0), Put16(t, uint16_t(-100)), Put16(t, 50);
  t.insert(t.end(), 20, 0);
  tables.push_back({"post", t});

  std::vector<uint8_t> font;
  const unsigned n = unsigned(tables.size());
  Put32(font, 0x00010000), Put16(font, n), Put16(font, 128), Put16(font, 3), Put16(font, n * 16 - 128);
  uint32_t offset = 12 + 16 * n;
  size_t headAt = 0;
  for (auto& [tag, data] : tables) {
    font.insert(font.end(), tag, tag + 4);
    Put32(font, TableSum(data)), Put32(font, offset), Put32(font, uint32_t(data.size()));
    if (std::strcmp(tag, "head") == 0) headAt = offset;
    offset += uint32_t((data.size() + 3) & ~size_t(3));
  }
  for (auto& entry : tables) {
    font.insert(font.end(), entry.second.begin(), entry.second.end());
    font.resize((font.size() + 3) & ~size_t(3), 0);
  }
  const uint32_t adjust = 0xB1B0AFBA - TableSum(font);
  for (int i = 0; i < 4; ++i) font[headAt + 8 + i] = uint8_t(adjust >> (24 - 8 * i));
  return font;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
  uLongf length = compressBound(uLong(raw.size()));
  std::vector<uint8_t> data(length);
  if (compress2(data.data(), &length, raw.data(), uLong(raw.size()), 9) != Z_OK) return {};
  data.resize(length);
  return data;
}

void FontObjects(Out& out, std::vector<std::pair<long, long long>>& offsets) {
  const long f = kFontObj;
  auto object = [&](long number, const std::string& body) {
    offsets.push_back({number, out.Offset()});
    out.Text(Format("%ld 0 obj\n", number) + body + "\nendobj\n");
  };
  auto stream = [&](long number, const std::string& dict, const std::vector<uint8_t>& data) {
    offsets.push_back({number, out.Offset()});
    out.Text(Format("%ld 0 obj\n<<%s/Length %zu>>\nstream\n", number, dict.c_str(), data.size()));
    out.Bytes(data);
    out.Text("\nendstream\nendobj\n");
  };
  object(f, Format("<</Type/Font/Subtype/Type0/BaseFont/PxGlyphless/Encoding/Identity-H"
                   "/DescendantFonts[%ld 0 R]/ToUnicode %ld 0 R>>",
                   f + 1, f + 4));
  object(f + 1, Format("<</Type/Font/Subtype/CIDFontType2/BaseFont/PxGlyphless"
                       "/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>"
                       "/FontDescriptor %ld 0 R/DW 1000/CIDToGIDMap %ld 0 R>>",
                       f + 2, f + 5));
  object(f + 2, Format("<</Type/FontDescriptor/FontName/PxGlyphless/Flags 5/FontBBox[0 -200 1000 800]"
                       "/ItalicAngle 0/Ascent 800/Descent -200/CapHeight 800/StemV 80/FontFile2 %ld 0 R>>",
                       f + 3));
  const std::vector<uint8_t> ttf = GlyphlessFont();
  stream(f + 3, Format("/Length1 %zu", ttf.size()), ttf);
  std::string cmap =
      "/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
      "/CMapName/PxGlyphless-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n";
  std::vector<unsigned> highs;  // every high byte but the surrogates', which are never written
  for (unsigned hi = 0; hi < 256; ++hi)
    if (hi < 0xD8 || hi > 0xDF) highs.push_back(hi);
  for (size_t i = 0; i < highs.size(); i += 100) {
    const size_t n = std::min<size_t>(100, highs.size() - i);
    cmap += Format("%zu beginbfrange\n", n);
    for (size_t j = i; j < i + n; ++j)
      cmap += Format("<%02X00><%02XFF><%02X00>\n", highs[j], highs[j], highs[j]);
    cmap += "endbfrange\n";
  }
  cmap += "endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n";
  stream(f + 4, "", std::vector<uint8_t>(cmap.begin(), cmap.end()));
  std::vector<uint8_t> gids(2 * 65536);
  for (size_t i = 1; i < gids.size(); i += 2) gids[i] = 1;  // every code shows glyph 1
  stream(f + 5, "/Filter/FlateDecode", Deflate(gids));
}

// UTF-8 to the font's codes, four hex digits each; what UTF-16 needs two units for (and bad UTF-8)
// becomes U+FFFD, so each code is one character.
std::string HexCodes(const char* s, size_t& count) {
  std::string hex;
  count = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    unsigned cp = 0xFFFD;
    int extra = *p < 0x80 ? 0 : (*p >> 5) == 6 ? 1 : (*p >> 4) == 14 ? 2 : (*p >> 3) == 30 ? 3 : -1;
    if (extra < 0) {
      ++p;
    } else {
      unsigned v = extra == 0 ? *p : extra == 1 ? (*p & 0x1F) : extra == 2 ? (*p & 0x0F) : (*p & 0x07);
      ++p;
      bool ok = true;
      for (int i = 0; i < extra; ++i, ++p) {
        if ((*p & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        v = (v << 6) | (*p & 0x3F);
      }
      if (ok && v <= 0xFFFF && (v < 0xD800 || v > 0xDFFF) && v >= 0x20) cp = v;
    }
    hex += Format("%04X", cp);
    ++count;
  }
  return hex;
}

// One text object per line, in reading order; each word on its own baseline, scaled to its box's
// width by the text matrix, and a space after every word but the line's last.
std::string TextLayer(const PxPage* page, const PxOcrText* text, double xDpi, double yDpi) {
  const double sx = 72.0 / xDpi, sy = 72.0 / yDpi, pageH = page->height * sy;
  std::string content;
  for (int32_t i = 0; i < text->lineCount; ++i) {
    const PxOcrLine& line = text->lines[i];
    if (line.wordCount <= 0 || !line.words) continue;
    // The line's words share one baseline across the axis (the mean of theirs): readers that order
    // text by position then keep a skewed line together.
    double across = 0;
    int counted = 0;
    for (int32_t j = 0; j < line.wordCount; ++j) {
      const PxOcrWord& w = line.words[j];
      const double dx = (w.endX - w.baseX) * sx, dy = -(w.endY - w.baseY) * sy;
      const double midX = (w.baseX + w.endX) / 2 * sx, midY = pageH - (w.baseY + w.endY) / 2 * sy;
      across += std::fabs(dx) >= std::fabs(dy) ? midY : midX;
      ++counted;
    }
    across /= std::max(1, counted);
    content += "BT 3 Tr /F0 1 Tf\n";
    for (int32_t j = 0; j < line.wordCount; ++j) {
      const PxOcrWord& w = line.words[j];
      if (!w.text || !*w.text) continue;
      size_t count = 0;
      const std::string hex = HexCodes(w.text, count);
      double dx = (w.endX - w.baseX) * sx, dy = -(w.endY - w.baseY) * sy;
      double length = std::hypot(dx, dy);
      if (!(length > 0)) {
        dx = std::max(1, w.right - w.left) * sx, dy = 0;
        length = dx;
      }
      // Text readers split a word whose characters climb, so a slightly skewed word lies along the
      // nearest page axis, through the middle of its baseline, as long as its projection.
      double ux = 0, uy = 0;
      if (std::fabs(dx) >= std::fabs(dy))
        ux = dx > 0 ? 1 : -1;
      else
        uy = dy > 0 ? 1 : -1;
      double midX = (w.baseX + w.endX) / 2 * sx, midY = pageH - (w.baseY + w.endY) / 2 * sy;
      (ux != 0 ? midY : midX) = across;
      length = std::fabs(dx * ux + dy * uy);
      const double originX = midX - ux * length / 2, originY = midY - uy * length / 2;
      const double scale = length / double(count), size = std::max(1.0, w.size) * sy;
      content += Format("%s %s %s %s %s %s Tm <", Number(scale * ux).c_str(), Number(scale * uy).c_str(),
                        Number(-size * uy).c_str(), Number(size * ux).c_str(), Number(originX).c_str(),
                        Number(originY).c_str()) +
                 hex + "> Tj";
      content += j + 1 < line.wordCount ? " <0020> Tj\n" : "\n";
    }
    content += "ET\n";
  }
  return content;
}

}  // namespace

int PdfSave(const PxPage* page, const std::string& path, PdfCoding coding, int jpegQuality, bool append,
            const PxOcrText* text) {
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

  const bool hasText = text && text->lineCount > 0 && text->lines;
  const std::string textLayer = hasText ? TextLayer(page, text, xDpi, yDpi) : "";
  const std::string fonts = hasText ? Format("/Font<</F0 %ld 0 R>>", kFontObj) : "";

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
  out.Text(Format(
      "%ld 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 %s %s]/Resources<</XObject<</Im0 %ld 0 R>>%s>>"
      "/Contents %ld 0 R>>\nendobj\n",
      pageObj, w.c_str(), h.c_str(), imageObj, fonts.c_str(), contentObj));
  const std::string content = Format("q %s 0 0 %s 0 0 cm /Im0 Do Q\n", w.c_str(), h.c_str()) + textLayer;
  offsets.push_back({contentObj, out.Offset()});
  out.Text(Format("%ld 0 obj\n<</Length %zu>>\nstream\n", contentObj, content.size()));
  out.Text(content + "endstream\nendobj\n");
  offsets.push_back({imageObj, out.Offset()});
  out.Text(Format("%ld 0 obj\n<</Type/XObject/Subtype/Image/Width %d/Height %d%s/Length %zu>>\nstream\n",
                  imageObj, page->width, page->height, imageDict.c_str(), image.size()));
  out.Bytes(image);
  out.Text("\nendstream\nendobj\n");
  if (hasText) FontObjects(out, offsets);
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
  const long size = std::max({imageObj + 1, tail.objects, hasText ? kFontObj + kFontObjCount : 0L});
  std::string trailer = Format("trailer\n<</Size %ld/Root 1 0 R", size);
  if (append) trailer += Format("/Prev %lld", tail.xref);
  trailer += Format(">>\n%s%ld\nstartxref\n%lld\n%%%%EOF\n", kMarker, k, xref);
  out.Text(trailer);
  return WriteFile(path, out.Data().data(), out.Data().size(), append);
}

}  // namespace pxfile
