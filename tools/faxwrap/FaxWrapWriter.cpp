#include "tools/faxwrap/FaxWrapWriter.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A temporary file name in $TMPDIR (else /tmp); removed by the caller.
std::string TempName() {
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/faxwrap.XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::string();
  ::close(fd);
  return name;
}

void Quiet(const char*, const char*, va_list) {}

}  // namespace

void FaxWrapWriter::AppendBlock(std::vector<uint8_t>& out, uint8_t kind, const std::vector<uint8_t>& payload,
                                uint32_t headerLength) {
  const uint32_t header = std::max<uint32_t>(headerLength, 8);
  PutLe32(out, static_cast<uint32_t>(header + payload.size()));
  out.push_back(static_cast<uint8_t>(headerLength));
  out.push_back(static_cast<uint8_t>(headerLength >> 8));
  out.push_back(0);
  out.push_back(kind);
  out.insert(out.end(), header - 8, 0xEE);
  out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> FaxWrapWriter::StartOfPage(int32_t width, int32_t height, int32_t xRes, int32_t yRes) {
  std::vector<uint8_t> r(36, 0);
  r[0] = 0;
  r[4] = static_cast<uint8_t>(width >> 8);
  r[5] = static_cast<uint8_t>(width);
  PutBe32(&r[8], static_cast<uint32_t>(height));
  PutBe32(&r[12], static_cast<uint32_t>(xRes) << 16);
  PutBe32(&r[16], static_cast<uint32_t>(yRes) << 16);
  return r;
}

std::vector<uint8_t> FaxWrapWriter::Raster(const uint8_t* data, uint32_t length) {
  std::vector<uint8_t> r = {1, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  r.insert(r.end(), data, data + length);
  return r;
}

std::vector<uint8_t> FaxWrapWriter::EndOfImage() {
  std::vector<uint8_t> r(12, 0);
  r[0] = 2;
  return r;
}

std::vector<uint8_t> FaxWrapWriter::Wrap(const std::vector<Page>& pages, const Options& options) {
  std::vector<uint8_t> out;
  const uint32_t recordBytes = std::clamp<uint32_t>(options.recordBytes, 1, 32767);
  const uint32_t perBlock = std::max<uint32_t>(options.recordsPerBlock, 1);
  // What a device sends between a suspend and a resume (status, other streams): not blocks a reader
  // may parse.
  static const uint8_t filler[] = {0x2c, 0, 0, 0, 0x08, 0, 0, 0x02, 0xff, 0x00, 0x01, 0x7f, 0x30, 0x31};
  for (const Page& page : pages) {
    AppendBlock(out, 1, StartOfPage(page.width, page.height, page.xRes, page.yRes));
    size_t at = 0, sinceResume = 0;
    while (at < page.fax.size()) {
      if (options.suspendEvery > 0 && sinceResume >= options.suspendEvery) {
        AppendBlock(out, 2, EndOfImage());
        if (options.fillerBetweenPages) out.insert(out.end(), std::begin(filler), std::end(filler));
        AppendBlock(out, 1, StartOfPage(page.width, page.height, page.xRes, page.yRes));
        sinceResume = 0;
      }
      const size_t before = at;
      std::vector<uint8_t> payload;
      for (uint32_t r = 0; r < perBlock && at < page.fax.size(); ++r) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(recordBytes, page.fax.size() - at));
        const std::vector<uint8_t> record = Raster(page.fax.data() + at, n);
        payload.insert(payload.end(), record.begin(), record.end());
        at += n;
      }
      AppendBlock(out, 0, payload, options.headerLength);
      sinceResume += at - before;
    }
    AppendBlock(out, 2, EndOfImage());
    if (options.fillerBetweenPages) out.insert(out.end(), std::begin(filler), std::end(filler));
  }
  return out;
}

std::vector<uint8_t> FaxWrapWriter::EncodeG3(const std::vector<uint8_t>& rows, int32_t width, int32_t height,
                                             bool fillBits) {
  const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
  if (width <= 0 || height <= 0 || rows.size() < rowBytes * static_cast<size_t>(height)) return {};
  const std::string name = TempName();
  if (name.empty()) return {};
  TIFFSetWarningHandler(Quiet);
  std::vector<uint8_t> result;
  if (TIFF* t = TIFFOpen(name.c_str(), "w")) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, fillBits ? GROUP3OPT_FILLBITS : 0);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
    bool ok = true;
    std::vector<uint8_t> row(rowBytes);
    for (int32_t y = 0; y < height && ok; ++y) {
      std::memcpy(row.data(), rows.data() + rowBytes * static_cast<size_t>(y), rowBytes);
      ok = TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(t);
    if (ok) {
      if (TIFF* r = TIFFOpen(name.c_str(), "r")) {
        const tmsize_t size = TIFFRawStripSize(r, 0);
        if (size > 0) {
          result.resize(static_cast<size_t>(size));
          if (TIFFReadRawStrip(r, 0, result.data(), size) != size) result.clear();
        }
        TIFFClose(r);
      }
    }
  }
  ::unlink(name.c_str());
  return result;
}

bool FaxWrapWriter::ReadTiffPages(const std::string& path, std::vector<Page>& pages, std::string& error) {
  TIFFSetWarningHandler(Quiet);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (t == nullptr) {
    error = "cannot open " + path + " as TIFF";
    return false;
  }
  bool ok = true;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    if (w == 0 || h == 0 || w > 65535 || h > 65535) {
      error = "page size out of range";
      ok = false;
      break;
    }
    std::vector<uint32_t> rgba(static_cast<size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(t, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
      error = "cannot decode a page";
      ok = false;
      break;
    }
    Page page;
    page.width = static_cast<int32_t>(w);
    page.height = static_cast<int32_t>(h);
    float xr = 0, yr = 0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xr) && xr >= 1) page.xRes = static_cast<int32_t>(xr + 0.5f);
    if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &yr) && yr >= 1) page.yRes = static_cast<int32_t>(yr + 0.5f);
    const size_t rowBytes = (w + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * h, 0);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t p = rgba[static_cast<size_t>(y) * w + x];
        const uint32_t grey = (TIFFGetR(p) * 299 + TIFFGetG(p) * 587 + TIFFGetB(p) * 114) / 1000;
        if (grey < 128) rows[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    page.fax = EncodeG3(rows, page.width, page.height);
    if (page.fax.empty()) {
      error = "Group 3 encoding failed";
      ok = false;
      break;
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(t));
  TIFFClose(t);
  return ok;
}
