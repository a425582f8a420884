// FaxWrapWriter: writes the device's wrapped fax stream (the input MapFile reads), for people who need
// test input and for the tests of the reader. Pages of raw fax data go out as the device sends them:
// a resume block with the start of page, data blocks of raster records, a suspend block with the end
// of image, and optionally filler between pages that a reader must pass over while suspended. The
// block and record pieces are public so that tests can build damaged streams on purpose.
// EncodeG3 makes the raw fax data of a 1-bit page with libtiff's own Group 3 (one-dimensional) coder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FaxWrapWriter {
 public:
  struct Page {
    int32_t width = 0;
    int32_t height = 0;
    int32_t xRes = 204;
    int32_t yRes = 196;
    std::vector<uint8_t> fax;  // raw Group 3 data
  };
  struct Options {
    uint32_t recordBytes = 4096;     // fax bytes per raster record (at most 32767)
    uint32_t recordsPerBlock = 4;    // raster records per data block
    uint32_t headerLength = 8;       // header length of data blocks; bytes beyond 8 are filled with 0xEE
    bool fillerBetweenPages = true;  // bytes between a suspend and the next resume
    // A pause in mid-page after about this many fax bytes (0: none): a suspend block, filler when
    // fillerBetweenPages, and a resume block repeating the page's start of page. Pauses fall between
    // raster records, so at any bit of a line.
    uint32_t suspendEvery = 0;
  };

  // The whole stream for pages.
  static std::vector<uint8_t> Wrap(const std::vector<Page>& pages, const Options& options);

  // Pieces: a block of the given kind around a payload, and the three records.
  static void AppendBlock(std::vector<uint8_t>& out, uint8_t kind, const std::vector<uint8_t>& payload,
                          uint32_t headerLength = 8);
  static std::vector<uint8_t> StartOfPage(int32_t width, int32_t height, int32_t xRes, int32_t yRes);
  static std::vector<uint8_t> Raster(const uint8_t* data, uint32_t length);
  static std::vector<uint8_t> EndOfImage();

  // Group 3 one-dimensional data with EOL codes of a page given as rows of 1-bit pixels, most
  // significant bit first, 1 black (ceil(width / 8) bytes per row). Empty on failure.
  // With fillBits every EOL is byte-aligned (zero fill bits before it).
  static std::vector<uint8_t> EncodeG3(const std::vector<uint8_t>& rows, int32_t width, int32_t height,
                                       bool fillBits = false);
  // Every page of a TIFF file as 1-bit rows (pages of more bits are thresholded at half grey).
  static bool ReadTiffPages(const std::string& path, std::vector<Page>& pages, std::string& error);
};
