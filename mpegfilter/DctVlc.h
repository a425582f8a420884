// Fast decoding tables for the DCT coefficient codes (ISO/IEC 13818-2 Tables B.14 and B.15).
// One 1024-entry table per code table, indexed by the next 10 bits of the stream: every code of
// up to 9 bits plus its sign bit resolves in one look-up with run, signed level and the bits to
// skip; end of block, escape and the rare long codes are marked for the caller's other paths.
// Built once from the canonical tables of VlcTables (static storage, read-only afterwards).
#pragma once

#include <cstdint>

class DctVlc {
 public:
  enum Kind : uint8_t { kRunLevel = 0, kEndOfBlock = 1, kEscape = 2, kLong = 3 };
  struct Entry {
    int16_t nLevel;  // signed (sign bit included in nLength)
    uint8_t nRun;
    uint8_t nLength;  // bits to skip for kRunLevel (code + sign) and kEndOfBlock
    uint8_t nKind;
  };
  static constexpr int kBits = 10;

  // bTableOne: Table B.15, else B.14.
  static const DctVlc& Get(bool bTableOne);
  const Entry& Look(uint32_t nWindow) const { return m_entries[nWindow >> (32 - kBits)]; }

 private:
  explicit DctVlc(bool bTableOne);
  Entry m_entries[1 << kBits] = {};
};
