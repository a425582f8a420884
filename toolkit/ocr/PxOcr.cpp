// OCR on Tesseract (see PxOcrApi.h). Per page: orientation by Tesseract's OSD, skew by Leptonica,
// recognition of the turned and straightened copy, and the words mapped back onto the page as given.
#include <allheaders.h>
#include <dirent.h>
#include <malloc.h>
#include <sys/stat.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxLimits.h"
#include "pxocr/PxOcrApi.h"

namespace {

struct PixDeleter {
  void operator()(Pix* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

bool IsDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Where the language packs are: TESSDATA_PREFIX as Tesseract itself reads it, else Debian's folders.
std::string DataDir() {
  if (const char* env = std::getenv("TESSDATA_PREFIX"); env && *env) {
    std::string dir = env;
    if (dir.back() != '/') dir += '/';
    if (IsDir(dir + "tessdata")) return dir + "tessdata/";
    return dir;
  }
  for (const char* dir : {"/usr/share/tesseract-ocr/5/tessdata/", "/usr/share/tesseract-ocr/4.00/tessdata/",
                          "/usr/share/tessdata/"})
    if (IsDir(dir)) return dir;
  return "/usr/share/tesseract-ocr/5/tessdata/";
}

// Debian's package of a language pack ("chi_sim" is in tesseract-ocr-chi-sim).
std::string PackageOf(const std::string& lang) {
  std::string name = "tesseract-ocr-";
  for (char c : lang) name += c == '_' ? '-' : char(std::tolower((unsigned char)c));
  return name;
}

// Splits "deu+eng" and checks each name is a plain language name with its pack installed. A name
// is data from a setting: it never becomes more than a file name inside the data folder.
bool CheckLanguages(const std::string& dir, const std::string& spec, std::string& error) {
  if (spec.empty() || spec.size() > 200) {
    error = "no OCR language given";
    return false;
  }
  size_t start = 0;
  while (start <= spec.size()) {
    const size_t end = std::min(spec.find('+', start), spec.size());
    const std::string lang = spec.substr(start, end - start);
    const bool plain =
        !lang.empty() && lang.size() <= 32 && std::all_of(lang.begin(), lang.end(), [](char c) {
          return std::isalnum((unsigned char)c) || c == '_' || c == '-';
        });
    if (!plain) {
      error =
          "\"" + spec + "\" is not a list of OCR languages (Tesseract's names joined by '+', e.g. deu+eng)";
      return false;
    }
    if (!IsFile(dir + lang + ".traineddata")) {
      error =
          "the OCR language \"" + lang + "\" is not installed (install the package " + PackageOf(lang) + ")";
      return false;
    }
    start = end + 1;
  }
  return true;
}

// One worker thread's recognition engine, kept until the thread ends: Init reads megabytes.
struct Engine {
  std::string dir, languages;
  std::unique_ptr<tesseract::TessBaseAPI> api;
};
thread_local Engine t_engine;

// The orientation engine (legacy data, some 35 MB) is shared: it takes a fraction of a page's time.
struct OsdEngine {
  std::mutex mutex;
  std::string dir;
  std::unique_ptr<tesseract::TessBaseAPI> api;
};
OsdEngine g_osd;

int PrepareOsd(const std::string& dir, std::string& error) {  // with g_osd.mutex held
  if (g_osd.api && g_osd.dir == dir) return PX_OK;
  g_osd.api.reset();
  if (!IsFile(dir + "osd.traineddata")) {
    error = "the OCR page orientation data is not installed (install the package tesseract-ocr-osd)";
    return PX_ERR_NO_LIBRARY;
  }
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  if (api->Init(dir.c_str(), "osd", tesseract::OEM_TESSERACT_ONLY) != 0) {
    error = "Tesseract could not load its orientation data from " + dir;
    return PX_ERR_NO_LIBRARY;
  }
  api->SetPageSegMode(tesseract::PSM_OSD_ONLY);
  g_osd.api = std::move(api);
  g_osd.dir = dir;
  return PX_OK;
}

int Prepare(const std::string& dir, const std::string& languages, std::string& error) {
  Engine& e = t_engine;
  if (e.api && e.dir == dir && e.languages == languages) return PX_OK;
  e.api.reset();
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  if (api->Init(dir.c_str(), languages.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
    error = "Tesseract could not load the languages \"" + languages + "\" from " + dir;
    return PX_ERR_NO_LIBRARY;
  }
  api->SetPageSegMode(tesseract::PSM_AUTO);
  api->SetVariable("debug_file", "/dev/null");
  e.api = std::move(api);
  e.dir = dir;
  e.languages = languages;
  return PX_OK;
}

// The page as 8-bit grey: what Tesseract binarises from, and Leptonica turns smoothly.
PixPtr ToPix(const PxPage* page) {
  PixPtr pix(pixCreate(page->width, page->height, 8));
  if (!pix) return nullptr;
  const int xres = page->xDpi > 0 ? page->xDpi : 300, yres = page->yDpi > 0 ? page->yDpi : 300;
  pixSetResolution(pix.get(), xres, yres);
  l_uint32* data = pixGetData(pix.get());
  const int wpl = pixGetWpl(pix.get());
  for (int32_t y = 0; y < page->height; ++y) {
    const uint8_t* row = page->pixels + size_t(y) * size_t(page->stride);
    l_uint32* line = data + size_t(y) * size_t(wpl);
    for (int32_t x = 0; x < page->width; ++x) {
      int v;
      if (page->bitsPerPixel == 1)
        v = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
      else if (page->bitsPerPixel == 8)
        v = row[x];
      else
        v = (row[3 * x] * 77 + row[3 * x + 1] * 150 + row[3 * x + 2] * 29) >> 8;
      SET_DATA_BYTE(line, x, v);
    }
  }
  return pix;
}

// Page coordinates from those of the corrected copy: undo the straightening (a turn about the
// copy's centre), then the quarter turns.
struct BackMap {
  int quarters = 0;       // clockwise quarter turns from the page to the copy
  double w = 0, h = 0;    // page size
  double cw = 0, ch = 0;  // copy size (the page's, swapped for odd quarters)
  double cosA = 1, sinA = 0;
  void Map(double u, double v, double& x, double& y) const {
    // The copy was turned clockwise (y down) by the skew: turn it back.
    const double du = u - cw / 2, dv = v - ch / 2;
    const double uu = cw / 2 + du * cosA + dv * sinA, vv = ch / 2 - du * sinA + dv * cosA;
    switch (quarters & 3) {
      case 0:
        x = uu, y = vv;
        break;
      case 1:
        x = vv, y = h - uu;
        break;  // page (x,y) went to (h-y, x)
      case 2:
        x = w - uu, y = h - vv;
        break;  // page (x,y) went to (w-x, h-y)
      default:
        x = w - vv, y = uu;
        break;  // page (x,y) went to (y, w-x)
    }
  }
};

struct Monitor {
  tesseract::ETEXT_DESC desc;
  PxOcrProgressFn progress = nullptr;
  void* user = nullptr;
  bool cancelled = false;
  int last = -1;
};

bool CancelCheck(void* self, int /*words*/) {
  auto* m = static_cast<Monitor*>(self);
  if (!m->cancelled && m->progress && m->desc.progress != m->last) {
    m->last = m->desc.progress;
    if (m->progress(m->user, m->last) == 0) m->cancelled = true;
  }
  return m->cancelled;
}

char* CopyText(const std::string& s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

void FreeText(PxOcrText* text) {
  if (!text) return;
  for (int32_t i = 0; i < text->lineCount; ++i) {
    for (int32_t j = 0; j < text->lines[i].wordCount; ++j)
      std::free(const_cast<char*>(text->lines[i].words[j].text));
    std::free(text->lines[i].words);
  }
  std::free(text->lines);
  std::free(text);
}

struct Word {
  std::string text;
  PxOcrWord box{};
};

int Recognize(const PxPage* page, const std::string& languages, Monitor& monitor, PxOcrText** out,
              std::string& error) {
  const std::string dir = DataDir();
  if (!CheckLanguages(dir, languages, error)) return PX_ERR_PARAMETER;
  int result = Prepare(dir, languages, error);
  if (result != PX_OK) return result;
  PixPtr pix = ToPix(page);
  if (!pix) return PX_ERR_NO_MEMORY;

  // Orientation: OSD says how far the text stands turned; a weak or failed answer keeps the page.
  int quarters = 0;
  {
    std::lock_guard<std::mutex> lock(g_osd.mutex);
    result = PrepareOsd(dir, error);
    if (result != PX_OK) return result;
    tesseract::TessBaseAPI& osd = *g_osd.api;
    osd.SetImage(pix.get());
    int degrees = 0;
    float confidence = 0, scriptConfidence = 0;
    const char* script = nullptr;
    if (osd.DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence) && confidence >= 1.5f)
      quarters = (4 - degrees / 90) & 3;  // OSD names how far the text is turned: turn it back
    osd.Clear();
  }
  PixPtr turned(quarters ? pixRotateOrth(pix.get(), quarters) : pixClone(pix.get()));
  if (!turned) return PX_ERR_NO_MEMORY;
  pix.reset();

  // Skew: straighten by what Leptonica measures on the binarised copy, when it is sure of it.
  double skew = 0;
  {
    PixPtr binary(pixConvertTo1(turned.get(), 128));
    l_float32 angle = 0, conf = 0;
    if (binary && pixFindSkew(binary.get(), &angle, &conf) == 0 && conf >= 3.0f && std::fabs(angle) >= 0.1f)
      skew = angle;
  }
  PixPtr work;
  if (skew != 0) {
    work.reset(pixRotate(turned.get(), float(skew * M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
    if (!work) return PX_ERR_NO_MEMORY;
  } else {
    work = std::move(turned);
  }

  BackMap map;
  map.quarters = quarters;
  map.w = page->width, map.h = page->height;
  map.cw = pixGetWidth(work.get()), map.ch = pixGetHeight(work.get());
  map.cosA = std::cos(skew * M_PI / 180), map.sinA = std::sin(skew * M_PI / 180);

  tesseract::TessBaseAPI& api = *t_engine.api;
  api.SetImage(work.get());
  // Tesseract keeps its own copy: ours go before recognition, the peak of a worker's memory.
  work.reset();
  turned.reset();
  monitor.desc.cancel = &CancelCheck;
  monitor.desc.cancel_this = &monitor;
  const int recognized = api.Recognize(&monitor.desc);
  if (monitor.cancelled) {
    api.Clear();
    error = "OCR was cancelled";
    return PX_ERR_CANCELLED;
  }
  if (recognized != 0) {
    api.Clear();
    error = "Tesseract could not recognise the page";
    return PX_ERR_INTERNAL;
  }

  std::vector<std::vector<Word>> lines;
  std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
  if (it && !it->Empty(tesseract::RIL_WORD)) {
    int baseline[4] = {0, 0, 0, 0};
    int line[4] = {0, 0, 0, 0};
    do {
      if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE) || lines.empty()) {
        lines.emplace_back();
        if (!it->Baseline(tesseract::RIL_TEXTLINE, &baseline[0], &baseline[1], &baseline[2], &baseline[3]))
          std::fill(baseline, baseline + 4, 0);
        it->BoundingBox(tesseract::RIL_TEXTLINE, &line[0], &line[1], &line[2], &line[3]);
      }
      std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_WORD));
      int l, t, r, b;
      if (!utf8 || !it->BoundingBox(tesseract::RIL_WORD, &l, &t, &r, &b)) continue;
      std::string text = utf8.get();
      text.erase(
          std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n' || c == '\t'; }),
          text.end());
      if (text.empty()) continue;
      Word word;
      word.text = std::move(text);
      // The line's baseline under the word; without one, the word's bottom.
      auto baseAt = [&](double x) {
        if (baseline[2] == baseline[0]) return double(b);
        return baseline[1] +
               (x - baseline[0]) * double(baseline[3] - baseline[1]) / (baseline[2] - baseline[0]);
      };
      PxOcrWord& w = word.box;
      map.Map(l, baseAt(l), w.baseX, w.baseY);
      map.Map(r, baseAt(r), w.endX, w.endY);
      w.size = std::max(line[3] - line[1], b - t);
      double xs[4], ys[4];
      map.Map(l, t, xs[0], ys[0]);
      map.Map(r, t, xs[1], ys[1]);
      map.Map(l, b, xs[2], ys[2]);
      map.Map(r, b, xs[3], ys[3]);
      w.left = int32_t(std::floor(*std::min_element(xs, xs + 4)));
      w.right = int32_t(std::ceil(*std::max_element(xs, xs + 4)));
      w.top = int32_t(std::floor(*std::min_element(ys, ys + 4)));
      w.bottom = int32_t(std::ceil(*std::max_element(ys, ys + 4)));
      w.left = std::clamp(w.left, 0, page->width), w.right = std::clamp(w.right, 0, page->width);
      w.top = std::clamp(w.top, 0, page->height), w.bottom = std::clamp(w.bottom, 0, page->height);
      lines.back().push_back(std::move(word));
    } while (it->Next(tesseract::RIL_WORD));
  }
  it.reset();
  api.Clear();
  // A page's worth of freed blocks goes back to the system before the next page is scanned.
  malloc_trim(0);
  lines.erase(std::remove_if(lines.begin(), lines.end(), [](const auto& l) { return l.empty(); }),
              lines.end());

  auto* text = static_cast<PxOcrText*>(std::calloc(1, sizeof(PxOcrText)));
  if (!text) return PX_ERR_NO_MEMORY;
  std::unique_ptr<PxOcrText, void (*)(PxOcrText*)> holder(text, &FreeText);
  text->width = page->width, text->height = page->height;
  text->orientation = quarters * 90;
  text->skew = skew;
  if (!lines.empty()) {
    text->lines = static_cast<PxOcrLine*>(std::calloc(lines.size(), sizeof(PxOcrLine)));
    if (!text->lines) return PX_ERR_NO_MEMORY;
    for (const auto& line : lines) {
      PxOcrLine& out = text->lines[text->lineCount++];
      out.words = static_cast<PxOcrWord*>(std::calloc(line.size(), sizeof(PxOcrWord)));
      if (!out.words) return PX_ERR_NO_MEMORY;
      for (const Word& w : line) {
        out.words[out.wordCount] = w.box;
        out.words[out.wordCount].text = CopyText(w.text);
        ++out.wordCount;
      }
    }
  }
  *out = holder.release();
  return PX_OK;
}

void SetMessage(char* message, size_t size, const std::string& text) {
  if (message && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

// A page the engine can take: 1, 8 or 24 bits, within the toolkit's sizes, rows as long as its width.
bool UsablePage(const PxPage* page) {
  return page && page->pixels && page->width > 0 && page->height > 0 && page->width <= PX_MAX_DIMENSION &&
         page->height <= PX_MAX_DIMENSION &&
         (page->bitsPerPixel == 1 || page->bitsPerPixel == 8 || page->bitsPerPixel == 24) &&
         page->stride >= (int64_t(page->width) * page->bitsPerPixel + 7) / 8;
}

// Inside a catch (...): what was thrown, as a result code and the message naming it.
int Failure(const char* outOfMemory, std::string& error) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    error = outOfMemory;
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    error = "unexpected failure inside Tesseract";
    return PX_ERR_INTERNAL;
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t PxOcrRecognize(const PxPage* page, const char* languages,
                                                              PxOcrProgressFn progress, void* user,
                                                              PxOcrText** out, char* message,
                                                              size_t messageSize) {
  SetMessage(message, messageSize, "");
  if (!out) return PX_ERR_PARAMETER;
  *out = nullptr;
  if (!UsablePage(page)) {
    SetMessage(message, messageSize, "no page to recognise");
    return PX_ERR_NO_BITMAP;
  }
  std::string error;
  int result;
  try {
    Monitor monitor;
    monitor.progress = progress;
    monitor.user = user;
    // A cancel before the first word is seen at once.
    if (progress && progress(user, 0) == 0) {
      SetMessage(message, messageSize, "OCR was cancelled");
      return PX_ERR_CANCELLED;
    }
    result = Recognize(page, languages ? languages : "", monitor, out, error);
    if (result == PX_OK && progress) progress(user, 100);
  } catch (...) {
    result = Failure("out of memory during OCR", error);
  }
  if (result != PX_OK) SetMessage(message, messageSize, error);
  return result;
}

__attribute__((visibility("default"))) int32_t PxOcrOrientation(const PxPage* page, int32_t* degrees,
                                                                double* confidence, char* message,
                                                                size_t messageSize) {
  SetMessage(message, messageSize, "");
  if (!degrees || !confidence) return PX_ERR_PARAMETER;
  *degrees = 0;
  *confidence = 0;
  if (!UsablePage(page)) {
    SetMessage(message, messageSize, "no page to turn upright");
    return PX_ERR_NO_BITMAP;
  }
  std::string error;
  int result = PX_OK;
  try {
    PixPtr pix = ToPix(page);
    if (!pix) return PX_ERR_NO_MEMORY;
    std::lock_guard<std::mutex> lock(g_osd.mutex);
    result = PrepareOsd(DataDir(), error);
    if (result == PX_OK) {
      tesseract::TessBaseAPI& osd = *g_osd.api;
      osd.SetImage(pix.get());
      int turned = 0;
      float conf = 0, scriptConfidence = 0;
      const char* script = nullptr;
      if (osd.DetectOrientationScript(&turned, &conf, &script, &scriptConfidence)) {
        *degrees = (360 - turned) % 360;  // OSD names how far the text is turned: turn it back
        *confidence = conf;
      } else {
        error = "no text to tell the page's orientation by";
        result = PX_ERR_FORMAT;
      }
      osd.Clear();
    }
  } catch (...) {
    result = Failure("out of memory while finding the page's orientation", error);
  }
  if (result != PX_OK) SetMessage(message, messageSize, error);
  return result;
}

__attribute__((visibility("default"))) void PxOcrFree(PxOcrText* text) {
  FreeText(text);
}

__attribute__((visibility("default"))) int32_t PxOcrLanguages(char* buffer, size_t size) {
  if (!buffer || size == 0) return PX_ERR_PARAMETER;
  std::vector<std::string> names;
  const std::string dir = DataDir();
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      const std::string ext = ".traineddata";
      if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0) {
        name.resize(name.size() - ext.size());
        if (name != "osd") names.push_back(name);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const auto& n : names) joined += (joined.empty() ? "" : "+") + n;
  if (joined.size() + 1 > size) return PX_ERR_PARAMETER;
  std::memcpy(buffer, joined.c_str(), joined.size() + 1);
  return PX_OK;
}

}  // namespace extern "C"
