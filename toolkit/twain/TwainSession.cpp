#include "toolkit/twain/TwainSession.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/twain/NetDeviceProbe.h"
#include "toolkit/twain/PageReader.h"
#include "toolkit/twain/SaneOptions.h"

namespace pxtwain {

namespace {

std::atomic<bool> g_bSessionOpen{false};
// Set for the rest of the process once a session was abandoned with a worker stuck in a backend.
std::atomic<bool> g_bPoisoned{false};

constexpr int kMaxLength = 1440 * 1000;  // 1000 inches
constexpr int kMaxResolution = 19200;
constexpr int kProbeMs = 3000;  // a saned that is there answers a connection at once

// The tests' feeder for SANE's pnm backend: the regular files of the folder MARLIN3_PNM_FEED, in name
// order, one page each; the feeder is empty after the last.
std::vector<std::string> PnmFeed() {
  std::vector<std::string> files;
  const char* folder = std::getenv("MARLIN3_PNM_FEED");
  if (folder == nullptr || *folder == 0) return files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.is_regular_file(error)) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// See Acquire: the least time between sane_start and a cancel after a failure.
constexpr int kCancelSettleMs = 20;

bool Terminated(const char* text, size_t size) {
  return std::memchr(text, 0, size) != nullptr;
}

// Cuts UTF-8 text to at most max bytes without splitting a character.
std::string Cut(const std::string& text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool Valid(const PxTwainProps& p) {
  const auto length = [](int32_t v) { return v == -1 || (v >= 0 && v <= kMaxLength); };
  const auto level = [](int32_t v) { return v == PX_TWN_NOT_GIVEN || (v >= -1000 && v <= 1000); };
  return p.pixelType >= -1 && p.pixelType <= PX_TWN_PIXEL_RGB &&
         (p.bitDepth == -1 || p.bitDepth == 1 || p.bitDepth == 8 || p.bitDepth == 24) &&
         (p.resolution == -1 || (p.resolution > 0 && p.resolution <= kMaxResolution)) && length(p.width) &&
         length(p.height) && length(p.left) && length(p.top) && level(p.brightness) && level(p.contrast) &&
         p.feederSource >= PX_TWN_SOURCE_DEVICE && p.feederSource <= PX_TWN_SOURCE_FEEDER && p.stallMs >= 0 &&
         p.stallMs <= 3600000;
}

}  // namespace

TwainSession::TwainSession() {
  m_props.pixelType = -1;
  m_props.bitDepth = -1;
  m_props.resolution = -1;
  m_props.spare1 = -1;
  m_props.spare2 = -1;
  m_props.width = -1;
  m_props.height = -1;
  m_props.brightness = PX_TWN_NOT_GIVEN;
  m_props.contrast = PX_TWN_NOT_GIVEN;
}

int TwainSession::Open(TwainSession** session) {
  if (session == nullptr) return PX_TWN_E_ARGUMENT;
  *session = nullptr;
  if (g_bPoisoned.load()) return PX_TWN_E_STATE;
  bool expected = false;
  if (!g_bSessionOpen.compare_exchange_strong(expected, true)) return PX_TWN_E_STATE;
  SANE_Int version = 0;
  if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) {
    g_bSessionOpen = false;
    return PX_TWN_E_NO_MANAGER;
  }
  *session = new (std::nothrow) TwainSession();
  if (*session == nullptr) {
    sane_exit();
    g_bSessionOpen = false;
    return PX_TWN_E_NO_MEMORY;
  }
  return PX_TWN_OK;
}

TwainSession::~TwainSession() {
  if (m_bAbandoned) {
    g_bPoisoned = true;  // a worker may still be inside the backend: leave SANE as it is
  } else {
    CloseDevice();
    sane_exit();
  }
  g_bSessionOpen = false;
}

void TwainSession::CloseDevice() {
  if (m_hDevice != nullptr && !m_bAbandoned) {
    sane_cancel(m_hDevice);
    sane_close(m_hDevice);
  }
  m_hDevice = nullptr;
  m_strDevice.clear();
  m_props.saneDevice[0] = '\0';
}

int TwainSession::Fail(int code, const std::string& text) {
  m_strError = std::string(PxTwn_ErrorText(code)) + (text.empty() ? "" : ": " + text);
  return code;
}

std::vector<SourceEntry> TwainSession::NameDevices(const std::vector<SourceEntry>& table,
                                                   const std::vector<SourceEntry>& vendorModels) {
  std::vector<SourceEntry> named = table;
  auto taken = [&](const std::string& name) {
    for (const SourceEntry& e : named)
      if (e.name == name) return true;
    return false;
  };
  for (const SourceEntry& device : vendorModels) {
    bool inTable = false;
    for (const SourceEntry& e : table) inTable = inTable || e.device == device.device;
    if (inTable) continue;
    std::string name = Cut(device.name, PX_TWN_NAME_LEN);
    for (int n = 2; taken(name) && n < 1000; ++n) {
      const std::string suffix = " #" + std::to_string(n);
      name = Cut(device.name, PX_TWN_NAME_LEN - suffix.size()) + suffix;
    }
    if (!name.empty()) named.push_back({name, device.device});
  }
  return named;
}

int TwainSession::SetSourceTable(const PxTwnSourceEntry* entries, int count) {
  if (count < 0 || count > 256 || (count > 0 && entries == nullptr))
    return Fail(PX_TWN_E_ARGUMENT, "bad table");
  std::vector<SourceEntry> table;
  for (int i = 0; i < count; ++i) {
    const PxTwnSourceEntry& e = entries[i];
    if (!Terminated(e.name, sizeof e.name) || !Terminated(e.device, sizeof e.device) || e.name[0] == '\0' ||
        e.device[0] == '\0')
      return Fail(PX_TWN_E_ARGUMENT, "table entry " + std::to_string(i) + " is empty or unterminated");
    table.push_back({e.name, e.device});
  }
  m_table = std::move(table);
  m_bListed = false;
  return PX_TWN_OK;
}

int TwainSession::ListSources() {
  const SANE_Device** devices = nullptr;
  const SANE_Status status = sane_get_devices(&devices, SANE_FALSE);
  std::vector<SourceEntry> found;
  if (status == SANE_STATUS_GOOD && devices != nullptr) {
    for (const SANE_Device** d = devices; *d != nullptr; ++d) {
      if ((*d)->name == nullptr || std::strlen((*d)->name) > PX_TWN_DEVICE_LEN) continue;
      std::string name =
          std::string((*d)->vendor ? (*d)->vendor : "") + " " + ((*d)->model ? (*d)->model : "");
      found.push_back({name, (*d)->name});
    }
  }
  m_sources = NameDevices(m_table, found);
  m_bListed = true;
  return PX_TWN_OK;
}

int TwainSession::EnumSources(PxTwnSourceFn callback, void* context) {
  if (callback == nullptr) return Fail(PX_TWN_E_ARGUMENT, "no callback");
  if (int rc = ListSources(); rc != PX_TWN_OK) return rc;
  for (const SourceEntry& source : m_sources)
    if (callback(context, source.name.c_str()) == 0) break;
  return PX_TWN_OK;
}

int TwainSession::GetProperties(PxTwainProps* props) {
  if (props == nullptr) return Fail(PX_TWN_E_ARGUMENT, "no record");
  *props = m_props;
  return PX_TWN_OK;
}

int TwainSession::SelectSource(const std::string& name) {
  // The table's sources come first, so one of them is chosen without asking SANE for its devices
  // (which may search every backend's buses and networks for seconds).
  auto find = [&](const std::vector<SourceEntry>& sources) -> const SourceEntry* {
    for (const SourceEntry& source : sources)
      if (name.empty() || source.name == name) return &source;
    return nullptr;
  };
  const SourceEntry* chosen = find(m_bListed ? m_sources : m_table);
  if (chosen == nullptr && !m_bListed) {
    if (int rc = ListSources(); rc != PX_TWN_OK) return rc;
    chosen = find(m_sources);
  }
  if (chosen == nullptr)
    return Fail(PX_TWN_E_NO_SOURCE, name.empty() ? "there is no source" : "no source named \"" + name + "\"");
  if (m_hDevice != nullptr && m_strDevice == chosen->device) return PX_TWN_OK;
  const std::string device = chosen->device;
  CloseDevice();
  SANE_Handle handle = nullptr;
  const SANE_Status status = sane_open(device.c_str(), &handle);
  if (status != SANE_STATUS_GOOD || handle == nullptr)
    return Fail(PX_TWN_E_OPEN, "sane_open(" + device + "): " + sane_strstatus(status));
  m_hDevice = handle;
  m_strDevice = device;
  std::snprintf(m_props.saneDevice, sizeof m_props.saneDevice, "%s", device.c_str());
  return PX_TWN_OK;
}

int TwainSession::SetProperties(const PxTwainProps* props, int flags) {
  if (props == nullptr) return Fail(PX_TWN_E_ARGUMENT, "no record");
  if (m_bAbandoned) return Fail(PX_TWN_E_STATE, "the session was abandoned");
  if ((flags & ~(PX_TWN_SET_IDENTITY | PX_TWN_SET_IMAGE)) != 0)
    return Fail(PX_TWN_E_ARGUMENT, "unknown flags");
  if (flags & PX_TWN_SET_IDENTITY) {
    if (!Terminated(props->manufacturer, sizeof props->manufacturer) ||
        !Terminated(props->productFamily, sizeof props->productFamily) ||
        !Terminated(props->productName, sizeof props->productName) ||
        !Terminated(props->sourceName, sizeof props->sourceName))
      return Fail(PX_TWN_E_ARGUMENT, "an identity text or the source name is not terminated");
    if (int rc = SelectSource(props->sourceName); rc != PX_TWN_OK) return rc;
    std::memcpy(m_props.manufacturer, props->manufacturer, sizeof m_props.manufacturer);
    std::memcpy(m_props.productFamily, props->productFamily, sizeof m_props.productFamily);
    std::memcpy(m_props.productName, props->productName, sizeof m_props.productName);
    std::memcpy(m_props.sourceName, props->sourceName, sizeof m_props.sourceName);
  }
  if (flags & PX_TWN_SET_IMAGE) {
    if (!Valid(*props)) return Fail(PX_TWN_E_ARGUMENT, "a value of the record is out of range");
    PxTwainProps next = m_props;
    next.pixelType = props->pixelType;
    next.bitDepth = props->bitDepth;
    // The depth alone names the pixel type when the type is left open.
    if (next.pixelType == -1 && next.bitDepth != -1)
      next.pixelType = next.bitDepth == 1   ? PX_TWN_PIXEL_BW
                       : next.bitDepth == 8 ? PX_TWN_PIXEL_GRAY
                                            : PX_TWN_PIXEL_RGB;
    next.resolution = props->resolution;
    next.spare1 = props->spare1;
    next.spare2 = props->spare2;
    next.width = props->width;
    next.height = props->height;
    next.brightness = props->brightness;
    next.contrast = props->contrast;
    next.left = props->left == -1 ? 0 : props->left;
    next.top = props->top == -1 ? 0 : props->top;
    next.feederSource = props->feederSource;
    next.stallMs = props->stallMs;
    m_props = next;
  }
  return PX_TWN_OK;
}

int TwainSession::GetDeviceOptions(PxTwnDeviceOptions* options) {
  if (options == nullptr) return Fail(PX_TWN_E_ARGUMENT, "no record");
  if (m_bAbandoned) return Fail(PX_TWN_E_STATE, "the session was abandoned");
  if (m_hDevice == nullptr)
    if (int rc = SelectSource(m_props.sourceName); rc != PX_TWN_OK) return rc;
  SaneOptions(m_hDevice).Describe(*options);
  return PX_TWN_OK;
}

int TwainSession::Acquire(const PxTwnAcquire* request) {
  if (request == nullptr || request->page == nullptr) return Fail(PX_TWN_E_ARGUMENT, "no page callback");
  if (m_bAbandoned) return Fail(PX_TWN_E_STATE, "the session was abandoned");
  if (m_hDevice == nullptr)
    if (int rc = SelectSource(m_props.sourceName); rc != PX_TWN_OK) return rc;
  SaneOptions options(m_hDevice);
  // SANE's pnm backend (a debugging backend, never a scanner) scans the file its "filename" option
  // names: the tests' scanner of text pages, given by MARLIN3_PNM_FILE, or their feeder's stack.
  std::vector<std::string> stack;
  if (m_strDevice.rfind("pnm:", 0) == 0) {
    if (const char* file = std::getenv("MARLIN3_PNM_FILE"); file && *file) options.SetFileName(file);
    stack = PnmFeed();
  }
  const int set = request->preview ? options.ApplyPreview() : options.Apply(m_props, false);
  if (set != PX_TWN_OK) return Fail(set, options.ErrorText());
  const bool feeder = !request->preview && (options.FeederSelected() || !stack.empty());
  const int dpi = options.Resolution();
  int pages = 0;
  int result = PX_TWN_OK;
  auto pageStarted = std::chrono::steady_clock::now();
  for (;;) {
    if (!stack.empty()) {
      if (static_cast<size_t>(pages) >= stack.size()) break;
      // The backend ends its scan at the file's end and starts again only after a cancel.
      if (pages > 0) sane_cancel(m_hDevice);
      options.SetFileName(stack[static_cast<size_t>(pages)]);
    }
    PageRequest page;
    page.pageNumber = pages + 1;
    page.stallMs = m_props.stallMs;
    page.progress = request->progress;
    page.context = request->context;
    page.device = m_strDevice;
    // Line art is thresholded from grey once the page is whole, so it never streams.
    if (!request->preview && m_props.pixelType != PX_TWN_PIXEL_BW) {
      page.sink = request->rowSink;
      page.sinkContext = request->context;
      page.dpi = dpi;
    }
    if (!NetDeviceProbe::Answers(m_strDevice, kProbeMs)) {
      result = Fail(PX_TWN_E_IO,
                    "the network scanner's host " + NetDeviceProbe::HostOf(m_strDevice) + " does not answer");
      break;
    }
    pageStarted = std::chrono::steady_clock::now();
    PageResult read = PageReader::Read(m_hDevice, page);
    int ended = PX_TWN_OK;
    if (read.streamed) ended = page.sink->end(page.sinkContext, read.rows, read.code == PX_TWN_OK ? 1 : 0);
    if (read.abandoned) {
      m_bAbandoned = true;
      return Fail(read.code, read.error);
    }
    // An empty feeder after the first page is the normal end of a batch.
    if (read.code == PX_TWN_E_NO_DOCS && pages > 0 && feeder) break;
    if (read.code != PX_TWN_OK) {
      result = Fail(read.code, read.error);
      break;
    }
    if (ended < 0) {
      result = Fail(PX_TWN_E_IO, "the page's file could not be written");
      break;
    }
    PxPage* delivered = read.page;  // null when the rows went to the sink
    if (delivered != nullptr) {
      delivered->xDpi = delivered->yDpi = dpi;
      if (m_props.pixelType == PX_TWN_PIXEL_BW && !request->preview)
        delivered = PageReader::Threshold(delivered);
    }
    ++pages;
    const int goOn = request->page(request->context, delivered);
    if (goOn == 0 || !feeder || request->preview || (request->maxPages > 0 && pages >= request->maxPages))
      break;
  }
  // SANE's thread-based backends (the test device among them) cancel their reader thread
  // asynchronously; cancelled while it is still starting, inside the allocator, it leaves the
  // allocator's lock taken and the process hangs. A page that failed at once waits out those first
  // milliseconds first.
  const auto early =
      std::chrono::milliseconds(kCancelSettleMs) - (std::chrono::steady_clock::now() - pageStarted);
  if (result != PX_TWN_OK && early.count() > 0) std::this_thread::sleep_for(early);
  sane_cancel(m_hDevice);  // ends the batch (or the single page) in every case
  return result == PX_TWN_OK ? pages : result;
}

}  // namespace pxtwain
