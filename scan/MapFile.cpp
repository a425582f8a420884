#include "scan/MapFile.h"

#include <algorithm>
#include <new>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kStartOfPageSize = 36;
constexpr size_t kEndOfImageSize = 12;
constexpr size_t kRasterHeaderSize = 4;
// A resume block is a header and a start of page, a suspend block a header and an end of image.
constexpr uint32_t kResumeKind = 1, kResumeLength = 44;
constexpr uint32_t kSuspendKind = 2, kSuspendLength = 20;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
uint32_t Be16(const uint8_t* p) {
  return uint32_t{p[0]} << 8 | uint32_t{p[1]};
}

uint32_t HeaderLength(uint32_t word) {
  return word & 0xFFFFu;
}
uint32_t Kind(uint32_t word) {
  return word >> 24;
}

}  // namespace

const char* MapFile::ResultText(Result result) {
  switch (result) {
    case Result::Ok:
      return "no error";
    case Result::InputUnreadable:
      return "the fax file cannot be read";
    case Result::InputTooLarge:
      return "the fax file is larger than the reader holds";
    case Result::OutputUnwritable:
      return "the intermediate file cannot be written";
    case Result::NoMemory:
      return "out of memory";
    case Result::BadBlockLength:
      return "a block is shorter than its header";
    case Result::TruncatedBlock:
      return "a block reaches past the end of the file";
    case Result::BadHeaderLength:
      return "a block header is longer than its block";
    case Result::TruncatedRecord:
      return "a record reaches past the end of its block";
    case Result::RasterTooLong:
      return "a raster record is longer than the reader holds";
    case Result::OutputFull:
      return "the fax data is larger than the output area";
    case Result::UnknownRecord:
      return "a record of unknown type inside fax data";
    case Result::DataBeforePage:
      return "fax data before the start of a page";
    case Result::BadPage:
      return "a page of impossible size or resolution";
    case Result::NoPage:
      return "no page with fax data";
    case Result::Refused:
      return "the reader has already failed";
  }
  return "unknown error";
}

MapFile::MapFile() = default;
MapFile::MapFile(const Limits& limits) : m_limits(limits) {}

bool MapFile::Fail(Result result) {
  if (m_result == Result::Ok) m_result = result;
  return false;
}

bool MapFile::Initialize(const std::string& input, const std::string& output) {
  DebugTrace trace("MapFile::Initialize", __FILE__);
  if (input.size() > MAX_PATH || output.size() > MAX_PATH) {
    trace.Error(TRACE_NUMBERED("Fax file name too long"));
    return Fail(Result::InputUnreadable);
  }
  std::vector<uint8_t> data;
  HANDLE in = CreateFileA(input.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    trace.SystemError("Opening fax file " + input + " failed");
    return Fail(Result::InputUnreadable);
  }
  DWORD high = 0;
  const DWORD low = GetFileSize(in, &high);
  const uint64_t size = (uint64_t{high} << 32) | low;
  bool readOk = low != INVALID_FILE_SIZE || high != 0;
  if (readOk && size > m_limits.maxInput) {
    CloseHandle(in);
    trace.Error(TRACE_NUMBERED(ResultText(Result::InputTooLarge)));
    return Fail(Result::InputTooLarge);
  }
  try {
    data.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    CloseHandle(in);
    return Fail(Result::NoMemory);
  }
  size_t have = 0;
  while (readOk && have < data.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - have, 1u << 20));
    if (!ReadFile(in, data.data() + have, want, &got, nullptr) || got == 0) readOk = false;
    have += got;
  }
  CloseHandle(in);
  if (!readOk) {
    trace.Error(TRACE_NUMBERED("Reading fax file " + input + " failed"));
    return Fail(Result::InputUnreadable);
  }

  if (!Unpack(data.data(), data.size())) {
    trace.Error(TRACE_NUMBERED(std::string("Unpacking fax file failed: ") + ResultText(m_result)));
    return false;
  }

  HANDLE out =
      CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    trace.SystemError("Creating " + output + " failed");
    return Fail(Result::OutputUnwritable);
  }
  DWORD written = 0;
  const bool wrote =
      WriteFile(out, m_output.data(), static_cast<DWORD>(m_output.size()), &written, nullptr) &&
      written == m_output.size();
  if (!wrote) trace.SystemError("Writing " + output + " failed");
  CloseHandle(out);
  if (!wrote) {
    DeleteFileA(output.c_str());  // a cut intermediate file must not be taken for the fax
    return Fail(Result::OutputUnwritable);
  }
  return true;
}

