// JPEG through libjpeg-turbo (see JpegCodec.h). ITU-T T.81 / JFIF 1.02.
#include "toolkit/file/JpegCodec.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>

namespace pxfile {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end) end the decode: a page padded with grey is not a success.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) OnError(cinfo);
}

void Silent(j_common_ptr) {}

void SetupErrors(ErrorManager& err, jpeg_common_struct* cinfo) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.pub.output_message = Silent;
}

void Resolution(const jpeg_decompress_struct& cinfo, int& x, int& y) {
  x = y = 0;
  if (cinfo.density_unit == 1) {
    x = cinfo.X_density;
    y = cinfo.Y_density;
  } else if (cinfo.density_unit == 2) {
    x = (cinfo.X_density * 254 + 50) / 100;
    y = (cinfo.Y_density * 254 + 50) / 100;
  }
}

// Decode state kept outside the setjmp frame so nothing it owns is lost on a longjmp.
struct Decode {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  PageHolder page;
  std::vector<uint8_t> row;
  ~Decode() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

int Header(Decode& d, const uint8_t* data, size_t size) {
  SetupErrors(d.err, reinterpret_cast<jpeg_common_struct*>(&d.cinfo));
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  // Progressive files buffer every coefficient; cap what the library may allocate.
  d.cinfo.mem->max_memory_to_use = 1024L * 1024 * 1024;
  jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&d.cinfo, JPEG_APP0 + 14, 0);
  if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return PX_ERR_CORRUPT;
  return CheckPageSize(d.cinfo.image_width, d.cinfo.image_height);
}

}  // namespace

int JpegInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  Decode d;
  if (setjmp(d.err.jump)) return PX_ERR_CORRUPT;
  int result = Header(d, data, size);
  if (result != PX_OK && result != PX_ERR_TOO_LARGE) return result;
  info->nFileType = 10;
  info->nWidth = int32_t(d.cinfo.image_width);
  info->nHeight = int32_t(d.cinfo.image_height);
  info->nBitsPerPixel = d.cinfo.num_components == 1 ? 8 : 24;
  info->nPages = 1;
  Resolution(d.cinfo, info->nXDpi, info->nYDpi);
  return result;
}

int JpegLoad(const uint8_t* data, size_t size, PxPage** out) {
  Decode d;
  if (setjmp(d.err.jump)) return PX_ERR_CORRUPT;
  int result = Header(d, data, size);
  if (result != PX_OK) return result;
  const int components = d.cinfo.num_components;
  const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
  if (components == 1)
    d.cinfo.out_color_space = JCS_GRAYSCALE;
  else if (cmyk)
    d.cinfo.out_color_space = JCS_CMYK;
  else if (components == 3)
    d.cinfo.out_color_space = JCS_RGB;
  else
    return PX_ERR_UNSUPPORTED;
  jpeg_start_decompress(&d.cinfo);
  int x = 0, y = 0;
  Resolution(d.cinfo, x, y);
  const int bpp = components == 1 ? 8 : 24;
  d.page.reset(NewPage(int32_t(d.cinfo.output_width), int32_t(d.cinfo.output_height), bpp, x, y));
  if (!d.page.get()) return PX_ERR_NO_MEMORY;
  // Adobe writes CMYK inverted (APP14 present); others write it plain.
  const bool inverted = cmyk && d.cinfo.saw_Adobe_marker;
  d.row.resize(size_t(d.cinfo.output_width) * size_t(d.cinfo.output_components));
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    uint8_t* target = PxPageRow(d.page.get(), int32_t(d.cinfo.output_scanline));
    JSAMPROW rows[1] = {cmyk ? d.row.data() : target};
    if (jpeg_read_scanlines(&d.cinfo, rows, 1) != 1) return PX_ERR_CORRUPT;
    if (cmyk) {
      for (JDIMENSION i = 0; i < d.cinfo.output_width; ++i) {
        int c = d.row[i * 4], m = d.row[i * 4 + 1], yy = d.row[i * 4 + 2], k = d.row[i * 4 + 3];
        if (!inverted) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        target[i * 3] = uint8_t(c * k / 255);
        target[i * 3 + 1] = uint8_t(m * k / 255);
        target[i * 3 + 2] = uint8_t(yy * k / 255);
      }
    }
  }
  jpeg_finish_decompress(&d.cinfo);
  *out = d.page.release();
  return PX_OK;
}

namespace {

struct Encode {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ~Encode() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
};

}  // namespace

namespace {

// Compresses the page into the destination already set on the encoder; false when libjpeg failed.
bool Compress(Encode& e, const PxPage* page, int quality) {
  if (setjmp(e.err.jump)) return false;
  e.cinfo.image_width = JDIMENSION(page->width);
  e.cinfo.image_height = JDIMENSION(page->height);
  e.cinfo.input_components = page->bitsPerPixel == 8 ? 1 : 3;
  e.cinfo.in_color_space = page->bitsPerPixel == 8 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&e.cinfo);
  jpeg_set_quality(&e.cinfo, quality, TRUE);
  if (page->xDpi > 0 && page->yDpi > 0 && page->xDpi < 65536 && page->yDpi < 65536) {
    e.cinfo.density_unit = 1;
    e.cinfo.X_density = UINT16(page->xDpi);
    e.cinfo.Y_density = UINT16(page->yDpi);
  }
  jpeg_start_compress(&e.cinfo, TRUE);
  // The page's rows are handed over as they are, a band at a time.
  JSAMPROW rows[16];
  while (e.cinfo.next_scanline < e.cinfo.image_height) {
    const JDIMENSION first = e.cinfo.next_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(16, e.cinfo.image_height - first);
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = PxPageRow(page, int32_t(first + i));
    jpeg_write_scanlines(&e.cinfo, rows, count);
  }
  jpeg_finish_compress(&e.cinfo);
  return true;
}

}  // namespace

int JpegEncode(const PxPage* page, int quality, std::vector<uint8_t>& jpeg) {
  if (page->bitsPerPixel != 8 && page->bitsPerPixel != 24) return PX_ERR_PARAMETER;
  Encode e;
  SetupErrors(e.err, reinterpret_cast<jpeg_common_struct*>(&e.cinfo));
  jpeg_create_compress(&e.cinfo);
  e.created = true;
  jpeg_mem_dest(&e.cinfo, &e.buffer, &e.size);
  if (!Compress(e, page, quality)) return PX_ERR_INTERNAL;
  jpeg.assign(e.buffer, e.buffer + e.size);
  return PX_OK;
}

// Written straight to the file: no copy of the compressed page in memory.
int JpegSave(const PxPage* page, const std::string& path, int factor) {
  if (page->bitsPerPixel != 8 && page->bitsPerPixel != 24) return PX_ERR_PARAMETER;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return PX_ERR_WRITE;
  std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
  bool ok = false;
  {
    Encode e;
    SetupErrors(e.err, reinterpret_cast<jpeg_common_struct*>(&e.cinfo));
    jpeg_create_compress(&e.cinfo);
    e.created = true;
    jpeg_stdio_dest(&e.cinfo, file);
    ok = Compress(e, page, JpegQualityFor(factor));
  }
  ok = std::fflush(file) == 0 && !std::ferror(file) && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(path.c_str());  // no half-written page left behind
  return ok ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
