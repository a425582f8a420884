#include "toolkit/twain/PageReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pxclass/PxPageAlloc.h"
#include "toolkit/twain/NetDeviceProbe.h"
#include "toolkit/twain/SigpipeBlock.h"

namespace pxtwain {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 100;          // progress reports and stall checks
constexpr int kStopGraceMs = 2000;    // after a stall, before sane_cancel is called
constexpr int kCancelGraceMs = 1000;  // after the user's cancel, who waits for the window to go
constexpr int kAbandonMs = 5000;      // after a stop request, before the worker is abandoned
constexpr int kProbeIdleMs = 1000;    // no data for this long: ask a net device's saned, then as often
constexpr int kProbeWaitMs = 1000;    // a saned that is there answers a connection at once
constexpr int kEmptyReadPauseMs = 10;
constexpr int kReadChunk = 256 * 1024;
constexpr int kMaxWidth = 1 << 20;  // pixels per line

struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  long long done = 0;
  long long total = -1;
  Clock::time_point lastActivity = Clock::now();
  bool finished = false;
  std::atomic<bool> stop{false};
  PageResult result;
  // The sink is called under this lock, and never once an abandoned worker's caller has gone on.
  std::mutex sinkMutex;
  bool sinkGone = false;
  bool sinkBegun = false;  // a page was begun on the sink: its end is owed
};

int Stride(int width, int bitsPerPixel) {
  const long long bytes = (static_cast<long long>(width) * bitsPerPixel + 7) / 8;
  return static_cast<int>((bytes + 3) & ~3LL);
}

// Builds the page line by line from the frames SANE sends.
class Assembler {
 public:
  ~Assembler() { PageReader::FreePage(m_page); }