bool MapFile::Unpack(const uint8_t* data, size_t size) {
  DebugTrace trace("MapFile::Unpack", __FILE__);
  if (m_bUsed) return Fail(Result::Refused);
  m_bUsed = true;
  trace.Detail("Initialize MapFile");
  size_t pos = 0;
  for (;;) {
    const Step step = StreamStep(data + pos, size - pos);
    if (step.consumed < 0) return false;
    pos += static_cast<size_t>(step.consumed);
    if (!step.more) break;
  }
  return FinishPages();
}

// One step of the block reader. The whole stream is in memory, so a part that would have to be
// waited for can never come: it ends the stream (as a failure when it is inside a block).
MapFile::Step MapFile::StreamStep(const uint8_t* data, size_t available) {
  const Step fail{-1, false};
  switch (m_nState) {
    case 0:
      m_nState = 1;
      return {0, available > 0};
    case 1: {
      size_t slide = 0;
      if (m_bSuspend) {
        // Suspended data is not blocks: look for the resume header byte by byte.
        while (slide + kHeaderSize <= available &&
               !(Kind(Le32(data + slide + 4)) == kResumeKind && Le32(data + slide) == kResumeLength))
          ++slide;
        if (slide + kHeaderSize > available) return {static_cast<int64_t>(available), false};
      }
      if (available - slide < kHeaderSize) {
        if (available == slide) return {0, false};
        Fail(Result::TruncatedBlock);
        return fail;
      }
      m_nBlockLength = Le32(data + slide);
      m_nBlockWord = Le32(data + slide + 4);
      if (m_nBlockLength < kHeaderSize) {
        Fail(Result::BadBlockLength);
        return fail;
      }
      if (m_nBlockLength > available - slide) {
        Fail(Result::TruncatedBlock);
        return fail;
      }
      if (HeaderLength(m_nBlockWord) > m_nBlockLength) {
        Fail(Result::BadHeaderLength);
        return fail;
      }
      m_nBytesLeft = m_nBlockLength - kHeaderSize;
      if (HeaderLength(m_nBlockWord) > kHeaderSize)
        m_nState = 2;
      else
        m_nState = m_nBytesLeft > 0 ? 3 : 1;
      m_bResumeBlock = Kind(m_nBlockWord) == kResumeKind && m_nBlockLength == kResumeLength;
      if (m_bResumeBlock) m_bSuspend = false;
      if (Kind(m_nBlockWord) == kSuspendKind && m_nBlockLength == kSuspendLength) m_bSuspend = true;
      return {static_cast<int64_t>(slide + kHeaderSize), true};
    }
    case 2: {
      const uint32_t skip = HeaderLength(m_nBlockWord) - kHeaderSize;  // checked against the block above
      if (available < skip) {
        Fail(Result::TruncatedBlock);
        return fail;
      }
      m_nBytesLeft -= skip;
      m_nState = m_nBytesLeft > 0 ? 3 : 1;
      return {static_cast<int64_t>(skip), true};
    }
    case 3: {
      if (available < m_nBytesLeft) {
        Fail(Result::TruncatedBlock);
        return fail;
      }
      const uint32_t payload = m_nBytesLeft;
      if (!WalkRecords(data, payload)) return fail;
      m_nBytesLeft = 0;
      m_nState = 1;
      return {static_cast<int64_t>(payload), true};
    }
    default:
      break;
  }
  Fail(Result::Refused);
  return fail;
}

bool MapFile::WalkRecords(const uint8_t* data, size_t size) {
  DebugTrace trace("MapFile::WalkRecords", __FILE__);
  size_t at = 0;
  while (at < size) {
    const uint8_t* record = data + at;
    const size_t left = size - at;
    switch (record[0]) {
      case 0:
        if (left < kStartOfPageSize) return Fail(Result::TruncatedRecord);
        if (!StartPage(record)) return false;
        at += kStartOfPageSize;
        break;
      case 1: {
        if (left < kRasterHeaderSize) return Fail(Result::TruncatedRecord);
        const uint32_t length = Be16(record + 2);
        if (length > m_limits.maxRasterRecord) return Fail(Result::RasterTooLong);
        if (left - kRasterHeaderSize < length) return Fail(Result::TruncatedRecord);
        if (!m_bSuspend) {
          if (m_pages.empty()) return Fail(Result::DataBeforePage);
          if (length > m_limits.outputArea - m_output.size()) return Fail(Result::OutputFull);
          try {
            m_output.insert(m_output.end(), record + kRasterHeaderSize, record + kRasterHeaderSize + length);
          } catch (const std::bad_alloc&) {
            return Fail(Result::NoMemory);
          }
          m_pages.back().length += length;
          CountLines(record + kRasterHeaderSize, length);
        }
        at += kRasterHeaderSize + length;
        break;
      }
      case 2:
        if (left < kEndOfImageSize) return Fail(Result::TruncatedRecord);
        trace.Detail("Hit End of Image!");
        at += kEndOfImageSize;
        break;
      default:
        // Without a size the rest of the block cannot be walked. While suspended nothing would be
        // copied from it anyway; inside fax data, skipping would lose lines silently.
        if (!m_bSuspend) return Fail(Result::UnknownRecord);
        trace.Detail("Skipping suspended record of unknown type");
        at = size;
        break;
    }
  }
  return true;
}

