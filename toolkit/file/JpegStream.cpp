// JpegStream (see JpegStream.h): a page's rows compressed into its file as they arrive.
#include "toolkit/file/JpegStream.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/resource.h>
#include <unistd.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "toolkit/file/JpegEncoder.h"

namespace pxfile {

using namespace jpeg;

namespace {

// libjpeg's output into a buffer that grows; the encoder's own thread takes each finished MCU row out
// of it and moves what follows to the front, so it stays about one MCU row long.
struct GrowingDest {
  jpeg_destination_mgr pub{};  // first: libjpeg sees only this
  uint8_t* data = nullptr;
  size_t capacity = 0;
  size_t Written() const { return capacity - pub.free_in_buffer; }
  void Rewind(size_t keepFrom) {
    const size_t keep = Written() - keepFrom;
    std::memmove(data, data + keepFrom, keep);
    pub.next_output_byte = data + keep;
    pub.free_in_buffer = capacity - keep;
  }
  ~GrowingDest() { std::free(data); }
};

void GrowingInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDest*>(cinfo->dest);
  d->pub.next_output_byte = d->data;
  d->pub.free_in_buffer = d->capacity;
}

boolean GrowingEmpty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDest*>(cinfo->dest);
  const size_t used = d->capacity;
  auto* grown = static_cast<uint8_t*>(std::realloc(d->data, used * 2));
  if (grown == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  d->data = grown;
  d->capacity = used * 2;
  d->pub.next_output_byte = grown + used;
  d->pub.free_in_buffer = d->capacity - used;
  return TRUE;
}

void GrowingTerm(j_compress_ptr) {}

// One column range of the page, with its own encoder.
struct StreamPart {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  GrowingDest dest;
  bool created = false;
  int32_t x = 0;  // first column
  int32_t width = 0;
  int chunks = 1;  // restart intervals in each of its MCU rows
  // The entropy-coded data of each MCU row (with the markers between its intervals), taken out as
  // soon as the marker after it is written. The encoder fills an entry before it counts it ready; the
  // file's writer empties it after.
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> head;  // the headers up to the scan's data (taken with the first row)
  size_t start = 0;           // where the current row's data begins in `dest`
  int taken = 0;              // rows taken out
  int groupsDone = 0;         // these four under the stream's mutex
  int ready = 0;
  bool failed = false;
  bool busy = false;     // a thread is setting it up or compressing a row of it
  bool started = false;  // its encoder is set up
  std::thread thread;
  ~StreamPart() {
    if (created) jpeg_destroy_compress(&cinfo);
  }

  // Takes out the finished row: the data up to the restart marker that ends its last interval, or up
  // to the end marker once the encoder has finished. False when the stream is not as libjpeg writes it.
  bool TakeRow(bool finished, std::vector<uint8_t>&& into) {
    const uint8_t* d = dest.data;
    const size_t size = dest.Written();
    if (taken == 0) {
      size_t sof = 0;
      if (!Headers(d, size, sof, start)) return false;
      head.assign(d, d + start);
    }
    size_t end = 0;
    if (finished) {
      if (size < start + 2 || d[size - 2] != 0xFF || d[size - 1] != 0xD9) return false;
      end = size - 2;
    } else {
      int markers = 0;
      for (size_t at = start; end == 0 && at + 1 < size;) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(d + at, 0xFF, size - at - 1));
        if (ff == nullptr) break;
        const size_t pos = size_t(ff - d);
        if (d[pos + 1] >= 0xD0 && d[pos + 1] <= 0xD7 && ++markers == chunks) end = pos;
        at = pos + 2;
      }
      if (end == 0) return false;
    }
    into.assign(d + start, d + end);
    rows[size_t(taken)] = std::move(into);
    ++taken;
    if (!finished) {
      dest.Rewind(end + 2);
      start = 0;
    }
    return true;
  }
};

}  // namespace

struct JpegStream::State {
  static constexpr int kSlots = 16;  // MCU rows the ring holds
  static constexpr int kWakeRows = 4;
  static constexpr int kHelperNice = 10;  // above the process's own