  // Checks a frame's parameters and prepares for its lines; false with an error text.
  bool BeginFrame(const SANE_Parameters& p, std::string& error) {
    const bool single = p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB;
    const bool pass =
        p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
    if (!single && !pass) return Bad(error, "frame format " + std::to_string(p.format));
    if (p.depth != 1 && p.depth != 8 && p.depth != 16) return Bad(error, "depth " + std::to_string(p.depth));
    if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxWidth || p.lines == 0 || p.lines < -1)
      return Bad(error, "frame size " + std::to_string(p.pixels_per_line) + "x" + std::to_string(p.lines));
    const int samples = p.format == SANE_FRAME_RGB ? 3 : 1;
    const long long needed = (static_cast<long long>(p.pixels_per_line) * samples * p.depth + 7) / 8;
    if (p.bytes_per_line < needed || p.bytes_per_line > needed + 65536)
      return Bad(error, "bytes per line " + std::to_string(p.bytes_per_line));
    const int bits = (p.format == SANE_FRAME_GRAY) ? (p.depth == 1 ? 1 : 8) : 24;
    if (m_page == nullptr) {
      m_bits = bits;
      m_width = p.pixels_per_line;
      m_declaredLines = p.lines;
      m_bThreePass = pass;
      m_page = PageReader::NewPage(m_width, p.lines > 0 ? p.lines : 64, bits);
      if (m_page == nullptr) return Bad(error, "page too large or out of memory");
    } else if (!pass || !m_bThreePass || bits != m_bits || p.pixels_per_line != m_width) {
      return Bad(error, "a later frame does not match the first");
    }
    m_params = p;
    m_channel = p.format == SANE_FRAME_GREEN ? 1 : p.format == SANE_FRAME_BLUE ? 2 : 0;
    m_row = 0;
    m_line.assign(static_cast<size_t>(p.bytes_per_line), 0);
    m_fill = 0;
    return true;
  }

  // Consumes bytes of the current frame; false with an error text when the page cannot grow.
  bool Add(const unsigned char* data, size_t length, std::string& error) {
    const size_t line = m_line.size();
    while (length > 0) {
      if (m_fill == 0 && length >= line) {  // whole lines go to the page without the line buffer
        if (!StoreLine(data, error)) return false;
        data += line;
        length -= line;
        continue;
      }
      const size_t take = std::min(length, m_line.size() - m_fill);
      std::memcpy(m_line.data() + m_fill, data, take);
      m_fill += take;
      data += take;
      length -= take;
      if (m_fill == line) {
        if (!StoreLine(m_line.data(), error)) return false;
        m_fill = 0;
      }
    }
    return true;
  }

  // Hands over the finished page (height = the rows that arrived); null when no row did. Three-pass
  // colour keeps only the rows every colour reached: the others would hold uninitialised memory.
  PxPage* Finish() {
    if (m_bThreePass) m_rows = std::min({m_passRows[0], m_passRows[1], m_passRows[2]});
    if (m_page == nullptr || m_rows == 0) return nullptr;
    m_page->height = m_rows;
    PxPage* page = m_page;
    m_page = nullptr;
    return page;
  }

  // The page's bytes over all its frames (three-pass colour: three of this frame's size).
  long long ExpectedBytes() const {
    if (m_params.lines <= 0) return -1;
    return static_cast<long long>(m_params.lines) * m_params.bytes_per_line * (m_bThreePass ? 3 : 1);
  }

 private:
  static bool Bad(std::string& error, const std::string& what) {
    error = "unusable frame: " + what;
    return false;
  }

  bool StoreLine(const unsigned char* in, std::string& error) {
    if (m_declaredLines > 0 && m_row >= m_declaredLines) return true;  // lines beyond the declared height
    if (m_row >= m_page->height && !Grow(error)) return false;
    unsigned char* out = m_page->pixels + static_cast<size_t>(m_row) * m_page->stride;
    const int w = m_width;
    const int depth = m_params.depth;
    auto sample = [&](long long index) -> unsigned char {
      if (depth == 8) return in[index];
      if (depth == 16) {
        uint16_t v;
        std::memcpy(&v, in + index * 2, 2);  // host byte order, as SANE sends it
        return static_cast<unsigned char>(v >> 8);
      }
      return (in[index / 8] >> (7 - index % 8)) & 1 ? 0 : 255;  // one-bit samples: 1 is black
    };
    // Rows are not pre-filled (a page only ever holds the rows that arrived), so clear the padding.
    const size_t used = (static_cast<size_t>(w) * m_bits + 7) / 8;
    std::memset(out + used, 0, static_cast<size_t>(m_page->stride) - used);
    if (depth == 8 && m_params.format != SANE_FRAME_RED && m_params.format != SANE_FRAME_GREEN &&
        m_params.format != SANE_FRAME_BLUE) {
      std::memcpy(out, in, used);  // grey and RGB bytes are already the page's layout
    } else if (m_params.format == SANE_FRAME_GRAY && depth == 1) {
      const int bytes = (w + 7) / 8;
      for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(~in[i]);  // SANE: 1 is black
    } else if (m_params.format == SANE_FRAME_GRAY) {
      for (int x = 0; x < w; ++x) out[x] = sample(x);
    } else if (m_params.format == SANE_FRAME_RGB) {
      for (long long i = 0; i < 3LL * w; ++i) out[i] = sample(i);
    } else {
      for (int x = 0; x < w; ++x) out[3LL * x + m_channel] = sample(x);
    }
    ++m_row;
    if (m_row > m_rows) m_rows = m_row;
    if (m_bThreePass && m_row > m_passRows[m_channel]) m_passRows[m_channel] = m_row;
    return true;
  }

  bool Grow(std::string& error) {
    const long long rows = static_cast<long long>(m_page->height) * 2;
    const long long bytes = rows * m_page->stride;
    if (bytes > kMaxPageBytes) {
      error = "page larger than the limit";
      return false;
    }
    auto* grown = static_cast<uint8_t*>(std::realloc(m_page->pixels, static_cast<size_t>(bytes)));
    if (grown == nullptr) {
      error = "out of memory";
      return false;
    }
    m_page->pixels = grown;
    m_page->height = static_cast<int32_t>(rows);
    return true;
  }

  PxPage* m_page = nullptr;
  SANE_Parameters m_params{};
  std::vector<unsigned char> m_line;
  size_t m_fill = 0;
  int m_bits = 0;
  int m_width = 0;
  int m_declaredLines = 0;
  int m_channel = 0;
  int m_row = 0;
  int m_rows = 0;
  bool m_bThreePass = false;
  int m_passRows[3] = {0, 0, 0};  // rows each colour of a three-pass page reached
};

// Whether the sink can take a frame's rows as they come: one frame of 8-bit grey or RGB lines, of a
// known count.
bool Streamable(const SANE_Parameters& p) {
  if ((p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB) || p.depth != 8 || !p.last_frame)
    return false;
  if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxWidth || p.lines <= 0) return false;
  const long long needed = static_cast<long long>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
  return p.bytes_per_line >= needed && p.bytes_per_line <= needed + 65536;
}

