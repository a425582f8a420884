// Fast decoding tables for the DCT coefficient codes (ISO/IEC 13818-2 Tables B.14 and B.15).
// One 1024-entry table per code table, indexed by the next 10 bits of the stream: every code of
// up to 9 bits plus its sign bit resolves in one look-up with run, signed level and the bits to
// skip; end of block, escape and the long codes are marked for the caller's other paths. The long
// codes (11 to 17 bits with the sign) all begin with a run of zeros: a second table indexed by that
// run's length and the five bits after its closing one resolves them the same way.
// Built once from the canonical tables of VlcTables (static storage, read-only afterwards).
#pragma once

#include <cstdint>

class DctVlc {
 public:
  enum Kind : uint8_t { kRunLevel = 0, kEndOfBlock = 1, kEscape = 2, kLong = 3 };
  // Eight bytes, so the index scales in the load itself (the look-up is on the decoder's
  // critical path: window, entry, skip, next window).
  struct alignas(8) Entry {
    int16_t nLevel;  // signed (sign bit included in nLength)
    uint8_t nRun;
    uint8_t nLength;  // bits to skip for kRunLevel (code + sign) and kEndOfBlock
    uint8_t nKind;
  };
  static_assert(sizeof(Entry) == 8);
  static constexpr int kBits = 10;

  // bTableOne: Table B.15, else B.14.
  static const DctVlc& Get(bool bTableOne);
  const Entry& Look(uint32_t nWindow) const { return m_entries[nWindow >> (32 - kBits)]; }
  // For a window whose first look-up said kLong: kRunLevel, or kLong for what this table does not
  // hold (left to the general look-up).
  const Entry& LookLong(uint32_t nWindow) const {
    const int z = __builtin_clz(nWindow | 1);
    const uint32_t after =
        static_cast<uint32_t>((uint64_t{nWindow} << (z + 1)) >> (32 - kLongBits)) & ((1u << kLongBits) - 1);
    return m_long[z > kMaxZeros ? 0 : (z << kLongBits) | after];
  }

 private:
  explicit DctVlc(bool bTableOne);
  static constexpr int kLongBits = 5;
  static constexpr int kMaxZeros = 15;
  Entry m_entries[1 << kBits] = {};
  Entry m_long[(kMaxZeros + 1) << kLongBits] = {};
};
