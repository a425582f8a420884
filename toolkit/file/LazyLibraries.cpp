// libtiff, libimagequant, libpng and giflib, loaded on first use rather than with the file library:
// with their own dependencies (WebP, Zstandard, LERC, JBIG, OpenMP, ...) they are most of the file
// library's load time, which every process that loads it paid (a scan to JPEG too), though only TIFF,
// fax and bilevel PDF pages need libtiff, only colour GIF pages libimagequant, only PNG and GIF files
// the other two. The codecs call the libraries' functions by their
// own names; the definitions here (hidden, so they never stand in for another module's use of the
// real libraries) forward to the library loaded on the first call. A missing library is said once on
// stderr, and its functions then fail as they do on bad input (null, 0 or an error code).
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#pragma GCC visibility push(hidden)
#include <gif_lib.h>
#include <libimagequant.h>
#include <png.h>
#include <tiffio.h>
#pragma GCC visibility pop

namespace {

class LazyLibrary {
 public:
  explicit LazyLibrary(const char* soname) : m_soname(soname) {}
  void* Find(const char* name) {
    std::call_once(m_once, [this] {
      m_handle = dlopen(m_soname, RTLD_NOW | RTLD_LOCAL);
      if (m_handle == nullptr)
        std::fprintf(stderr, "pxfile: %s could not be loaded: %s\n", m_soname, dlerror());
    });
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
  }

 private:
  const char* m_soname;
  std::once_flag m_once;
  void* m_handle = nullptr;  // kept until exit: OpenMP's threads and allocations outlive any unload
};

// libtiff took soname 6 with 4.5.
#if TIFFLIB_MAJOR_VERSION > 4 || (TIFFLIB_MAJOR_VERSION == 4 && TIFFLIB_MINOR_VERSION >= 5)
LazyLibrary g_tiff("libtiff.so.6");
#else
LazyLibrary g_tiff("libtiff.so.5");
#endif
LazyLibrary g_quant("libimagequant.so.0");
static_assert(PNG_LIBPNG_VER_SONUM == 16, "the name below is libpng 1.6's");
LazyLibrary g_png("libpng16.so.16");
// giflib took soname 6 with 5.0 and 7 with 5.1.
LazyLibrary g_gif(GIFLIB_MAJOR > 5 || (GIFLIB_MAJOR == 5 && GIFLIB_MINOR >= 1) ? "libgif.so.7"
                  : GIFLIB_MAJOR == 5                                          ? "libgif.so.6"
                                                                               : "libgif.so.4");

}  // namespace