// Hands whole lines to the sink: runs of them straight from the read buffer, a line split between
// reads through a line buffer. Lines beyond the announced count are dropped.
class RowFeeder {
 public:
  RowFeeder(const SANE_Parameters& p, const PxTwnRowSink* sink, void* context, Shared& shared)
      : m_line(static_cast<size_t>(p.bytes_per_line)),
        m_lines(p.lines),
        m_sink(sink),
        m_context(context),
        m_shared(shared) {}

  bool Add(const unsigned char* data, size_t length) {
    const size_t line = m_line.size();
    while (length > 0 && m_rows < m_lines) {
      if (m_fill == 0 && length >= line) {
        const int count =
            static_cast<int>(std::min<size_t>(length / line, static_cast<size_t>(m_lines - m_rows)));
        if (!Give(data, count)) return false;
        data += static_cast<size_t>(count) * line;
        length -= static_cast<size_t>(count) * line;
        continue;
      }
      const size_t take = std::min(length, line - m_fill);
      std::memcpy(m_line.data() + m_fill, data, take);
      m_fill += take;
      data += take;
      length -= take;
      if (m_fill == line) {
        m_fill = 0;
        if (!Give(m_line.data(), 1)) return false;
      }
    }
    return true;
  }
  int Rows() const { return m_rows; }

 private:
  bool Give(const unsigned char* rows, int count) {
    std::lock_guard<std::mutex> lock(m_shared.sinkMutex);
    if (m_shared.sinkGone || m_sink->rows(m_context, rows, count, static_cast<int>(m_line.size())) < 0)
      return false;
    m_rows += count;
    return true;
  }

  std::vector<unsigned char> m_line;
  size_t m_fill = 0;
  int m_lines;
  int m_rows = 0;
  const PxTwnRowSink* m_sink;
  void* m_context;
  Shared& m_shared;
};

void Work(SANE_Handle handle, const std::shared_ptr<Shared>& shared, const PageRequest& request) {
  const SigpipeBlock pipe;  // a lost network scanner is a failed read, not the end of the process
  PageResult result;
  Assembler assembler;
  std::unique_ptr<RowFeeder> feeder;
  const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadChunk]);  // not cleared: reads fill it
  auto touch = [&](long long add, long long total) {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->done += add;
    if (total >= 0) shared->total = total;
    shared->lastActivity = Clock::now();
  };
  for (bool last = false; !last && result.code == PX_TWN_OK;) {
    SANE_Status status = sane_start(handle);
    if (status != SANE_STATUS_GOOD) {
      result.code = PageReader::MapStatus(status, true);
      result.error = std::string("sane_start: ") + sane_strstatus(status);
      break;
    }
    SANE_Parameters params{};
    status = sane_get_parameters(handle, &params);
    if (status != SANE_STATUS_GOOD) {
      result.code = PX_TWN_E_START;
      result.error = std::string("sane_get_parameters: ") + sane_strstatus(status);
      break;
    }
    if (!result.streamed && request.sink != nullptr && Streamable(params)) {
      const int bits = params.format == SANE_FRAME_RGB ? 24 : 8;
      std::lock_guard<std::mutex> lock(shared->sinkMutex);
      const int taken = shared->sinkGone
                            ? -1
                            : request.sink->begin(request.sinkContext, request.pageNumber,
                                                  params.pixels_per_line, params.lines, bits, request.dpi);
      if (taken < 0) {
        result.code = PX_TWN_E_IO;
        result.error = "the page's file could not be made";
        break;
      }
      result.streamed = taken == 1;
      shared->sinkBegun = result.streamed;
      if (result.streamed)
        feeder = std::make_unique<RowFeeder>(params, request.sink, request.sinkContext, *shared);
    }
    if (result.streamed) {
      touch(0, static_cast<long long>(params.lines) * params.bytes_per_line);
    } else if (!assembler.BeginFrame(params, result.error)) {
      result.code = PX_TWN_E_FORMAT;
      break;
    } else {
      touch(0, assembler.ExpectedBytes());
    }
    last = params.last_frame != SANE_FALSE;
    for (;;) {
      if (shared->stop.load()) {
        result.code = PX_TWN_E_CANCELLED;  // the caller knows whether it was a cancel or a stall
        break;
      }
      SANE_Int length = 0;
      status = sane_read(handle, buffer.get(), kReadChunk, &length);
      if (status == SANE_STATUS_EOF) break;
      if (status != SANE_STATUS_GOOD) {
        result.code = PageReader::MapStatus(status, false);
        result.error = std::string("sane_read: ") + sane_strstatus(status);
        break;
      }
      if (length < 0 || length > kReadChunk) {
        result.code = PX_TWN_E_IO;
        result.error = "sane_read gave a bad length";
        break;
      }
      if (feeder != nullptr) {
        if (!feeder->Add(buffer.get(), static_cast<size_t>(length))) {
          result.code = PX_TWN_E_IO;
          result.error = "the page's file could not be written";
          break;
        }
      } else if (!assembler.Add(buffer.get(), static_cast<size_t>(length), result.error)) {
        result.code = PX_TWN_E_TOO_LARGE;
        break;
      }
      // A blocking read that gives nothing is no sign of life (SANE's net backend reads its lost
      // connection's end as "nothing yet" for ever); pause rather than spin.
      if (length == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kEmptyReadPauseMs));
        continue;
      }
      touch(length, -1);
    }
  }
  if (feeder != nullptr) result.rows = feeder->Rows();
  if (result.code == PX_TWN_OK && result.streamed) {
    if (result.rows == 0) {
      result.code = PX_TWN_E_NO_PAGE;
      result.error = "the device sent no lines";
    }
  } else if (result.code == PX_TWN_OK) {
    result.page = assembler.Finish();
    if (result.page == nullptr) {
      result.code = PX_TWN_E_NO_PAGE;
      result.error = "the device sent no lines";
    }
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  shared->result = std::move(result);
  shared->finished = true;
  shared->changed.notify_all();
}

}  // namespace