  std::string path;
  FILE* file = nullptr;
  int32_t width = 0, height = 0;
  int bytesPerPixel = 0;
  int quality = 0;
  int xDpi = 0, yDpi = 0;
  size_t rowBytes = 0;
  int mcu = 0;       // rows per MCU row
  int groups = 0;    // MCU rows of the announced height
  int interval = 0;  // MCUs per restart interval
  int32_t rows = 0;
  // Not cleared: every row is written before it is read. Whole huge pages from 1 MB on, mapped at
  // once (see PxPagePrefault): one fault instead of hundreds while the first rows arrive.
  std::unique_ptr<uint8_t, decltype(&std::free)> ring{nullptr, &std::free};
  size_t ringBytes = 0;
  // stdio's own would be 4 KB: a write call for every row. In the ring's last huge page when it has
  // room (fresh pages of its own cost a fault each); the file is always closed before the ring goes.
  static constexpr size_t kFileBuffer = 64 * 1024;
  char* fileBuffer = nullptr;
  std::unique_ptr<char[]> ownFileBuffer;
  std::vector<std::unique_ptr<StreamPart>> parts;
  bool threaded = false;
  // The file so far: the headers once written, where the frame header is, the MCU rows written, and
  // the restart intervals begun.
  bool headWritten = false;
  size_t sofAt = 0;
  int written = 0;
  int writeLimit = 0;  // MCU rows the parts may give the file (fewer for a page that ended early)
  int intervals = 0;
  bool writeFailed = false;

  std::mutex mutex;
  std::condition_variable changed;
  int filled = 0;     // MCU rows complete in the ring
  bool stop = false;  // the encoders end after the rows filled so far, without finishing
  bool abort = false;
  bool made = false;    // the file was created by this stream (only then is it removed on failure)
  bool closed = false;  // the file is complete and stays
  // Waking a thread is dear (in a virtual machine, tens of microseconds), so nobody is woken for
  // every MCU row: the helper is woken only when it waits, for a few rows at once, and the writer only
  // when it waits for a row the helper is compressing.
  bool writerWaiting = false;
  int encodersWaiting = 0;
  std::vector<std::vector<uint8_t>> spare;  // row buffers written out

  ~State() {
    if (!closed) Abort();
  }

  int GroupRows(int g) const { return std::min(mcu, height - g * mcu); }
  uint8_t* Slot(int g) { return ring.get() + size_t(g % kSlots) * size_t(mcu) * rowBytes; }

  // The ring's pages are mapped by PrefaultRing, on the second thread when there is one: meanwhile the
  // device's first rows are read (its pipe is small, and it waits while nobody reads).
  bool AllocateRing() {
    const size_t bytes = size_t(kSlots) * size_t(mcu) * rowBytes;
    constexpr size_t kHuge = size_t(2) << 20;
    if (bytes >= (size_t(1) << 20)) {
      ringBytes = (bytes + kHuge - 1) & ~(kHuge - 1);
      ring.reset(static_cast<uint8_t*>(std::aligned_alloc(kHuge, ringBytes)));
      if (ring != nullptr && ringBytes - bytes >= kFileBuffer)
        fileBuffer = reinterpret_cast<char*>(ring.get() + bytes);
    } else {
      ring.reset(static_cast<uint8_t*>(std::malloc(bytes)));
    }
    return ring != nullptr;
  }

  void PrefaultRing() {
    if (ringBytes > 0) PxPagePrefault(ring.get(), ringBytes);
  }

  // Opens the file for writing without emptying it: a file of that name is written over and cut to
  // its new length at the end (emptying an old file at open took up to a millisecond on ext4, while the
  // device waited).
  bool OpenFile() {
    const int fd = OpenForWriting(path, O_WRONLY, false);
    if (fd < 0) return false;
    file = fdopen(fd, "wb");
    if (file == nullptr) {
      ::close(fd);
      return false;
    }
    made = true;
    if (fileBuffer == nullptr) {
      ownFileBuffer.reset(new (std::nothrow) char[kFileBuffer]);
      fileBuffer = ownFileBuffer.get();
    }
    if (fileBuffer != nullptr) std::setvbuf(file, fileBuffer, _IOFBF, kFileBuffer);
    return true;
  }

  bool StartPart(StreamPart& p) {
    SetupErrors(p.err, reinterpret_cast<jpeg_common_struct*>(&p.cinfo));
    jpeg_create_compress(&p.cinfo);
    p.created = true;
    p.rows.resize(size_t(groups));
    // A few MCU rows' worth: rows are taken out as they are finished.
    p.dest.capacity = size_t(p.width) * size_t(mcu) * size_t(bytesPerPixel) + 65536;
    p.dest.data = static_cast<uint8_t*>(std::malloc(p.dest.capacity));
    if (p.dest.data == nullptr) return false;
    p.dest.pub.init_destination = GrowingInit;
    p.dest.pub.empty_output_buffer = GrowingEmpty;
    p.dest.pub.term_destination = GrowingTerm;
    p.cinfo.dest = &p.dest.pub;
    if (setjmp(p.err.jump)) return false;
    // Restart markers where the parts' rows are joined and where a short page can be cut: every
    // `interval` MCUs, which ends each MCU row of every part.
    Start(p.cinfo, p.width, height, bytesPerPixel * 8, quality, 0, xDpi, yDpi, interval);
    return true;
  }