#define PX_FORWARD(lib, ret, name, params, args, failed)                     \
  ret name params {                                                          \
    static const auto fn = reinterpret_cast<ret(*) params>(lib.Find(#name)); \
    return fn != nullptr ? fn args : failed;                                 \
  }
#define PX_FORWARD_VOID(lib, name, params, args)                              \
  void name params {                                                          \
    static const auto fn = reinterpret_cast<void(*) params>(lib.Find(#name)); \
    if (fn != nullptr) fn args;                                               \
  }
// The variadic field calls go through their va_list forms.
#define PX_FORWARD_FIELD(name, vname)                                                                \
  int name(TIFF* tif, uint32_t tag, ...) {                                                           \
    static const auto fn = reinterpret_cast<int (*)(TIFF*, uint32_t, va_list)>(g_tiff.Find(#vname)); \
    if (fn == nullptr) return 0;                                                                     \
    va_list ap;                                                                                      \
    va_start(ap, tag);                                                                               \
    const int result = fn(tif, tag, ap);                                                             \
    va_end(ap);                                                                                      \
    return result;                                                                                   \
  }

extern "C" {

PX_FORWARD(g_tiff, TIFFOpenOptions*, TIFFOpenOptionsAlloc, (void), (), nullptr)
PX_FORWARD_VOID(g_tiff, TIFFOpenOptionsFree, (TIFFOpenOptions * o), (o))
PX_FORWARD_VOID(g_tiff, TIFFOpenOptionsSetMaxSingleMemAlloc, (TIFFOpenOptions * o, tmsize_t m), (o, m))
PX_FORWARD_VOID(g_tiff, TIFFOpenOptionsSetErrorHandlerExtR,
                (TIFFOpenOptions * o, TIFFErrorHandlerExtR h, void* d), (o, h, d))
PX_FORWARD_VOID(g_tiff, TIFFOpenOptionsSetWarningHandlerExtR,
                (TIFFOpenOptions * o, TIFFErrorHandlerExtR h, void* d), (o, h, d))
PX_FORWARD(g_tiff, TIFF*, TIFFOpenExt, (const char* n, const char* m, TIFFOpenOptions* o), (n, m, o), nullptr)
PX_FORWARD(g_tiff, TIFF*, TIFFFdOpenExt, (int fd, const char* n, const char* m, TIFFOpenOptions* o),
           (fd, n, m, o), nullptr)
PX_FORWARD(g_tiff, TIFF*, TIFFClientOpenExt,
           (const char* n, const char* m, thandle_t h, TIFFReadWriteProc r, TIFFReadWriteProc w,
            TIFFSeekProc s, TIFFCloseProc c, TIFFSizeProc z, TIFFMapFileProc mp, TIFFUnmapFileProc u,
            TIFFOpenOptions* o),
           (n, m, h, r, w, s, c, z, mp, u, o), nullptr)
PX_FORWARD_VOID(g_tiff, TIFFClose, (TIFF * t), (t))
PX_FORWARD_FIELD(TIFFSetField, TIFFVSetField)
PX_FORWARD_FIELD(TIFFGetField, TIFFVGetField)
PX_FORWARD_FIELD(TIFFGetFieldDefaulted, TIFFVGetFieldDefaulted)
PX_FORWARD(g_tiff, int, TIFFReadDirectory, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, int, TIFFWriteDirectory, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, int, TIFFIsTiled, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, tmsize_t, TIFFScanlineSize, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, tmsize_t, TIFFStripSize, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, uint32_t, TIFFNumberOfStrips, (TIFF * t), (t), 0)
PX_FORWARD(g_tiff, int, TIFFReadScanline, (TIFF * t, void* b, uint32_t r, uint16_t s), (t, b, r, s), -1)
PX_FORWARD(g_tiff, int, TIFFWriteScanline, (TIFF * t, void* b, uint32_t r, uint16_t s), (t, b, r, s), -1)
PX_FORWARD(g_tiff, tmsize_t, TIFFReadRawStrip, (TIFF * t, uint32_t s, void* b, tmsize_t n), (t, s, b, n), -1)
PX_FORWARD(g_tiff, tmsize_t, TIFFReadEncodedStrip, (TIFF * t, uint32_t s, void* b, tmsize_t n), (t, s, b, n),
           -1)
PX_FORWARD(g_tiff, tmsize_t, TIFFWriteRawStrip, (TIFF * t, uint32_t s, void* b, tmsize_t n), (t, s, b, n), -1)
PX_FORWARD(g_tiff, int, TIFFRGBAImageOK, (TIFF * t, char e[1024]), (t, e), 0)
PX_FORWARD(g_tiff, int, TIFFRGBAImageBegin, (TIFFRGBAImage * i, TIFF* t, int s, char e[1024]), (i, t, s, e),
           0)
PX_FORWARD(g_tiff, int, TIFFRGBAImageGet, (TIFFRGBAImage * i, uint32_t* r, uint32_t w, uint32_t h),
           (i, r, w, h), 0)
PX_FORWARD_VOID(g_tiff, TIFFRGBAImageEnd, (TIFFRGBAImage * i), (i))

PX_FORWARD(g_quant, liq_attr*, liq_attr_create, (void), (), nullptr)
PX_FORWARD_VOID(g_quant, liq_attr_destroy, (liq_attr * a), (a))
PX_FORWARD(g_quant, liq_error, liq_set_speed, (liq_attr * a, int s), (a, s), LIQ_UNSUPPORTED)
PX_FORWARD(g_quant, liq_image*, liq_image_create_rgba,
           (const liq_attr* a, const void* b, int w, int h, double g), (a, b, w, h, g), nullptr)
PX_FORWARD_VOID(g_quant, liq_image_destroy, (liq_image * i), (i))
PX_FORWARD(g_quant, liq_error, liq_image_quantize, (liq_image* const i, liq_attr* const a, liq_result** r),
           (i, a, r), LIQ_UNSUPPORTED)
PX_FORWARD(g_quant, liq_error, liq_set_dithering_level, (liq_result * r, float d), (r, d), LIQ_UNSUPPORTED)
PX_FORWARD(g_quant, const liq_palette*, liq_get_palette, (liq_result * r), (r), nullptr)
PX_FORWARD(g_quant, liq_error, liq_write_remapped_image, (liq_result * r, liq_image* i, void* b, size_t n),
           (r, i, b, n), LIQ_UNSUPPORTED)
PX_FORWARD_VOID(g_quant, liq_result_destroy, (liq_result * r), (r))

PX_FORWARD(g_png, png_structp, png_create_write_struct,
           (png_const_charp v, png_voidp p, png_error_ptr e, png_error_ptr w), (v, p, e, w), nullptr)
PX_FORWARD(g_png, png_infop, png_create_info_struct, (png_const_structrp p), (p), nullptr)
PX_FORWARD_VOID(g_png, png_destroy_write_struct, (png_structpp p, png_infopp i), (p, i))
PX_FORWARD(g_png, jmp_buf*, png_set_longjmp_fn, (png_structrp p, png_longjmp_ptr f, size_t n), (p, f, n),
           nullptr)
void png_longjmp(png_const_structrp p, int value) {
  static const auto fn = reinterpret_cast<void (*)(png_const_structrp, int)>(g_png.Find("png_longjmp"));
  if (fn != nullptr) fn(p, value);
  std::abort();  // only reached from inside libpng, so never without it
}
PX_FORWARD_VOID(g_png, png_init_io, (png_structrp p, png_FILE_p f), (p, f))
PX_FORWARD_VOID(g_png, png_set_IHDR,
                (png_const_structrp p, png_inforp i, png_uint_32 w, png_uint_32 h, int d, int c, int l, int k,
                 int f),
                (p, i, w, h, d, c, l, k, f))
PX_FORWARD_VOID(g_png, png_set_pHYs,
                (png_const_structrp p, png_inforp i, png_uint_32 x, png_uint_32 y, int u), (p, i, x, y, u))
PX_FORWARD_VOID(g_png, png_set_compression_level, (png_structrp p, int l), (p, l))
PX_FORWARD_VOID(g_png, png_write_info, (png_structrp p, png_const_inforp i), (p, i))
PX_FORWARD_VOID(g_png, png_write_row, (png_structrp p, png_const_bytep r), (p, r))
PX_FORWARD_VOID(g_png, png_write_end, (png_structrp p, png_inforp i), (p, i))
PX_FORWARD(g_png, int, png_image_begin_read_from_memory, (png_imagep i, png_const_voidp m, size_t n),
           (i, m, n), 0)
PX_FORWARD(g_png, int, png_image_finish_read,
           (png_imagep i, png_const_colorp b, void* o, png_int_32 s, void* c), (i, b, o, s, c), 0)
PX_FORWARD_VOID(g_png, png_image_free, (png_imagep i), (i))

// An open that fails for want of the library says so as giflib says a failed open.
GifFileType* DGifOpen(void* user, InputFunc read, int* error) {
  static const auto fn = reinterpret_cast<GifFileType* (*)(void*, InputFunc, int*)>(g_gif.Find("DGifOpen"));
  if (fn != nullptr) return fn(user, read, error);
  if (error != nullptr) *error = D_GIF_ERR_OPEN_FAILED;
  return nullptr;
}
GifFileType* EGifOpenFileName(const char* name, const bool testExistence, int* error) {
  static const auto fn =
      reinterpret_cast<GifFileType* (*)(const char*, bool, int*)>(g_gif.Find("EGifOpenFileName"));
  if (fn != nullptr) return fn(name, testExistence, error);
  if (error != nullptr) *error = E_GIF_ERR_OPEN_FAILED;
  return nullptr;
}
GifFileType* EGifOpenFileHandle(const int fd, int* error) {
  static const auto fn = reinterpret_cast<GifFileType* (*)(int, int*)>(g_gif.Find("EGifOpenFileHandle"));
  if (fn != nullptr) return fn(fd, error);
  if (error != nullptr) *error = E_GIF_ERR_OPEN_FAILED;
  return nullptr;
}
PX_FORWARD(g_gif, int, DGifCloseFile, (GifFileType * g, int* e), (g, e), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetRecordType, (GifFileType * g, GifRecordType* t), (g, t), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetImageDesc, (GifFileType * g), (g), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetCode, (GifFileType * g, int* c, GifByteType** b), (g, c, b), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetCodeNext, (GifFileType * g, GifByteType** b), (g, b), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetLine, (GifFileType * g, GifPixelType* l, int n), (g, l, n), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetExtension, (GifFileType * g, int* c, GifByteType** x), (g, c, x), GIF_ERROR)
PX_FORWARD(g_gif, int, DGifGetExtensionNext, (GifFileType * g, GifByteType** x), (g, x), GIF_ERROR)
PX_FORWARD(g_gif, int, EGifCloseFile, (GifFileType * g, int* e), (g, e), GIF_ERROR)
PX_FORWARD(g_gif, int, EGifPutScreenDesc,
           (GifFileType * g, const int w, const int h, const int r, const int b, const ColorMapObject* m),
           (g, w, h, r, b, m), GIF_ERROR)
PX_FORWARD(g_gif, int, EGifPutImageDesc,
           (GifFileType * g, const int l, const int t, const int w, const int h, const bool i,
            const ColorMapObject* m),
           (g, l, t, w, h, i, m), GIF_ERROR)
PX_FORWARD_VOID(g_gif, EGifSetGifVersion, (GifFileType * g, const bool v), (g, v))
PX_FORWARD(g_gif, int, EGifPutLine, (GifFileType * g, GifPixelType* l, int n), (g, l, n), GIF_ERROR)
PX_FORWARD(g_gif, int, EGifPutComment, (GifFileType * g, const char* c), (g, c), GIF_ERROR)
PX_FORWARD(g_gif, ColorMapObject*, GifMakeMapObject, (int n, const GifColorType* c), (n, c), nullptr)
PX_FORWARD_VOID(g_gif, GifFreeMapObject, (ColorMapObject * m), (m))

}  // extern "C"