int PageReader::MapStatus(SANE_Status status, bool start) {
  switch (status) {
    case SANE_STATUS_GOOD:
      return PX_TWN_OK;
    case SANE_STATUS_CANCELLED:
      return PX_TWN_E_CANCELLED;
    case SANE_STATUS_JAMMED:
      return PX_TWN_E_JAMMED;
    case SANE_STATUS_NO_DOCS:
      return PX_TWN_E_NO_DOCS;
    case SANE_STATUS_COVER_OPEN:
      return PX_TWN_E_COVER_OPEN;
    case SANE_STATUS_NO_MEM:
      return PX_TWN_E_NO_MEMORY;
    case SANE_STATUS_EOF:
      return PX_TWN_E_NO_PAGE;
    default:
      return start ? PX_TWN_E_START : PX_TWN_E_IO;
  }
}

void PageReader::FreePage(PxPage* page) {
  if (page == nullptr) return;
  std::free(page->pixels);
  std::free(page);
}

PxPage* PageReader::NewPage(int width, int height, int bitsPerPixel) {
  if (width <= 0 || height <= 0 || width > kMaxWidth) return nullptr;
  const int stride = Stride(width, bitsPerPixel);
  const long long bytes = static_cast<long long>(stride) * height;
  if (bytes > kMaxPageBytes) return nullptr;
  auto* page = static_cast<PxPage*>(std::calloc(1, sizeof(PxPage)));
  if (page == nullptr) return nullptr;
  page->pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
  if (page->pixels == nullptr) {
    std::free(page);
    return nullptr;
  }
  PxPagePrefault(page->pixels, static_cast<size_t>(bytes));
  page->width = width;
  page->height = height;
  page->bitsPerPixel = bitsPerPixel;
  page->stride = stride;
  return page;
}