  bool EncodeGroup(StreamPart& p, int g) {
    if (setjmp(p.err.jump)) return false;
    JSAMPROW pointers[16];
    const int n = GroupRows(g);
    uint8_t* base = Slot(g) + size_t(p.x) * size_t(bytesPerPixel);
    for (int i = 0; i < n; ++i) pointers[i] = base + size_t(i) * rowBytes;
    if (jpeg_write_scanlines(&p.cinfo, pointers, JDIMENSION(n)) != JDIMENSION(n)) return false;
    // The first MCU of row g began with the marker that ends row g - 1.
    return g == 0 || p.TakeRow(false, Spare());
  }

  bool FinishPart(StreamPart& p) {
    if (setjmp(p.err.jump)) return false;
    jpeg_finish_compress(&p.cinfo);
    return p.TakeRow(true, Spare());
  }

  // Encodes MCU row g on the calling thread and counts what it finished.
  bool Encode(StreamPart& p, int g) {
    const bool ok = EncodeGroup(p, g) && (g + 1 < groups || FinishPart(p));
    std::lock_guard<std::mutex> lock(mutex);
    p.groupsDone = g + 1;
    p.ready = p.taken;
    p.failed = !ok;
    return ok;
  }

  // Compresses the next row of a part taken with `busy` set (setting the part up first if nobody
  // has), and gives it back; wakes whoever waits for it.
  bool Advance(StreamPart& p, int g) {
    const bool ok = (p.started || StartPart(p)) && Encode(p, g);
    Release(p, ok);
    return ok;
  }

