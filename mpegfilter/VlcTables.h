// Variable-length code tables of ISO/IEC 13818-2 Annex B (also ISO/IEC 11172-2 Annex B), in one
// canonical form: each entry is the code's bits (right-aligned in nCode), its length and what it
// stands for. The decoder builds its lookups from these arrays (VlcLookup), the encoder its encode
// tables. Guarantees: every table is prefix-free and holds exactly the codes of the standard; sign
// bits are NOT part of an entry (motion_code and DCT coefficients append one bit, 1 = negative);
// escape, end-of-block and stuffing codes are entries with the marker values below. The arrays are
// constant data with static storage; nothing needs initialising.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vlc {

struct Code {
  uint32_t nCode;   // code bits, right-aligned
  uint8_t nLength;  // number of bits, 1..16
  int16_t nValue;   // meaning (table specific)
};

struct DctCode {
  uint32_t nCode;   // code bits without the sign bit
  uint8_t nLength;  // without the sign bit
  uint8_t nRun;     // or kDctEob / kDctEscape
  uint8_t nLevel;   // absolute level, 0 for the markers
};

template <typename T>
struct Table {
  const T* pEntries;
  size_t nCount;
};

// macroblock_address_increment (B.1): value 1..33, or these markers.
constexpr int16_t kMbaEscape = 34;    // adds 33, another increment code follows
constexpr int16_t kMbaStuffing = 35;  // ISO/IEC 11172-2 only: ignored

// macroblock_type flags (B.2 to B.8).
enum MbFlags : int16_t {
  kMbQuant = 0x01,
  kMbForward = 0x02,
  kMbBackward = 0x04,
  kMbPattern = 0x08,
  kMbIntra = 0x10,
};

// DCT coefficient markers (nRun of DctCode).
constexpr uint8_t kDctEob = 254;
constexpr uint8_t kDctEscape = 255;

// Run-level pairs coded only in tables zero and one; anything else uses the escape.
// Escape (ISO/IEC 13818-2 7.2.2.3): 6-bit run, 12-bit two's-complement level (0 and -2048
// forbidden). ISO/IEC 11172-2 2.4.3.7: 6-bit run, 8-bit level; 0x00 then 8 bits (128..255),
// 0x80 then 8 bits (value - 256 gives -255..-128).
constexpr int kEscapeRunBits = 6;
constexpr int kEscapeLevelBitsMpeg2 = 12;

extern const Table<Code> kMacroblockAddressIncrement;  // B.1
extern const Table<Code> kMacroblockTypeI;             // B.2
extern const Table<Code> kMacroblockTypeP;             // B.3
extern const Table<Code> kMacroblockTypeB;             // B.4
extern const Table<Code> kMacroblockTypeD;             // ISO/IEC 11172-2 D pictures: intra only
extern const Table<Code> kCodedBlockPattern;           // B.9; value 0 (code 0000 0000 1) MPEG-2 only
extern const Table<Code> kMotionCode;                  // B.10; magnitude 0..16, sign follows if > 0
extern const Table<Code> kDmVector;                    // B.11; value -1, 0, 1 (no extra sign)
extern const Table<Code> kDctDcSizeLuma;               // B.12; size 0..11
extern const Table<Code> kDctDcSizeChroma;             // B.13; size 0..11

// B.14 table zero. The first coefficient of a non-intra block codes run 0 level 1 as "1s"
// (kDctFirstCode below) instead of "11s"; everywhere else "10" is end of block.
extern const Table<DctCode> kDctTableZero;
// B.15 table one (intra blocks with intra_vlc_format = 1).
extern const Table<DctCode> kDctTableOne;
constexpr uint32_t kDctFirstCode = 1;  // "1" + sign: run 0, level 1, first coefficient of non-intra
constexpr uint8_t kDctFirstLength = 1;

// Decode lookup over one canonical table: a primary table indexed by the next nPrimaryBits bits,
// and second-level tables for longer codes. Built once, read-only afterwards.
class VlcLookup {
 public:
  struct Slot {
    int16_t nIndex;  // entry index into the canonical table, -1 invalid; or sub-table start
    int8_t nLength;  // code length; 0 = invalid code; negative = -(bits of sub-table index)
  };
  // nMaxEntries bounds the storage (static, no allocation).
  static constexpr int kMaxSlots = 4096;

  template <typename T>
  void Build(const Table<T>& table, int nPrimaryBits);

  // Looks up the entry for a 32-bit window whose most significant bit is the next bit.
  // Returns the entry index or -1; *pLength receives the code length.
  inline int Decode(uint32_t nWindow, int* pLength) const {
    const Slot& s = m_slots[nWindow >> (32 - m_nPrimaryBits)];
    if (s.nLength >= 0) {
      *pLength = s.nLength;
      return s.nLength ? s.nIndex : -1;
    }
    const int nSubBits = -s.nLength;
    const Slot& t = m_slots[s.nIndex + ((nWindow << m_nPrimaryBits) >> (32 - nSubBits))];
    *pLength = t.nLength;
    return t.nLength ? t.nIndex : -1;
  }

 private:
  void Fill(const uint32_t* pCodes, const uint8_t* pLengths, size_t nCount, int nPrimaryBits);
  Slot m_slots[kMaxSlots] = {};
  int m_nPrimaryBits = 0;
  int m_nUsed = 0;
};

template <typename T>
void VlcLookup::Build(const Table<T>& table, int nPrimaryBits) {
  uint32_t codes[256];
  uint8_t lengths[256];
  for (size_t i = 0; i < table.nCount && i < 256; ++i) {
    codes[i] = table.pEntries[i].nCode;
    lengths[i] = table.pEntries[i].nLength;
  }
  Fill(codes, lengths, table.nCount < 256 ? table.nCount : 256, nPrimaryBits);
}

}  // namespace vlc