PxPage* PageReader::Threshold(PxPage* grey) {
  if (grey == nullptr || grey->bitsPerPixel != 8) return grey;
  PxPage* bw = NewPage(grey->width, grey->height, 1);
  if (bw == nullptr) return grey;  // keep the grey page rather than lose it
  bw->xDpi = grey->xDpi;
  bw->yDpi = grey->yDpi;
  for (int y = 0; y < grey->height; ++y) {
    const uint8_t* in = grey->pixels + static_cast<size_t>(y) * grey->stride;
    uint8_t* out = bw->pixels + static_cast<size_t>(y) * bw->stride;
    std::memset(out, 0, static_cast<size_t>(bw->stride));
    for (int x = 0; x < grey->width; ++x)
      if (in[x] >= 128) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  FreePage(grey);
  return bw;
}

PageResult PageReader::StreamFrame(const FrameData& frame, const PxTwnRowSink& sink, void* context,
                                   size_t chunk) {
  PageResult result;
  const SANE_Parameters& p = frame.params;
  if (!Streamable(p) || chunk == 0) {
    result.code = PX_TWN_E_FORMAT;
    return result;
  }
  const int taken =
      sink.begin(context, 1, p.pixels_per_line, p.lines, p.format == SANE_FRAME_RGB ? 24 : 8, 0);
  if (taken != 1) {
    result.code = taken == 0 ? PX_TWN_E_FORMAT : PX_TWN_E_IO;
    return result;
  }
  result.streamed = true;
  Shared shared;
  RowFeeder feeder(p, &sink, context, shared);
  for (size_t at = 0; at < frame.size && result.code == PX_TWN_OK; at += chunk)
    if (!feeder.Add(frame.data + at, std::min(chunk, frame.size - at))) result.code = PX_TWN_E_IO;
  result.rows = feeder.Rows();
  if (result.code == PX_TWN_OK && result.rows == 0) result.code = PX_TWN_E_NO_PAGE;
  if (sink.end(context, result.rows, result.code == PX_TWN_OK ? 1 : 0) < 0 && result.code == PX_TWN_OK)
    result.code = PX_TWN_E_IO;
  return result;
}

PageResult PageReader::DecodeFrames(const std::vector<FrameData>& frames) {
  PageResult result;
  Assembler assembler;
  bool last = false;
  for (size_t i = 0; i < frames.size() && !last; ++i) {
    const FrameData& frame = frames[i];
    if (!assembler.BeginFrame(frame.params, result.error)) {
      result.code = PX_TWN_E_FORMAT;
      return result;
    }
    if (frame.size > 0 && !assembler.Add(frame.data, frame.size, result.error)) {
      result.code = PX_TWN_E_TOO_LARGE;
      return result;
    }
    last = frame.params.last_frame != SANE_FALSE;
  }
  result.page = assembler.Finish();
  if (result.page == nullptr) {
    result.code = PX_TWN_E_NO_PAGE;
    result.error = "the frames hold no complete line";
  }
  return result;
}

PageResult PageReader::Read(SANE_Handle handle, const PageRequest& request) {
  auto shared = std::make_shared<Shared>();
  std::thread worker(Work, handle, shared, request);
  const auto stall = std::chrono::milliseconds(request.stallMs > 0 ? request.stallMs : 30000);
  int reason = PX_TWN_OK;
  Clock::time_point stopAt{};
  Clock::time_point lastProbe = Clock::now();
  const bool probe = !NetDeviceProbe::HostOf(request.device).empty();
  bool cancelSent = false;
  for (;;) {
    long long done = 0;
    long long total = -1;
    Clock::time_point lastActivity;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->changed.wait_for(lock, std::chrono::milliseconds(kPollMs), [&] { return shared->finished; });
      if (shared->finished) break;
      done = shared->done;
      total = shared->total;
      lastActivity = shared->lastActivity;
    }
    const auto now = Clock::now();
    if (reason == PX_TWN_OK) {
      if (request.progress != nullptr &&
          request.progress(request.context, request.pageNumber, done, total) != 0)
        reason = PX_TWN_E_CANCELLED;
      else if (now - lastActivity > stall)
        reason = PX_TWN_E_STALLED;
      else if (probe && now - lastActivity > std::chrono::milliseconds(kProbeIdleMs) &&
               now - lastProbe > std::chrono::milliseconds(kProbeIdleMs)) {
        lastProbe = now;
        if (!NetDeviceProbe::Answers(request.device, kProbeWaitMs)) reason = PX_TWN_E_IO;
      }
      if (reason != PX_TWN_OK) {
        shared->stop = true;
        stopAt = now;
      }
    } else if (!cancelSent &&
               now - stopAt >
                   std::chrono::milliseconds(reason == PX_TWN_E_CANCELLED ? kCancelGraceMs : kStopGraceMs)) {
      // The worker is stuck inside the backend: SANE allows sane_cancel from another thread for this.
      sane_cancel(handle);
      cancelSent = true;
    } else if (now - stopAt > std::chrono::milliseconds(kAbandonMs)) {
      worker.detach();  // it keeps its own reference to the shared state
      PageResult result;
      {
        std::lock_guard<std::mutex> lock(shared->sinkMutex);
        shared->sinkGone = true;
        result.streamed = shared->sinkBegun;
      }
      result.code = reason;
      result.error = "the device did not return from a read; the session is abandoned";
      result.abandoned = true;
      return result;
    }
  }
  worker.join();
  PageResult result = std::move(shared->result);
  if (reason != PX_TWN_OK) {
    FreePage(result.page);
    result.page = nullptr;
    result.code = reason;
    result.error =
        reason == PX_TWN_E_STALLED ? "no data from the device for " + std::to_string(stall.count()) + " ms"
        : reason == PX_TWN_E_IO
            ? "the network scanner's host " + NetDeviceProbe::HostOf(request.device) + " does not answer"
            : "cancelled by the user";
  }
  return result;
}

}  // namespace pxtwain
