// MapFile: reader of the device's wrapped fax stream. ConvertFaxFile (FileConvert) gives it one input
// file; it unpacks the raw fax data (CCITT Group 3) into one intermediate file that the toolkit then
// loads as raw fax, and tells each page's width, height and resolutions.
// Layout: blocks (8-byte header, little-endian) whose payloads are records (big-endian fields); a
// suspend block stops the copying of raster data until a resume block. docs/scan.md has the layout.
// A resume block repeats the start of page of the page it continues, so a start of page in a resume
// block continues the page being filled when it describes the same page and that page's data has not
// ended (fewer EOLs than lines, no RTC); otherwise every start of page begins a page of its own.
// Input is hostile: every size read from the data is checked against the data and the limits below,
// the output never grows past the output area, and the first fault ends the unpacking with a named
// result (the object then refuses further work). Nothing is written for a stream that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class MapFile {
 public:
  enum class Result {
    Ok,
    InputUnreadable,   // the input cannot be opened or read
    InputTooLarge,     // the input is larger than Limits::maxInput
    OutputUnwritable,  // the intermediate file cannot be written
    NoMemory,
    BadBlockLength,   // a block shorter than its own 8-byte header
    TruncatedBlock,   // a block (or its header) reaches past the end of the data
    BadHeaderLength,  // a header longer than its block
    TruncatedRecord,  // a record reaches past the end of its block
    RasterTooLong,    // a raster record longer than Limits::maxRasterRecord
    OutputFull,       // the fax data would pass the output area
    UnknownRecord,    // a record type without a known size while fax data is being copied
    DataBeforePage,   // fax data before any start of page
    BadPage,          // a page of zero or too large size, or of zero resolution
    NoPage,           // no page with fax data
    Refused,          // Initialize was called again after a failure
  };
  static const char* ResultText(Result result);

  // What the reader holds. The output area is the device's own limit; the raster record size is what
  // the device writes at most (a longer one is a damaged length field).
  struct Limits {
    size_t maxInput = 64u * 1024u * 1024u;
    size_t outputArea = 10710000;
    uint32_t maxRasterRecord = 32767;
    uint32_t maxPageHeight = 65535;
  };

  // One page: where its fax data starts in the intermediate file and how many bytes it has.
  struct Page {
    int32_t xRes = 0;  // dots per inch
    int32_t yRes = 0;
    int32_t width = 0;   // pixels
    int32_t height = 0;  // lines
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t lines = 0;      // EOL codes met in its fax data
    bool ended = false;      // past its height in EOLs, or the end of page code (RTC) met
    bool tentative = false;  // may yet be the rest of the page before (see StartPage)
  };

  MapFile();
  explicit MapFile(const Limits& limits);

  // Unpacks input into output (created or replaced). Each path is at most 260 characters.
  bool Initialize(const std::string& input, const std::string& output);
  // The same from memory, without files; the fax data is then in Output().
  bool Unpack(const uint8_t* data, size_t size);

  // The first page's resolutions and size (zero when there is none).
  void GetInfo(int32_t& xRes, int32_t& yRes, int32_t& width, int32_t& height) const;
  const std::vector<Page>& Pages() const { return m_pages; }
  const std::vector<uint8_t>& Output() const { return m_output; }
  Result GetResult() const { return m_result; }

 private:
  struct Step {
    int64_t consumed;  // negative: the stream failed (m_result says why)
    bool more;
  };
  Step StreamStep(const uint8_t* data, size_t available);
  bool WalkRecords(const uint8_t* data, size_t size);
  bool StartPage(const uint8_t* record);
  void CountLines(const uint8_t* data, size_t size);
  bool FinishPages();
  bool Fail(Result result);

  Limits m_limits;
  uint16_t m_nState = 3;
  uint32_t m_nBytesLeft = 0;
  uint32_t m_nBlockLength = 0;
  uint32_t m_nBlockWord = 0;  // header length (low 16 bits) and block kind (high byte)
  bool m_bSuspend = false;
  bool m_bResumeBlock = false;  // the block being walked is a resume block
  // The EOL scan of the page being filled: zeros in a row, and EOLs in a row (six are the RTC).
  uint32_t m_nZeros = 0;
  uint32_t m_nEolsInRow = 0;
  bool m_bDataSinceEol = false;
  Result m_result = Result::Ok;
  bool m_bUsed = false;
  std::vector<Page> m_pages;  // the pages met so far; the last one is the one being filled
  std::vector<uint8_t> m_output;
};
