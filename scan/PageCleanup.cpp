#include "scan/PageCleanup.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "log/DebugTrace.h"
#include "platform/module/Module.h"
#include "pxclass/PxError.h"
#include "pxclean/PxCleanApi.h"
#include "pxocr/PxOcrApi.h"

namespace {

// OSD's own threshold for an orientation it is sure of.
constexpr double kOrientationSure = 1.5;
// Below this the turn would move no pixel of a letter page by more than about one.
constexpr double kLeastSkew = 0.05;

struct CleanLibrary {
  bool bTried = false;
  PxCleanInkFn pfnInk = nullptr;
  PxCleanFindSkewFn pfnFindSkew = nullptr;
  PxCleanRotateFn pfnRotate = nullptr;
  PxCleanTurnFn pfnTurn = nullptr;
  PxCleanFindPaperFn pfnFindPaper = nullptr;
  PxCleanCropFn pfnCrop = nullptr;
  bool Ready() const { return pfnInk && pfnFindSkew && pfnRotate && pfnTurn && pfnFindPaper && pfnCrop; }
};

// Loaded once and kept for the process, like the toolkit's other libraries loaded on first use.
CleanLibrary& Clean(DebugTrace& trace) {
  static CleanLibrary library;
  if (library.bTried) return library;
  library.bTried = true;
  HMODULE module = LoadLibraryA("pxclean.dll");
  if (!module) {
    trace.Error("The page cleanup library pxclean.dll did not load: pages cannot be cleaned");
    return library;
  }
  library.pfnInk = reinterpret_cast<PxCleanInkFn>(GetProcAddress(module, "PxCleanInk"));
  library.pfnFindSkew = reinterpret_cast<PxCleanFindSkewFn>(GetProcAddress(module, "PxCleanFindSkew"));
  library.pfnRotate = reinterpret_cast<PxCleanRotateFn>(GetProcAddress(module, "PxCleanRotate"));
  library.pfnTurn = reinterpret_cast<PxCleanTurnFn>(GetProcAddress(module, "PxCleanTurn"));
  library.pfnFindPaper = reinterpret_cast<PxCleanFindPaperFn>(GetProcAddress(module, "PxCleanFindPaper"));
  library.pfnCrop = reinterpret_cast<PxCleanCropFn>(GetProcAddress(module, "PxCleanCrop"));
  if (!library.Ready()) trace.Error("The page cleanup library pxclean.dll lacks its entry points");
  return library;
}

PxOcrOrientationFn Orientation(DebugTrace& trace) {
  static bool tried = false;
  static PxOcrOrientationFn function = nullptr;
  if (tried) return function;
  tried = true;
  HMODULE module = LoadLibraryA("pxocr.dll");
  if (module) function = reinterpret_cast<PxOcrOrientationFn>(GetProcAddress(module, "PxOcrOrientation"));
  if (!function)
    trace.Write("The OCR library pxocr.dll is not installed: pages are kept the way they were scanned");
  return function;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

PageVerdict Failed(const char* step, int result, DebugTrace& trace) {
  trace.Error(std::string("Page cleanup: ") + step + " failed: " + PxErrorText(result));
  return PageVerdict::kFailed;
}

}  // namespace

PageVerdict CleanPage(PxBitmapBase& bitmap, const PageCleanupOptions& options, int page, DebugTrace& trace) {
  if (!options.Any() || !bitmap.IsAllocated()) return PageVerdict::kKeep;
  CleanLibrary& clean = Clean(trace);
  if (!clean.Ready()) return PageVerdict::kFailed;
  const std::string name = "Page " + std::to_string(page);

  if (options.bSkipBlank) {
    int32_t ink = 0;
    if (const int rc = clean.pfnInk(bitmap.Page(), &ink); rc != PX_OK)
      return Failed("blank check", rc, trace);
    if (ink < PX_CLEAN_BLANK_PPM) {
      trace.Write(name + " is blank (ink " + std::to_string(ink) + " ppm): left out");
      return PageVerdict::kBlank;
    }
  }
  // The steps below change the page: it is taken from the bitmap and handed back whatever happens.
  PxPage* p = bitmap.DetachPage();
  struct Return {
    PxBitmapBase& bitmap;
    PxPage* page;
    ~Return() { bitmap.AttachPage(page); }
  } back{bitmap, p};

  if (options.bCropBorder) {
    PxCleanBox box{};
    if (const int rc = clean.pfnFindPaper(p, &box); rc != PX_OK) return Failed("border search", rc, trace);
    if (box.left != 0 || box.top != 0 || box.right != p->width || box.bottom != p->height) {
      const int rc = clean.pfnCrop(p, &box);
      if (rc != PX_OK) return Failed("border crop", rc, trace);
      trace.Write(name + " cut to the paper: " + std::to_string(box.left) + "," + std::to_string(box.top) +
                  " to " + std::to_string(box.right) + "," + std::to_string(box.bottom));
    }
  }
  if (options.bUpright) {
    if (PxOcrOrientationFn orientation = Orientation(trace)) {
      int32_t degrees = 0;
      double confidence = 0;
      char message[256] = "";
      const int rc = orientation(p, &degrees, &confidence, message, sizeof message);
      if (rc == PX_OK && confidence >= kOrientationSure && degrees % 90 == 0 && degrees != 0) {
        if (const int turned = clean.pfnTurn(p, degrees / 90); turned != PX_OK)
          return Failed("turn", turned, trace);
        trace.Write(name + " turned " + std::to_string(degrees) + " degrees upright");
      } else if (rc != PX_OK && rc != PX_ERR_FORMAT) {
        trace.Write(name + " kept as scanned: " + message);
      }
    }
  }
  if (options.bDeskew) {
    double skew = 0, confidence = 0;
    if (const int rc = clean.pfnFindSkew(p, &skew, &confidence); rc != PX_OK)
      return Failed("skew search", rc, trace);
    if (confidence >= PX_CLEAN_SKEW_SURE && std::fabs(skew) >= kLeastSkew) {
      if (const int rc = clean.pfnRotate(p, -skew); rc != PX_OK) return Failed("straightening", rc, trace);
      trace.Write(name + " straightened by " + Number(-skew) + " degrees");
    }
  }
  return PageVerdict::kKeep;
}
