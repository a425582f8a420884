// Feeds arbitrary bytes to fltInfo and fltLoad. The file comes from memory through substituted
// kernel file services (the plug-in's kernel seam); memory services stay the real ones, with a
// 64 MiB cap so that hostile sizes are refused instead of exhausting the fuzzer.
// Pages are read in increasing order up to the last one fltInfo reports, through the kept decoder
// (the in-memory file has an identity per input), so pictures far into the stream are decoded.
// The mutator works on start-code units as well as bytes: it copies sequence headers and their
// extensions between pictures, flips the fields that set a sequence's shape (size, chroma format,
// progressive_sequence) and joins two inputs at start codes, as cat joins two encodes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegFilter.h"
#include "pxkernel/PxKernel.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {
const uint8_t* g_pData = nullptr;
size_t g_nSize = 0;
size_t g_nPos = 0;
int64_t g_nGeneration = 0;

int32_t MemOpen(const char*, int32_t, int32_t) {
  g_nPos = 0;
  return 7;
}
int32_t MemClose(int32_t) {
  return 0;
}
int32_t MemRead(int32_t, void* p, int32_t n) {
  if (n < 0) return -1;
  size_t k = g_nSize - g_nPos;
  if (k > static_cast<size_t>(n)) k = static_cast<size_t>(n);
  std::memcpy(p, g_pData + g_nPos, k);
  g_nPos += k;
  return static_cast<int32_t>(k);
}
int32_t MemSeek(int32_t, int32_t off, int32_t origin) {
  if (origin != PX_SEEK_SET || off < 0 || static_cast<size_t>(off) > g_nSize) return -1;
  g_nPos = static_cast<size_t>(off);
  return off;
}
// Every input is a new version of the file: a kept decoder never outlives its input.
int32_t MemIdentity(const char*, PxFileIdentity* p) {
  std::memset(p, 0, sizeof(*p));
  p->nSize = static_cast<int64_t>(g_nSize);
  p->nModifiedNs = g_nGeneration;
  return 1;
}
int32_t Row(void*, PxLoadInfo*, uint8_t* p, int32_t, int32_t, int32_t, intptr_t) {
  volatile uint8_t sink = p[0];
  (void)sink;
  return 1;
}

// Offsets of the start codes 00 00 01 xx in data.
std::vector<size_t> StartCodes(const uint8_t* d, size_t n) {
  std::vector<size_t> v;
  for (size_t i = 0; i + 3 < n; ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) v.push_back(i);
  return v;
}

uint32_t g_nRand = 1;
uint32_t Rand(uint32_t n) {
  g_nRand = g_nRand * 1103515245u + 12345u;
  return n ? (g_nRand >> 8) % n : 0;
}