bool MapFile::StartPage(const uint8_t* record) {
  Page page;
  page.width = static_cast<int32_t>(Be16(record + 4));
  const uint32_t height = Be32(record + 8);
  // 16.16 fixed point; the integer part is the resolution.
  page.xRes = static_cast<int32_t>(Be32(record + 12) >> 16);
  page.yRes = static_cast<int32_t>(Be32(record + 16) >> 16);
  if (page.width == 0 || height == 0 || height > m_limits.maxPageHeight || page.xRes == 0 || page.yRes == 0)
    return Fail(Result::BadPage);
  page.height = static_cast<int32_t>(height);
  if (m_bResumeBlock && !m_pages.empty()) {
    const Page& current = m_pages.back();
    const bool same = current.length > 0 && current.lines > 0 && !current.ended &&
                      current.width == page.width && current.height == page.height &&
                      current.xRes == page.xRes && current.yRes == page.yRes;
    // A page paused and resumed: its data goes on where it stopped (mid-line even).
    if (same && current.lines < static_cast<uint32_t>(current.height)) return true;
    // As many EOLs as lines, no RTC: either the page is whole (EOL before each line), or its last line
    // was cut by the pause. The data tells: a new page starts with an EOL (CountLines).
    page.tentative = same;
  }
  page.offset = static_cast<uint32_t>(m_output.size());
  m_nZeros = 0;
  m_nEolsInRow = 0;
  m_bDataSinceEol = false;
  // A start of page that got no data (a repeated header) gives way to the next one.
  if (!m_pages.empty() && m_pages.back().length == 0) m_pages.pop_back();
  m_pages.push_back(page);
  return true;
}

// Group 3 data: an EOL is eleven or more zero bits and a one (fill bits only lengthen the zeros), and
// no code of a line holds eleven zeros in a row; six EOLs in a row are the end of the page (RTC).
void MapFile::CountLines(const uint8_t* data, size_t size) {
  Page* page = &m_pages.back();
  for (size_t i = 0; i < size && !page->ended; ++i) {
    const uint8_t byte = data[i];
    if (byte == 0) {
      m_nZeros += 8;
      continue;
    }
    for (int bit = 7; bit >= 0; --bit) {
      if ((byte >> bit & 1) == 0) {
        ++m_nZeros;
        continue;
      }
      if (page->tentative) {
        page->tentative = false;
        if (m_nZeros < 11 && m_pages.size() > 1) {
          // Not an EOL: the rest of the line the pause cut. Its data belongs to the page before.
          const uint32_t length = page->length;
          m_pages.pop_back();
          page = &m_pages.back();
          page->length += length;
          m_bDataSinceEol = true;
          m_nZeros = 0;
          continue;
        }
      }
      if (m_nZeros >= 11) {
        // Only zeros between two EOLs: they are in a row.
        m_nEolsInRow = m_bDataSinceEol ? 1 : m_nEolsInRow + 1;
        m_bDataSinceEol = false;
        ++page->lines;
        if (m_nEolsInRow >= 6 || page->lines > static_cast<uint32_t>(page->height)) page->ended = true;
      } else {
        m_bDataSinceEol = true;
      }
      m_nZeros = 0;
    }
  }
}

bool MapFile::FinishPages() {
  if (!m_pages.empty() && m_pages.back().length == 0) m_pages.pop_back();
  if (m_pages.empty()) return Fail(Result::NoPage);
  return true;
}

void MapFile::GetInfo(int32_t& xRes, int32_t& yRes, int32_t& width, int32_t& height) const {
  const Page first = m_pages.empty() ? Page{} : m_pages.front();
  xRes = first.xRes;
  yRes = first.yRes;
  width = first.width;
  height = first.height;
}
