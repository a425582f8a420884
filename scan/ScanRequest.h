// ScanRequest: what the scan job driver (DoScan) asks of TwainScan::Scan. The driver zeroes it (the
// constructor does), fills it from the Quick Set and reads the file names back afterwards. Texts are
// fixed 36-character fields as the TWAIN identity holds them; they need not end with a zero when full.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OcrPages;
#include "scan/PageCleanup.h"

struct ScanRequest {
  explicit ScanRequest(std::vector<std::string>& fileNames) : saFileNames(fileNames) {}

  char szProductName[36] = {};    // string IDS_TITLE_SCAN: the TWAIN application identity
  char szProductFamily[36] = {};  // empty
  char szCompanyName[36] = {};    // string IDS_NX_COMPANYNAME; not used by Scan
  char szSourceName[36] = {};     // the requested source
  int32_t nBitDepth = 0;          // 1, 8 or 24; -1 when the Quick Set's scan settings are not applied
  int32_t nResolution = 0;        // dots per inch; -1 as above
  int32_t nUnset1 = 0;            // always -1, passed on unchanged
  int32_t nUnset2 = 0;
  int32_t nHeight = 0;  // scan area in 1/1440 inch; -1 as above
  int32_t nWidth = 0;
  int32_t nBrightness = 0;  // -1000..1000, 2000 when not given
  int32_t nContrast = 0;
  std::vector<std::string>& saFileNames;  // on entry the first page's file; Scan appends the others
  int32_t nFileType = 0;                  // toolkit file type code
  int32_t nQuality = 0;                   // toolkit quality factor
  bool bAskForMore = false;               // ask after each acquisition whether to scan again
  OcrPages* pOcr = nullptr;               // started by the driver: pages get a text layer; null: none
  PageCleanupOptions cleanup;             // what is done to each page before it is saved
};

// A fixed text field as a string (up to its first zero, at most its size).
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}