  // Gives back a part taken with `busy` set, waking the writer if it waits, and the helper if it
  // waits for this part.
  void Release(StreamPart& p, bool ok) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      p.started = true;
      p.failed = p.failed || !ok;
      p.busy = false;
      wake = writerWaiting || !ok || (encodersWaiting > 0 && &p == parts.back().get());
    }
    if (wake) changed.notify_all();
  }

  // Sets a part up on the calling thread unless another thread has or is doing it.
  void SetUp(StreamPart& p) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (p.busy || p.started) return;
      p.busy = true;
    }
    Release(p, StartPart(p));
  }

  // Compresses the part's rows before `upTo` on the calling thread as far as no other thread is busy
  // with it; false when it failed.
  bool TryAdvance(StreamPart& p, int upTo) {
    for (;;) {
      int g = 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (p.failed) return false;
        if (p.busy || p.groupsDone >= upTo) return true;
        p.busy = true;
        g = p.groupsDone;
      }
      if (!Advance(p, g)) return false;
    }
  }

  // The helper's thread: maps the ring and sets both parts' encoders up while the writer reads the
  // first rows into the ring (so the device does not wait for that), then compresses the second
  // part's rows as they come. It yields to the reading thread and to the device's own (on two cores
  // it would otherwise slow the data it waits for: a scan from SANE's test device took 7 to 15 %
  // longer); when it falls behind, the writer takes rows of its part itself (see CatchUp).
  void Run() {
    errno = 0;
    const int niceness = getpriority(PRIO_PROCESS, 0);  // this thread's, on Linux
    if (errno == 0) setpriority(PRIO_PROCESS, 0, std::min(19, niceness + kHelperNice));
    PrefaultRing();
    for (auto& part : parts) SetUp(*part);
    StreamPart& p = *parts.back();
    for (;;) {
      int g = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        auto ready = [&] {
          return abort || p.failed || (!p.busy && (filled > p.groupsDone || stop || p.groupsDone >= groups));
        };
        if (!ready()) {
          ++encodersWaiting;
          changed.wait(lock, ready);
          --encodersWaiting;
        }
        if (abort || p.failed || filled <= p.groupsDone) return;
        g = p.groupsDone;
        p.busy = true;
      }
      if (!Advance(p, g)) return;
    }
  }

  // The MCU row g is in the ring: the first part is compressed on the writer's thread, like a single
  // pass (once the helper has set it up: until then rows wait in the ring), and the other on its own
  // thread meanwhile (or here too when there are no threads).
  bool Filled(int g) {
    if (threaded) {
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex);
        filled = g + 1;
        // A waiting encoder is woken for a few rows at once: on a page that costs little to compress
        // it would otherwise sleep and wake for every row.
        wake = encodersWaiting > 0 && (filled == groups || filled - parts[1]->groupsDone >= kWakeRows);
      }
      if (wake) changed.notify_all();
      if (!TryAdvance(*parts[0], g + 1)) return false;
    } else if (!Encode(*parts[0], g)) {
      return false;
    }
    WriteReady(groups);
    return !writeFailed;
  }

  // Writes the MCU rows every part has finished, in order, up to `limit` rows: the file grows while
  // the page is still being compressed.
  void WriteReady(int limit) {
    int upTo = std::min(limit, writeLimit);
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& p : parts) upTo = std::min(upTo, p->ready);
    }
    if (upTo <= written || writeFailed || !WriteHead()) return;
    bool ok = true;
    std::vector<std::vector<uint8_t>> done;
    for (; written < upTo && ok; ++written)
      for (auto& p : parts) {
        std::vector<uint8_t>& row = p->rows[size_t(written)];
        ok = ok && PutRow(row);
        row.clear();
        done.push_back(std::move(row));
      }
    writeFailed = !ok;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& row : done) spare.push_back(std::move(row));
  }

  // A row buffer written out before, its memory already in use (fresh memory is dear); else a new one.
  std::vector<uint8_t> Spare() {
    std::lock_guard<std::mutex> lock(mutex);
    if (spare.empty()) return {};
    std::vector<uint8_t> row = std::move(spare.back());
    spare.pop_back();
    return row;
  }

  // The first part's headers stand for the whole image, with the page's width. False when writing
  // failed.
  bool WriteHead() {
    if (headWritten) return !writeFailed;
    headWritten = true;
    StreamPart& first = *parts[0];
    if (first.head.empty()) {  // no row was taken (a page of one MCU row): its encoder has stopped
      size_t data = 0;
      if (!Headers(first.dest.data, first.dest.Written(), sofAt, data)) return !(writeFailed = true);
      first.head.assign(first.dest.data, first.dest.data + data);
    }
    size_t data = 0;
    std::vector<uint8_t>& head = first.head;
    bool ok = Headers(head.data(), head.size(), sofAt, data);
    if (ok) {
      head[sofAt + 7] = uint8_t(width >> 8);
      head[sofAt + 8] = uint8_t(width);
      ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
    }
    writeFailed = !ok;
    return ok;
  }

  // A part's MCU row, after the marker that ends the interval before: its restart markers, numbered
  // in the part's own stream, get their numbers in the whole image's.
  bool PutRow(std::vector<uint8_t>& row) {
    bool ok = true;
    if (intervals > 0) {
      const uint8_t marker[2] = {0xFF, uint8_t(0xD0 + (intervals - 1) % 8)};
      ok = std::fwrite(marker, 1, 2, file) == 2;
    }
    ++intervals;
    uint8_t* d = row.data();
    const size_t size = row.size();
    for (size_t at = 0; at + 1 < size;) {
      auto* ff = static_cast<uint8_t*>(std::memchr(d + at, 0xFF, size - at - 1));
      if (ff == nullptr) break;
      if (ff[1] >= 0xD0 && ff[1] <= 0xD7) ff[1] = uint8_t(0xD0 + (intervals++ - 1) % 8);
      at = size_t(ff - d) + 2;
    }
    return ok && std::fwrite(d, 1, size, file) == size;
  }

  // Takes the next row; false when an encoder or the file failed.
  bool Put(const uint8_t* row) {
    const int g = rows / mcu;
    const int r = rows % mcu;
    if (r == 0 && threaded && g >= kSlots && !SlotFree(g)) return false;
    std::memcpy(Slot(g) + size_t(r) * rowBytes, row, rowBytes);
    ++rows;
    return r + 1 < GroupRows(g) || Filled(g);
  }

  // Waits until the ring slot of MCU row g is free, writing what is ready first; false when an
  // encoder or the file failed.
  bool SlotFree(int g) { return CatchUp(g - kSlots + 1); }

  // Until every part has done `need` MCU rows: the writer compresses rows of a part that is behind
  // and not busy itself, and waits only for a row being compressed (after writing what is ready).
  // False when an encoder or the file failed.
  bool CatchUp(int need) {
    for (bool wrote = false;;) {
      StreamPart* behind = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex);
        for (auto& p : parts) {
          if (p->failed) return false;
          if (p->groupsDone < need && behind == nullptr) behind = p.get();
        }
        if (behind == nullptr) return true;
        if (behind->busy && wrote) {
          writerWaiting = true;
          changed.wait(lock, [&] { return !behind->busy || behind->failed; });
          writerWaiting = false;
          continue;
        }
        if (behind->busy)
          behind = nullptr;  // write what is ready first, then wait
        else
          behind->busy = true;
      }
      if (behind != nullptr) {
        if (!Advance(*behind, behind->groupsDone)) return false;
        wrote = false;
      } else {
        WriteReady(groups);
        if (writeFailed) return false;
        wrote = true;
      }
    }
  }

  void Join() {
    for (auto& p : parts)
      if (p->thread.joinable()) p->thread.join();
  }

  void Abort() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      abort = true;
    }
    changed.notify_all();
    Join();
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    if (made) std::remove(path.c_str());
  }

  // The last MCU row of a page that ended early, `count` rows from `rows`, compressed for each part as
  // an image of its own: libjpeg pads its bottom edge exactly as a single pass of the short page would.
  // The entropy-coded data of each, or an empty list on failure.
  std::vector<std::vector<uint8_t>> Tail(const uint8_t* rows, int count) const {
    std::vector<std::vector<uint8_t>> tails;
    for (const auto& p : parts) {
      PxPage view{};
      view.width = p->width;
      view.height = count;
      view.bitsPerPixel = bytesPerPixel * 8;
      view.stride = int32_t(rowBytes);
      view.pixels = const_cast<uint8_t*>(rows) + size_t(p->x) * size_t(bytesPerPixel);
      view.xDpi = xDpi;
      view.yDpi = yDpi;
      pxfile::Encode e;
      size_t sof = 0, data = 0;
      if (!CompressToMemory(e, &view, quality, 0, count, 0, interval) || !Layout(e.buffer, e.size, sof, data))
        return {};
      tails.emplace_back(e.buffer + data, e.buffer + e.size - 2);
    }
    return tails;
  }
};

