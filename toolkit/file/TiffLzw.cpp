// TIFF LZW decoding and predictor (see TiffLzw.h).
#include "toolkit/file/TiffLzw.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pxfile {

namespace {

constexpr int kClear = 256, kEnd = 257, kFirstFree = 258, kMaxCodes = 4096;

// A string the table names lies in the output already (it was written when its code was first
// decoded), so a code is an offset and a length there, and decoding one is a copy. The source ends
// at or before the destination, so chunked copies read only finished bytes.
inline void CopyBack(uint8_t* out, size_t from, size_t to, size_t len, size_t outLen) {
  if (len <= 16 && to - from >= 16 && to + 16 <= outLen) {
    uint64_t a, b;
    std::memcpy(&a, out + from, 8);
    std::memcpy(&b, out + from + 8, 8);
    std::memcpy(out + to, &a, 8);
    std::memcpy(out + to + 8, &b, 8);
    return;
  }
  std::memcpy(out + to, out + from, len);
}

}  // namespace

bool TiffLzwDecode(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen) {
  // Old-style (LSB-first) strips start 0x00 0x01; libtiff knows them.
  if (inLen >= 2 && in[0] == 0 && (in[1] & 0x1) != 0) return false;
  uint32_t offsets[kMaxCodes];  // 32 KB of stack, left uninitialised: entries are written before use
  uint32_t lengths[kMaxCodes];
  if (outLen > UINT32_MAX) return false;
  uint64_t bits = 0;
  int count = 0;  // valid low bits in `bits`
  size_t ip = 0, pos = 0;
  int width = 9, next = kFirstFree;
  bool haveOld = false;
  size_t oldOff = 0, oldLen = 0;
  while (pos < outLen) {
    if (count < width) {
      if (inLen - ip >= 8) {
        uint64_t v;
        std::memcpy(&v, in + ip, 8);
        v = __builtin_bswap64(v);
        const int take = (63 - count) >> 3;  // whole bytes that fit beside the bits left
        bits = (bits << (8 * take)) | (v >> (64 - 8 * take));
        ip += size_t(take);
        count += 8 * take;
      } else {
        while (count <= 56 && ip < inLen) {
          bits = (bits << 8) | in[ip++];
          count += 8;
        }
        if (count < width) return false;  // data ended before the strip was full
      }
    }
    const int code = int((bits >> (count - width)) & ((1u << width) - 1));
    count -= width;
    if (code == kClear) {
      width = 9;
      next = kFirstFree;
      haveOld = false;
      continue;
    }
    if (code == kEnd) return false;
    size_t len;
    if (!haveOld) {
      if (code > 255) return false;
      out[pos] = uint8_t(code);
      len = 1;
      haveOld = true;
    } else {
      if (code < 256) {
        out[pos] = uint8_t(code);
        len = 1;
      } else if (code < next) {
        len = lengths[code];
        if (len > outLen - pos) return false;
        CopyBack(out, offsets[code], pos, len, outLen);
      } else if (code == next) {
        len = oldLen + 1;  // the previous string and its own first byte
        if (len > outLen - pos) return false;
        std::memcpy(out + pos, out + oldOff, oldLen);
        out[pos + oldLen] = out[oldOff];
      } else {
        return false;
      }
      if (next >= kMaxCodes) return false;  // a full table needs a clear code first
      offsets[next] = uint32_t(oldOff);
      lengths[next] = uint32_t(oldLen + 1);
      ++next;
      if (next == (1 << width) - 1 && width < 12) ++width;  // TIFF changes width one code early
    }
    oldOff = pos;
    oldLen = len;
    pos += len;
  }
  return true;
}

void TiffUndoPredictor8(const uint8_t* src, uint8_t* dst, size_t bytes, int samplesPerPixel) {
  if (samplesPerPixel == 3 && bytes >= 3) {
    size_t i = 0;
#if defined(__SSE2__)
    // Four pixels at a time: their running sums within the vector by two shifted adds, plus the sum
    // carried from the pixels before (kept in all four pixel places, so the carry chain is one add).
    // Twelve bytes are stored, so a row may be undone in place.
    __m128i carry = _mm_setzero_si128();
    for (; i + 16 <= bytes; i += 12) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 3));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 6));
      __m128i last = _mm_srli_si128(_mm_slli_si128(v, 4), 13);  // bytes 9-11 to 0-2
      last = _mm_or_si128(last, _mm_slli_si128(last, 3));
      last = _mm_or_si128(last, _mm_slli_si128(last, 6));
      v = _mm_add_epi8(v, carry);
      carry = _mm_add_epi8(carry, last);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), v);
      const uint32_t high = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
      std::memcpy(dst + i + 8, &high, 4);
    }
#endif
    uint8_t r, g, b;
    if (i == 0) {
      r = src[0], g = src[1], b = src[2];
      dst[0] = r, dst[1] = g, dst[2] = b;
      i = 3;
    } else {
      r = dst[i - 3], g = dst[i - 2], b = dst[i - 1];
    }
    for (; i + 3 <= bytes; i += 3) {
      r = uint8_t(r + src[i]);
      g = uint8_t(g + src[i + 1]);
      b = uint8_t(b + src[i + 2]);
      dst[i] = r, dst[i + 1] = g, dst[i + 2] = b;
    }
    for (; i < bytes; ++i) dst[i] = uint8_t(src[i] + dst[i - 3]);
    return;
  }
  const size_t step = samplesPerPixel > 0 ? size_t(samplesPerPixel) : 1;
  for (size_t i = 0; i < bytes && i < step; ++i) dst[i] = src[i];
  for (size_t i = step; i < bytes; ++i) dst[i] = uint8_t(src[i] + dst[i - step]);
}

}  // namespace pxfile
