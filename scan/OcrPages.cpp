#include "scan/OcrPages.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "log/DebugTrace.h"
#include "platform/base/Environment.h"
#include "platform/module/Module.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "scan/ScanJobText.h"
#include "scan/ToolkitErrorText.h"

namespace {

constexpr size_t kMaxLanguages = 200;

std::vector<std::string> SplitPlus(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t plus = list.find('+', start);
    names.push_back(list.substr(start, plus == std::string::npos ? std::string::npos : plus - start));
    if (plus == std::string::npos) return names;
    start = plus + 1;
  }
}

// As the OCR library words it, so the user reads the same text whichever notices first.
std::string MissingLanguage(const std::string& name) {
  std::string package = name;
  std::replace(package.begin(), package.end(), '_', '-');
  return "the OCR language \"" + name + "\" is not installed (install the package tesseract-ocr-" + package +
         ")";
}

}  // namespace

OcrPages::OcrPages(std::string languages, int workers) : m_strLanguages(std::move(languages)) {
  const unsigned cores = std::thread::hardware_concurrency();
  // Each engine holds tens of megabytes; a scanner delivers a page every few seconds, so two keep up.
  m_nWorkers = workers > 0 ? workers : static_cast<int>(std::clamp(cores, 1u, 2u));
}

OcrPages::~OcrPages() {
  Cancel();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopping = true;
  }
  m_changed.notify_all();
  for (std::thread& thread : m_threads) thread.join();
  for (auto& page : m_pages)
    if (page->text && m_pFree) m_pFree(page->text);
  m_pages.clear();
  if (m_hModule) FreeLibrary(static_cast<HMODULE>(m_hModule));
}

std::unique_ptr<OcrPages> OcrPages::ForOutput(const std::string& value, int type, int hide, bool& failed) {
  DebugTrace trace("OcrPages::ForOutput", __FILE__);
  failed = false;
  std::string languages;
  std::string error;
  if (!ParseLanguages(value, languages)) {
    error = "the OCR languages \"" + value + "\" are not a list of language names such as \"deu+eng\"";
  } else if (languages.empty()) {
    return nullptr;
  } else if (!TakesText(type)) {
    trace.Write("Ocr '" + languages + "' ignored: file type " + std::to_string(type) + " is not PDF");
    return nullptr;
  } else {
    auto ocr = std::make_unique<OcrPages>(languages);
    if (ocr->Start(error)) return ocr;
  }
  failed = true;
  trace.Error("OCR cannot start: " + error);
  std::string text;
  if (!AfxFormatString1(text, scanjob::Ids::kOcrCannotStart, error.c_str()))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  scanjob::ShowScanBox(hide, text, scanjob::LoadText(scanjob::Ids::kScanCaption, trace, __LINE__));
  return nullptr;
}

