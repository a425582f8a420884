// Limits on what the toolkit accepts from files: a page larger than these is refused with
// PX_ERR_TOO_LARGE before anything is allocated, so hostile headers cannot exhaust memory.
#pragma once

#include <cstdint>

inline constexpr int32_t PX_MAX_DIMENSION = 65000;                 // pixels per side
inline constexpr int64_t PX_MAX_PAGE_BYTES = 512LL * 1024 * 1024;  // one decoded 24-bit page
inline constexpr int32_t PX_MAX_PAGES = 100000;                    // pages counted in one file
inline constexpr int32_t PX_MAX_DPI = 10000;