JpegStream::JpegStream() = default;

JpegStream::~JpegStream() = default;

int JpegStream::Open(const std::string& path, int32_t width, int32_t height, int bitsPerPixel, int xDpi,
                     int yDpi, int factor) {
  if (m_state) return PX_ERR_PARAMETER;
  if ((bitsPerPixel != 8 && bitsPerPixel != 24) || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION ||
      height > JPEG_MAX_DIMENSION)
    return PX_ERR_PARAMETER;
  auto state = std::make_unique<State>();
  State& s = *state;
  s.path = path;
  s.width = width;
  s.height = height;
  s.bytesPerPixel = bitsPerPixel / 8;
  s.rowBytes = size_t(width) * size_t(s.bytesPerPixel);
  s.mcu = bitsPerPixel == 24 ? 16 : 8;  // libjpeg's defaults: 4:2:0 colour
  s.groups = (height + s.mcu - 1) / s.mcu;
  s.writeLimit = s.groups;
  const int mcusPerRow = (width + s.mcu - 1) / s.mcu;
  // A large page is cut into columns of whole restart intervals (one interval length fits all): two
  // halves when its MCUs per row are even, else the fewest equal columns they divide into (319 MCUs:
  // 11 of 29), the writer's thread taking the left ones, a second thread the others. Narrow intervals
  // would cost a marker every few MCUs, so they are not used.
  int chunks = 1;
  if (ThreadsAllowed() && int64_t(width) * height >= kBandPixels) {
    chunks = mcusPerRow % 2 == 0 ? 2 : 0;
    for (int p = 3; chunks == 0 && p * p <= mcusPerRow; p += 2)
      if (mcusPerRow % p == 0) chunks = p;
    if (chunks == 0 || mcusPerRow / chunks < 8) chunks = 1;
  }
  s.interval = mcusPerRow / chunks;
  s.threaded = chunks > 1;
  const int count = chunks > 1 ? 2 : 1;
  if (s.interval > 65535) return PX_ERR_PARAMETER;  // the largest restart interval
  if (!s.AllocateRing()) return PX_ERR_NO_MEMORY;
  if (!s.OpenFile()) return PX_ERR_WRITE;
  s.quality = JpegQualityFor(factor);
  s.xDpi = xDpi;
  s.yDpi = yDpi;
  const int leftChunks = chunks / 2;
  const int32_t left = leftChunks * s.interval * s.mcu;
  for (int i = 0; i < count; ++i) {
    auto part = std::make_unique<StreamPart>();
    part->x = i == 0 ? 0 : left;
    part->width = count == 1 ? width : i == 0 ? left : width - left;
    part->chunks = count == 1 ? 1 : i == 0 ? leftChunks : chunks - leftChunks;
    s.parts.push_back(std::move(part));
  }
  if (s.threaded) {
    try {
      s.parts[1]->thread = std::thread([&s] { s.Run(); });  // which sets the parts up (see Run)
    } catch (const std::system_error&) {
      return PX_ERR_NO_MEMORY;
    }
  } else {
    s.PrefaultRing();
    if (!s.StartPart(*s.parts[0])) return PX_ERR_NO_MEMORY;  // the state's end removes the file
    s.parts[0]->started = true;
  }
  m_state = std::move(state);
  return PX_OK;
}

