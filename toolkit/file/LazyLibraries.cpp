// libtiff and libimagequant, loaded on first use rather than with the file library: with their own
// dependencies (WebP, Zstandard, LERC, JBIG, OpenMP, ...) they are most of the file library's load
// time, which every process that loads it paid, though only TIFF, fax and bilevel PDF pages need
// libtiff, and only colour GIF pages libimagequant. The codecs call the libraries' functions by their
// own names; the definitions here (hidden, so they never stand in for another module's use of the
// real libraries) forward to the library loaded on the first call. A missing library is said once on
// stderr, and its functions then fail as they do on bad input (null, 0 or an error code).
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#pragma GCC visibility push(hidden)
#include <libimagequant.h>
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

}  // extern "C"