std::vector<std::string> OcrPages::SplitLanguages(const std::string& languages) {
  std::vector<std::string> names;
  for (size_t start = 0; start < languages.size();) {
    const size_t plus = languages.find('+', start);
    const size_t end = plus == std::string::npos ? languages.size() : plus;
    if (end > start) names.push_back(languages.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string OcrPages::LanguageTitle(const std::string& languages) {
  struct Entry {
    const char* code;
    const char* name;
  };
  // Each language by its own name, so that the list reads the same in every language of the program.
  static constexpr Entry kNames[] = {
      {"afr", "Afrikaans"},    {"ara", "العربية"},       {"aze", "Azərbaycan"},
      {"bel", "Беларуская"},   {"ben", "বাংলা"},         {"bul", "Български"},
      {"cat", "Català"},       {"ces", "Čeština"},       {"chi_sim", "简体中文"},
      {"chi_tra", "繁體中文"}, {"cym", "Cymraeg"},       {"dan", "Dansk"},
      {"deu", "Deutsch"},      {"ell", "Ελληνικά"},      {"eng", "English"},
      {"est", "Eesti"},        {"eus", "Euskara"},       {"fas", "فارسی"},
      {"fin", "Suomi"},        {"fra", "Français"},      {"gle", "Gaeilge"},
      {"glg", "Galego"},       {"heb", "עברית"},         {"hin", "हिन्दी"},
      {"hrv", "Hrvatski"},     {"hun", "Magyar"},        {"ind", "Bahasa Indonesia"},
      {"isl", "Íslenska"},     {"ita", "Italiano"},      {"jpn", "日本語"},
      {"kor", "한국어"},       {"lat", "Latina"},        {"lav", "Latviešu"},
      {"lit", "Lietuvių"},     {"msa", "Bahasa Melayu"}, {"nld", "Nederlands"},
      {"nor", "Norsk"},        {"pol", "Polski"},        {"por", "Português"},
      {"ron", "Română"},       {"rus", "Русский"},       {"slk", "Slovenčina"},
      {"slv", "Slovenščina"},  {"spa", "Español"},       {"sqi", "Shqip"},
      {"srp", "Српски"},       {"srp_latn", "Srpski"},   {"swe", "Svenska"},
      {"tha", "ไทย"},          {"tur", "Türkçe"},        {"ukr", "Українська"},
      {"vie", "Tiếng Việt"},
  };
  std::string title;
  for (const std::string& code : SplitLanguages(languages)) {
    const char* name = code.c_str();
    for (const Entry& entry : kNames)
      if (code == entry.code) name = entry.name;
    title += (title.empty() ? "" : " + ") + std::string(name);
  }
  return title;
}

std::string OcrPages::InstalledLanguages() {
  HMODULE module = LoadLibraryA("pxocr.dll");
  if (!module) return std::string();
  std::string installed;
  if (auto languages = reinterpret_cast<PxOcrLanguagesFn>(GetProcAddress(module, "PxOcrLanguages"))) {
    char buffer[4096] = {};
    if (languages(buffer, sizeof buffer) == PX_OK) installed = buffer;
  }
  FreeLibrary(module);
  return installed;
}

bool OcrPages::TakesText(int type) {
  return PxIsPdfType(type);
}

bool OcrPages::ParseLanguages(const std::string& value, std::string& languages) {
  const size_t first = value.find_first_not_of(" \t");
  languages = first == std::string::npos ? std::string()
                                         : value.substr(first, value.find_last_not_of(" \t") - first + 1);
  if (languages.empty()) return true;
  if (languages.size() > kMaxLanguages) return false;
  for (const std::string& name : SplitPlus(languages)) {
    if (name.empty()) return false;
    for (char c : name)
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
            c == '-'))
        return false;
  }
  return true;
}

bool OcrPages::Start(std::string& error) {
  DebugTrace trace("OcrPages::Start", __FILE__);
  if (m_hModule) return true;
  // Pages run in parallel on our workers; Tesseract's own OpenMP threads would only compete with them.
  // Set before the library (and its OpenMP run-time) is loaded, while no other thread runs.
  char limit[16];
  if (GetEnvironmentVariableA("OMP_THREAD_LIMIT", limit, sizeof limit) == 0)
    SetEnvironmentVariableA("OMP_THREAD_LIMIT", "1");
  HMODULE module = LoadLibraryA("pxocr.dll");
  if (!module) {
    error = "the OCR library pxocr.dll did not load (error " + std::to_string(platform::GetLastError()) + ")";
    return false;
  }
  m_pRecognize = reinterpret_cast<PxOcrRecognizeFn>(GetProcAddress(module, "PxOcrRecognize"));
  m_pFree = reinterpret_cast<PxOcrFreeFn>(GetProcAddress(module, "PxOcrFree"));
  auto languages = reinterpret_cast<PxOcrLanguagesFn>(GetProcAddress(module, "PxOcrLanguages"));
  if (!m_pRecognize || !m_pFree || !languages) {
    error = "the OCR library pxocr.dll lacks its entry points";
    FreeLibrary(module);
    return false;
  }
  m_hModule = module;
  char installed[4096] = {};
  if (languages(installed, sizeof installed) != PX_OK) installed[0] = '\0';
  const std::vector<std::string> have = SplitPlus(installed);
  for (const std::string& name : SplitPlus(m_strLanguages)) {
    if (std::find(have.begin(), have.end(), name) == have.end()) {
      error = MissingLanguage(name);
      return false;
    }
  }
  trace.WriteFormat("OCR in '%s'", m_strLanguages);
  return true;
}

int32_t OcrPages::Progress(void* user, int32_t /*percent*/) {
  auto* self = static_cast<OcrPages*>(user);
  std::lock_guard<std::mutex> lock(self->m_mutex);
  return self->m_bCancelled ? 0 : 1;
}

void OcrPages::Cancel() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bCancelled = true;
}