int JpegStream::Write(const uint8_t* rows, int32_t count, size_t stride) {
  if (!m_state) return PX_ERR_PARAMETER;
  State& s = *m_state;
  for (int32_t i = 0; i < count && s.rows < s.height; ++i)
    if (!s.Put(rows + size_t(i) * stride)) return s.writeFailed ? PX_ERR_WRITE : PX_ERR_INTERNAL;
  return PX_OK;
}

int JpegStream::Close(bool keep) {
  if (!m_state) return PX_ERR_PARAMETER;
  std::unique_ptr<State> state = std::move(m_state);
  State& s = *state;
  const int32_t received = s.rows;
  if (!keep || received == 0) return keep ? PX_ERR_WRITE : PX_OK;  // the state's end removes the file
  int rowsFromParts = s.groups;
  std::vector<std::vector<uint8_t>> tails;
  if (received < s.height) {
    // The page ended early: its last MCU row is compressed on its own (see Tail). Any rows complete
    // the encoders' MCU row there, which closes the restart interval before it; nothing after is
    // encoded.
    rowsFromParts = (received - 1) / s.mcu;
    s.writeLimit = rowsFromParts;
    const std::vector<uint8_t> last(
        s.Slot(rowsFromParts), s.Slot(rowsFromParts) + size_t(received - rowsFromParts * s.mcu) * s.rowBytes);
    tails = s.Tail(last.data(), received - rowsFromParts * s.mcu);
    if (tails.empty()) return PX_ERR_INTERNAL;
    const int32_t upTo = std::min(s.height, (rowsFromParts + 1) * s.mcu);
    while (s.rows < upTo)
      if (!s.Put(last.data())) return PX_ERR_INTERNAL;
    if (s.rows < s.height) {
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stop = true;
      }
      s.changed.notify_all();
    }
  }
  // The writer takes what the helper has not begun (only the writer changes `filled`); the state's end
  // stops the helper on failure.
  if (s.threaded && !s.CatchUp(s.filled)) return s.writeFailed ? PX_ERR_WRITE : PX_ERR_INTERNAL;
  s.Join();
  for (auto& p : s.parts)
    if (p->failed) return PX_ERR_INTERNAL;
  s.WriteReady(rowsFromParts);
  bool ok = s.WriteHead() && s.written == rowsFromParts;
  for (auto& tail : tails) ok = ok && s.PutRow(tail);
  const uint8_t end[2] = {0xFF, 0xD9};
  ok = ok && std::fwrite(end, 1, 2, s.file) == 2;
  const long length = ok ? std::ftell(s.file) : -1;  // an older file's tail is cut off there
  ok = length > 0;
  if (ok && received < s.height) {
    // The frame header gets the rows that came.
    const uint8_t rowsKept[2] = {uint8_t(received >> 8), uint8_t(received)};
    ok = std::fseek(s.file, long(s.sofAt + 5), SEEK_SET) == 0 && std::fwrite(rowsKept, 1, 2, s.file) == 2;
  }
  ok = std::fflush(s.file) == 0 && !std::ferror(s.file) && ok;
  ok = ok && ftruncate(fileno(s.file), off_t(length)) == 0;
  ok = std::fclose(s.file) == 0 && ok;
  s.file = nullptr;
  s.closed = ok;  // a failed file is removed with the state: no half-written page left behind
  return ok ? PX_OK : PX_ERR_WRITE;
}

}  // namespace pxfile
