// pxmpeg-tool: looks at MPEG streams the way the toolkit would.
//   pxmpeg-tool info FILE             prints fltInfo's record
//   pxmpeg-tool page FILE N OUT       writes page N via fltLoad (OUT ends .png or .ppm)
//   pxmpeg-tool planes FILE N PREFIX  writes PREFIX.y, PREFIX.cb, PREFIX.cr (raw, picture size)
#include <png.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace {

struct Image {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
};

int32_t OnRow(void* pUser, PxLoadInfo* pLoad, uint8_t* pRow, int32_t, int32_t nRow, int32_t, intptr_t) {
  Image& img = *static_cast<Image*>(pUser);
  if (img.rgb.empty()) {
    img.w = pLoad->nWidth;
    img.h = pLoad->nHeight;
    img.rgb.resize(static_cast<size_t>(img.w) * img.h * 3);
  }
  if (nRow < 0 || nRow >= img.h) return 1;
  uint8_t* o = &img.rgb[static_cast<size_t>(nRow) * img.w * 3];
  for (int x = 0; x < img.w; ++x) {
    o[3 * x] = pRow[3 * x + 2];
    o[3 * x + 1] = pRow[3 * x + 1];
    o[3 * x + 2] = pRow[3 * x];
  }
  return 1;
}

bool WritePpm(const char* name, const Image& img) {
  FILE* f = std::fopen(name, "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", img.w, img.h);
  const bool ok = std::fwrite(img.rgb.data(), 1, img.rgb.size(), f) == img.rgb.size();
  return std::fclose(f) == 0 && ok;
}

bool WritePng(const char* name, const Image& img) {
  FILE* f = std::fopen(name, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, img.w, img.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < img.h; ++y)
    png_write_row(png, const_cast<png_bytep>(&img.rgb[static_cast<size_t>(y) * img.w * 3]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

int32_t DumpPlanes(void* pUser, const FrameStore& f, const SequenceParams& seq, const PlaneGeometry& g) {
  const std::string prefix = static_cast<const char*>(pUser);
  const int cw = (seq.nWidth + (1 << g.nChromaShiftX) - 1) >> g.nChromaShiftX;
  const int ch = (seq.nHeight + (1 << g.nChromaShiftY) - 1) >> g.nChromaShiftY;
  struct P {
    const char* ext;
    const uint8_t* p;
    int stride, w, h;
  } planes[3] = {{".y", f.pY, g.nLumaStride, seq.nWidth, seq.nHeight},
                 {".cb", f.pCb, g.nChromaStride, cw, ch},
                 {".cr", f.pCr, g.nChromaStride, cw, ch}};
  for (const P& p : planes) {
    FILE* out = std::fopen((prefix + p.ext).c_str(), "wb");
    if (!out) return -100;
    for (int y = 0; y < p.h; ++y) std::fwrite(p.p + static_cast<size_t>(y) * p.stride, 1, p.w, out);
    if (std::fclose(out) != 0) return -100;
  }
  std::printf("%d %d %d %d\n", seq.nWidth, seq.nHeight, cw, ch);
  return PXM_OK;
}

int Usage() {
  std::fprintf(stderr,
               "usage: pxmpeg-tool info FILE\n"
               "       pxmpeg-tool page FILE N OUT.png|OUT.ppm\n"
               "       pxmpeg-tool planes FILE N PREFIX\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  const char* file = argv[2];
  if (cmd == "info") {
    const PxKernelImports& k = PxKernel();
    const int32_t h = k.pfnOpen(file, PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
    if (h < 0) {
      std::fprintf(stderr, "cannot open %s\n", file);
      return 1;
    }
    PxFileInfo info{};
    const int32_t rc = fltInfo(h, &info, 1);
    k.pfnClose(h);
    std::printf("result: %d (%s)\n", rc, PxResultText(rc));
    if (rc != PXM_OK) return 1;
    std::printf(
        "format: %d %s\nwidth: %d\nheight: %d\nbits per pixel: %d\nbytes per row: %d\n"
        "image size: %lld\npages: %d\ncurrent page: %d\nframe rate code: %d\naspect: %d\n"
        "bit rate: %lld\nflags: 0x%x\n",
        info.nFormat, info.szFormatName, info.nWidth, info.nHeight, info.nBitsPerPixel, info.nBytesPerRow,
        static_cast<long long>(info.nImageSize), info.nPageCount, info.nCurrentPage, info.nFrameRateCode,
        info.nAspectCode, static_cast<long long>(info.nBitRate), info.nFlags);
    return 0;
  }
  if (argc < 5) return Usage();
  // Pages are 1-based: anything but a positive decimal integer is refused, never read as page 1.
  char* end = nullptr;
  errno = 0;
  const long nParsed = std::strtol(argv[3], &end, 10);
  if (!std::isdigit(static_cast<unsigned char>(argv[3][0])) || *end || errno == ERANGE || nParsed < 1 ||
      nParsed > INT32_MAX) {
    std::fprintf(stderr, "pxmpeg-tool: page must be a positive integer, not \"%s\"\n", argv[3]);
    return 2;
  }
  const int page = static_cast<int>(nParsed);
  const char* out = argv[4];
  if (cmd == "page") {
    Image img;
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = page;
    load.pfnRow = OnRow;
    load.pUser = &img;
    const int32_t rc = fltLoad(file, &load);
    load.nRows = 0;
    if (rc != PXM_OK) {
      std::fprintf(stderr, "fltLoad: %d (%s)\n", rc, PxResultText(rc));
      return 1;
    }
    const size_t n = std::strlen(out);
    const bool png = n > 4 && std::strcmp(out + n - 4, ".png") == 0;
    if (!(png ? WritePng(out, img) : WritePpm(out, img))) {
      std::fprintf(stderr, "cannot write %s\n", out);
      return 1;
    }
    return 0;
  }
  if (cmd == "planes") {
    const int32_t rc = MpegFilter::LoadPlanes(file, page, DumpPlanes, const_cast<char*>(out));
    if (rc != PXM_OK) {
      std::fprintf(stderr, "decode: %d (%s)\n", rc, PxResultText(rc));
      return 1;
    }
    return 0;
  }
  return Usage();
}