void OcrPages::Work() {
  for (;;) {
    Page* page = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [&] { return m_bStopping || m_nNext < m_pages.size(); });
      if (m_nNext >= m_pages.size()) return;
      page = m_pages[m_nNext++].get();
      if (m_bCancelled) {
        page->result = PX_ERR_CANCELLED;
        m_changed.notify_all();
        continue;
      }
    }
    PxOcrText* text = nullptr;
    char message[512] = {};
    int result = m_pRecognize(page->bitmap.Page(), m_strLanguages.c_str(), &OcrPages::Progress, this, &text,
                              message, sizeof message);
    if (result == 0) result = PX_ERR_INTERNAL;  // 0 means "not done yet" here
    std::lock_guard<std::mutex> lock(m_mutex);
    page->text = text;
    page->result = result;
    page->message = message;
    m_changed.notify_all();
  }
}

int OcrPages::Add(PxBitmapBase& bitmap, const std::string& name, int type, int quality, int flags,
                  int pageNumber) {
  auto page = std::make_unique<Page>();
  page->bitmap.AttachPage(bitmap.DetachPage());
  page->name = name;
  page->type = type;
  page->quality = quality;
  page->flags = flags;
  page->pageNumber = pageNumber;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages.push_back(std::move(page));
  }
  m_changed.notify_all();
  while (static_cast<int>(m_threads.size()) < m_nWorkers) m_threads.emplace_back(&OcrPages::Work, this);
  return SaveReady(false) ? PX_OK : PX_ERR_WRITE;
}

int OcrPages::EndScan(int result) {
  DebugTrace trace("OcrPages::EndScan", __FILE__);
  if (result == 6) Cancel();
  std::string error;
  if (Finish(error)) {
    trace.WriteFormat("%lld page(s) made searchable", m_nWithText);
    return result;
  }
  trace.Error("The scan's text is incomplete: " + error);
  return result == 0 ? 5 : result;
}

bool OcrPages::WaitFor(int ms, int& page, int& pages) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto read = [this] {
    size_t done = 0;
    for (const auto& waiting : m_pages) done += waiting->result != 0;
    return done;
  };
  m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return read() == m_pages.size(); });
  const size_t done = read();
  pages = static_cast<int>(m_pages.size());
  page = static_cast<int>(std::min(done + 1, m_pages.size()));
  return done == m_pages.size();
}

bool OcrPages::Finish(std::string& error) {
  DebugTrace trace("OcrPages::Finish", __FILE__);
  const bool saved = SaveReady(true);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopping = true;
  }
  m_changed.notify_all();
  for (std::thread& thread : m_threads) thread.join();
  m_threads.clear();
  error = m_strError;
  return saved && !m_bFailed;
}

bool OcrPages::SaveReady(bool wait) {
  bool ok = true;
  for (;;) {
    std::unique_ptr<Page> page;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_pages.empty()) return ok;
      Page& front = *m_pages.front();
      if (front.result == 0) {
        if (!wait) return ok;
        m_changed.wait(lock, [&] { return front.result != 0; });
      }
      page = std::move(m_pages.front());
      m_pages.pop_front();
      --m_nNext;
    }
    if (!SavePage(*page)) ok = false;
  }
}

bool OcrPages::SavePage(Page& page) {
  DebugTrace trace("OcrPages::SavePage", __FILE__);
  const bool recognised = page.result == PX_OK;
  if (!recognised) {
    // The page is kept as scanned; only its text is missing, and the job says so.
    const std::string cause = page.result == PX_ERR_CANCELLED ? std::string("OCR cancelled")
                              : page.message.empty()
                                  ? std::string("OCR failed (") + PxErrorText(page.result) + ")"
                                  : page.message;
    trace.Error("Page " + std::to_string(page.pageNumber) + " of " + page.name +
                " saved without text: " + cause);
    if (!m_bFailed) m_strError = cause;
    m_bFailed = true;
  }
  const PxSaveOptions options = PxSaveOptions::ForPage(page.pageNumber);
  const int saved = page.bitmap.Save(page.name.c_str(), page.type, 0, page.quality, page.flags, &options,
                                     recognised ? page.text : nullptr);
  if (page.text) m_pFree(page.text);
  page.text = nullptr;
  page.bitmap.Free();
  if (saved < 1) {
    trace.Error(ToolkitErrorText(__FILE__, __LINE__, "Failed to write to " + page.name, saved));
    if (!m_bFailed) m_strError = "Failed to write to " + page.name;
    m_bFailed = true;
    return false;
  }
  if (recognised) ++m_nWithText;
  return true;
}
