// The save options record handed to PxBitmapBase::Save: 1646 bytes, all zero except the flag word and
// the page number. Page number N > 1 appends a page to a multi-page type (TIFF, PDF) when the file
// exists; 0 or 1 writes a new file. Other bytes are reserved and must be zero.
#pragma once

#include <cstdint>
#include <cstring>

inline constexpr uint32_t PX_SAVE_OPT_PAGE = 0x01000000;  // the page number field is valid

#pragma pack(push, 1)
struct PxSaveOptions {
  uint32_t nFlags;      // PX_SAVE_OPT_PAGE
  int32_t nPageNumber;  // 1-based page number
  uint8_t reserved[1646 - 8];

  PxSaveOptions() { std::memset(this, 0, sizeof(*this)); }
  static PxSaveOptions ForPage(int page) {
    PxSaveOptions options;
    options.nFlags = PX_SAVE_OPT_PAGE;
    options.nPageNumber = page;
    return options;
  }
};
#pragma pack(pop)
static_assert(sizeof(PxSaveOptions) == 1646, "the save options record is 1646 bytes");