// Structure-aware steps; false when the input offers nothing to work on.
bool MutateStructure(std::vector<uint8_t>& b) {
  const std::vector<size_t> sc = StartCodes(b.data(), b.size());
  std::vector<size_t> seq, pic, ext;
  for (size_t o : sc) {
    if (b[o + 3] == 0xB3) seq.push_back(o);
    if (b[o + 3] == 0x00) pic.push_back(o);
    if (b[o + 3] == 0xB5 && o + 4 < b.size() && (b[o + 4] >> 4) == 1) ext.push_back(o);
  }
  switch (Rand(3)) {
    case 0: {  // copy a sequence header (with what follows up to its GOP or picture) before a picture
      if (seq.empty() || pic.empty()) return false;
      const size_t from = seq[Rand(static_cast<uint32_t>(seq.size()))];
      size_t to = b.size();
      for (size_t o : sc)
        if (o > from && (b[o + 3] == 0xB8 || b[o + 3] == 0x00)) {
          to = o;
          break;
        }
      if (to - from > 4096) return false;
      const std::vector<uint8_t> unit(b.begin() + from, b.begin() + to);
      b.insert(b.begin() + pic[Rand(static_cast<uint32_t>(pic.size()))], unit.begin(), unit.end());
      return true;
    }
    case 1: {  // change a shape field of a sequence header or sequence extension
      if (!ext.empty() && Rand(2)) {
        const size_t o = ext[Rand(static_cast<uint32_t>(ext.size()))];
        if (o + 7 >= b.size()) return false;
        switch (Rand(3)) {
          case 0:
            b[o + 5] ^= 0x08;  // progressive_sequence
            break;
          case 1:
            b[o + 5] = static_cast<uint8_t>((b[o + 5] & ~0x06) | (Rand(4) << 1));  // chroma_format
            break;
          default:
            b[o + 5] ^= 0x01;  // horizontal_size_extension (high bit)
            b[o + 6] ^= static_cast<uint8_t>(Rand(2) << 7);
            break;
        }
        return true;
      }
      if (seq.empty()) return false;
      const size_t o = seq[Rand(static_cast<uint32_t>(seq.size()))];
      if (o + 7 >= b.size()) return false;
      const uint32_t w = 16 + Rand(400), h = 16 + Rand(300);
      b[o + 4] = static_cast<uint8_t>(w >> 4);
      b[o + 5] = static_cast<uint8_t>(((w & 15) << 4) | (h >> 8));
      b[o + 6] = static_cast<uint8_t>(h);
      return true;
    }
    default: {  // join the stream to a piece of itself at a sequence header
      if (seq.empty()) return false;
      const size_t from = seq[Rand(static_cast<uint32_t>(seq.size()))];
      const std::vector<uint8_t> tail(b.begin() + from, b.end());
      b.insert(b.end(), tail.begin(), tail.end());
      return true;
    }
  }
}
}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  g_nRand = seed | 1;
  if (Rand(4) == 0) {
    std::vector<uint8_t> b(data, data + size);
    if (MutateStructure(b) && b.size() <= maxSize) {
      std::memcpy(data, b.data(), b.size());
      return b.size();
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}

// Joins the front of one input with the back of the other at start codes (a cut-and-cat).
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* d1, size_t n1, const uint8_t* d2, size_t n2,
                                            uint8_t* out, size_t maxOut, unsigned int seed) {
  g_nRand = seed | 1;
  const std::vector<size_t> a = StartCodes(d1, n1), c = StartCodes(d2, n2);
  const size_t cut1 = a.empty() ? n1 : a[Rand(static_cast<uint32_t>(a.size()))];
  const size_t cut2 = c.empty() ? 0 : c[Rand(static_cast<uint32_t>(c.size()))];
  size_t n = 0;
  for (size_t i = 0; i < cut1 && n < maxOut; ++i) out[n++] = d1[i];
  for (size_t i = cut2; i < n2 && n < maxOut; ++i) out[n++] = d2[i];
  return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool s_bInit = [] {
    PxKernelImports k = PxKernelBoundImports();
    k.pfnOpen = MemOpen;
    k.pfnClose = MemClose;
    k.pfnRead = MemRead;
    k.pfnSeek = MemSeek;
    k.pfnFileIdentity = MemIdentity;
    PxKernelSetImports(&k);
    DecoderLimits limits;
    limits.nMaxWidth = 2048;
    limits.nMaxHeight = 2048;
    limits.nMaxMemory = 64 << 20;
    MpegFilter::SetLimits(limits);
    MpegFilter::SetSettleTime(0);
    return true;
  }();
  (void)s_bInit;
  g_pData = data;
  g_nSize = size;
  ++g_nGeneration;
  PxFileInfo info{};
  int nPages = 2;
  if (fltInfo(7, &info, 1) == 1 && info.nPageCount > nPages)
    nPages = info.nPageCount < 64 ? info.nPageCount : 64;
  // Pages in increasing order (kept decoder), one again (delivered twice), then page 1 afresh.
  for (int page : {1, 2, 3, nPages / 2, nPages / 2, nPages, 1}) {
    if (page < 1) continue;
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = page;
    load.nRows = 16;
    load.pfnRow = Row;
    fltLoad("mem", &load);
  }
  MpegFilter::ReleaseKept();
  return 0;
}
