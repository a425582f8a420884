// Annex B code tables, written as the standard prints them ("0000 0101 11") so that a reader can
// compare them line by line; the constexpr helpers turn the text into bits and length at compile time.
#include "mpegfilter/VlcTables.h"

namespace vlc {
namespace {

constexpr uint32_t Bits(const char* s) {
  uint32_t v = 0;
  for (; *s; ++s)
    if (*s == '0' || *s == '1') v = v * 2 + static_cast<uint32_t>(*s - '0');
  return v;
}
constexpr uint8_t Len(const char* s) {
  uint8_t n = 0;
  for (; *s; ++s)
    if (*s == '0' || *s == '1') ++n;
  return n;
}
constexpr Code C(const char* s, int v) {
  return Code{Bits(s), Len(s), static_cast<int16_t>(v)};
}
constexpr DctCode D(const char* s, int run, int level) {
  return DctCode{Bits(s), Len(s), static_cast<uint8_t>(run), static_cast<uint8_t>(level)};
}

// ISO/IEC 13818-2 Table B.1
constexpr Code kMba[] = {
    C("1", 1),
    C("011", 2),
    C("010", 3),
    C("0011", 4),
    C("0010", 5),
    C("0001 1", 6),
    C("0001 0", 7),
    C("0000 111", 8),
    C("0000 110", 9),
    C("0000 1011", 10),
    C("0000 1010", 11),
    C("0000 1001", 12),
    C("0000 1000", 13),
    C("0000 0111", 14),
    C("0000 0110", 15),
    C("0000 0101 11", 16),
    C("0000 0101 10", 17),
    C("0000 0101 01", 18),
    C("0000 0101 00", 19),
    C("0000 0100 11", 20),
    C("0000 0100 10", 21),
    C("0000 0100 011", 22),
    C("0000 0100 010", 23),
    C("0000 0100 001", 24),
    C("0000 0100 000", 25),
    C("0000 0011 111", 26),
    C("0000 0011 110", 27),
    C("0000 0011 101", 28),
    C("0000 0011 100", 29),
    C("0000 0011 011", 30),
    C("0000 0011 010", 31),
    C("0000 0011 001", 32),
    C("0000 0011 000", 33),
    C("0000 0001 000", kMbaEscape),
    C("0000 0001 111", kMbaStuffing),
};

// Tables B.2 to B.4 (no spatial scalability); D pictures of ISO/IEC 11172-2 2.4.4.4.
constexpr Code kMbI[] = {C("1", kMbIntra), C("01", kMbIntra | kMbQuant)};
constexpr Code kMbP[] = {
    C("1", kMbForward | kMbPattern),
    C("01", kMbPattern),
    C("001", kMbForward),
    C("0001 1", kMbIntra),
    C("0001 0", kMbQuant | kMbForward | kMbPattern),
    C("0000 1", kMbQuant | kMbPattern),
    C("0000 01", kMbQuant | kMbIntra),
};
constexpr Code kMbB[] = {
    C("10", kMbForward | kMbBackward),
    C("11", kMbForward | kMbBackward | kMbPattern),
    C("010", kMbBackward),
    C("011", kMbBackward | kMbPattern),
    C("0010", kMbForward),
    C("0011", kMbForward | kMbPattern),
    C("0001 1", kMbIntra),
    C("0001 0", kMbQuant | kMbForward | kMbBackward | kMbPattern),
    C("0000 11", kMbQuant | kMbForward | kMbPattern),
    C("0000 10", kMbQuant | kMbBackward | kMbPattern),
    C("0000 01", kMbQuant | kMbIntra),
};
constexpr Code kMbD[] = {C("1", kMbIntra)};

// Table B.9
constexpr Code kCbp[] = {
    C("111", 60),         C("1101", 4),         C("1100", 8),         C("1011", 16),
    C("1010", 32),        C("1001 1", 12),      C("1001 0", 48),      C("1000 1", 20),
    C("1000 0", 40),      C("0111 1", 28),      C("0111 0", 44),      C("0110 1", 52),
    C("0110 0", 56),      C("0101 1", 1),       C("0101 0", 61),      C("0100 1", 2),
    C("0100 0", 62),      C("0011 11", 24),     C("0011 10", 36),     C("0011 01", 3),
    C("0011 00", 63),     C("0010 111", 5),     C("0010 110", 9),     C("0010 101", 17),
    C("0010 100", 33),    C("0010 011", 6),     C("0010 010", 10),    C("0010 001", 18),
    C("0010 000", 34),    C("0001 1111", 7),    C("0001 1110", 11),   C("0001 1101", 19),
    C("0001 1100", 35),   C("0001 1011", 13),   C("0001 1010", 49),   C("0001 1001", 21),
    C("0001 1000", 41),   C("0001 0111", 14),   C("0001 0110", 50),   C("0001 0101", 22),
    C("0001 0100", 42),   C("0001 0011", 15),   C("0001 0010", 51),   C("0001 0001", 23),
    C("0001 0000", 43),   C("0000 1111", 25),   C("0000 1110", 37),   C("0000 1101", 26),
    C("0000 1100", 38),   C("0000 1011", 29),   C("0000 1010", 45),   C("0000 1001", 53),
    C("0000 1000", 57),   C("0000 0111", 30),   C("0000 0110", 46),   C("0000 0101", 54),
    C("0000 0100", 58),   C("0000 0011 1", 31), C("0000 0011 0", 47), C("0000 0010 1", 55),
    C("0000 0010 0", 59), C("0000 0001 1", 27), C("0000 0001 0", 39), C("0000 0000 1", 0),
};

// Table B.10 (magnitudes; the sign bit follows a non-zero magnitude)
constexpr Code kMotion[] = {
    C("1", 0),
    C("01", 1),
    C("001", 2),
    C("0001", 3),
    C("0000 11", 4),
    C("0000 101", 5),
    C("0000 100", 6),
    C("0000 011", 7),
    C("0000 0101 1", 8),
    C("0000 0101 0", 9),
    C("0000 0100 1", 10),
    C("0000 0100 01", 11),
    C("0000 0100 00", 12),
    C("0000 0011 11", 13),
    C("0000 0011 10", 14),
    C("0000 0011 01", 15),
    C("0000 0011 00", 16),
};

// Table B.11
constexpr Code kDm[] = {C("0", 0), C("10", 1), C("11", -1)};

// Tables B.12, B.13
constexpr Code kDcLuma[] = {
    C("100", 0),      C("00", 1),        C("01", 2),           C("101", 3),
    C("110", 4),      C("1110", 5),      C("1111 0", 6),       C("1111 10", 7),
    C("1111 110", 8), C("1111 1110", 9), C("1111 1111 0", 10), C("1111 1111 1", 11),
};
constexpr Code kDcChroma[] = {
    C("00", 0),
    C("01", 1),
    C("10", 2),
    C("110", 3),
    C("1110", 4),
    C("1111 0", 5),
    C("1111 10", 6),
    C("1111 110", 7),
    C("1111 1110", 8),
    C("1111 1111 0", 9),
    C("1111 1111 10", 10),
    C("1111 1111 11", 11),
};

// Table B.14 (sign bits omitted). "11" is run 0 level 1 except as a first coefficient.
constexpr DctCode kDct0[] = {
    D("10", kDctEob, 0),
    D("0000 01", kDctEscape, 0),
    D("11", 0, 1),
    D("011", 1, 1),
    D("0100", 0, 2),
    D("0101", 2, 1),
    D("0010 1", 0, 3),
    D("0011 1", 3, 1),
    D("0011 0", 4, 1),
    D("0001 10", 1, 2),
    D("0001 11", 5, 1),
    D("0001 01", 6, 1),
    D("0001 00", 7, 1),
    D("0000 110", 0, 4),
    D("0000 100", 2, 2),
    D("0000 111", 8, 1),
    D("0000 101", 9, 1),
    D("0010 0110", 0, 5),
    D("0010 0001", 0, 6),
    D("0010 0101", 1, 3),
    D("0010 0100", 3, 2),
    D("0010 0111", 10, 1),
    D("0010 0011", 11, 1),
    D("0010 0010", 12, 1),
    D("0010 0000", 13, 1),
    D("0000 0010 10", 0, 7),
    D("0000 0011 00", 1, 4),
    D("0000 0010 11", 2, 3),
    D("0000 0011 11", 4, 2),
    D("0000 0010 01", 5, 2),
    D("0000 0011 10", 14, 1),
    D("0000 0011 01", 15, 1),
    D("0000 0010 00", 16, 1),
    D("0000 0001 1101", 0, 8),
    D("0000 0001 1000", 0, 9),
    D("0000 0001 0011", 0, 10),
    D("0000 0001 0000", 0, 11),
    D("0000 0001 1011", 1, 5),
    D("0000 0001 0100", 2, 4),
    D("0000 0001 1100", 3, 3),
    D("0000 0001 0010", 4, 3),
    D("0000 0001 1110", 6, 2),
    D("0000 0001 0101", 7, 2),
    D("0000 0001 0001", 8, 2),
    D("0000 0001 1111", 17, 1),
    D("0000 0001 1010", 18, 1),
    D("0000 0001 1001", 19, 1),
    D("0000 0001 0111", 20, 1),
    D("0000 0001 0110", 21, 1),
    D("0000 0000 1101 0", 0, 12),
    D("0000 0000 1100 1", 0, 13),
    D("0000 0000 1100 0", 0, 14),
    D("0000 0000 1011 1", 0, 15),
    D("0000 0000 1011 0", 1, 6),
    D("0000 0000 1010 1", 1, 7),
    D("0000 0000 1010 0", 2, 5),
    D("0000 0000 1001 1", 3, 4),
    D("0000 0000 1001 0", 5, 3),
    D("0000 0000 1000 1", 9, 2),
    D("0000 0000 1000 0", 10, 2),
    D("0000 0000 1111 1", 22, 1),
    D("0000 0000 1111 0", 23, 1),
    D("0000 0000 1110 1", 24, 1),
    D("0000 0000 1110 0", 25, 1),
    D("0000 0000 1101 1", 26, 1),
    D("0000 0000 0111 11", 0, 16),
    D("0000 0000 0111 10", 0, 17),
    D("0000 0000 0111 01", 0, 18),
    D("0000 0000 0111 00", 0, 19),
    D("0000 0000 0110 11", 0, 20),
    D("0000 0000 0110 10", 0, 21),
    D("0000 0000 0110 01", 0, 22),
    D("0000 0000 0110 00", 0, 23),
    D("0000 0000 0101 11", 0, 24),
    D("0000 0000 0101 10", 0, 25),
    D("0000 0000 0101 01", 0, 26),
    D("0000 0000 0101 00", 0, 27),
    D("0000 0000 0100 11", 0, 28),
    D("0000 0000 0100 10", 0, 29),
    D("0000 0000 0100 01", 0, 30),
    D("0000 0000 0100 00", 0, 31),
    D("0000 0000 0011 000", 0, 32),
    D("0000 0000 0010 111", 0, 33),
    D("0000 0000 0010 110", 0, 34),
    D("0000 0000 0010 101", 0, 35),
    D("0000 0000 0010 100", 0, 36),
    D("0000 0000 0010 011", 0, 37),
    D("0000 0000 0010 010", 0, 38),
    D("0000 0000 0010 001", 0, 39),
    D("0000 0000 0010 000", 0, 40),
    D("0000 0000 0011 111", 1, 8),
    D("0000 0000 0011 110", 1, 9),
    D("0000 0000 0011 101", 1, 10),
    D("0000 0000 0011 100", 1, 11),
    D("0000 0000 0011 011", 1, 12),
    D("0000 0000 0011 010", 1, 13),
    D("0000 0000 0011 001", 1, 14),
    D("0000 0000 0001 0011", 1, 15),
    D("0000 0000 0001 0010", 1, 16),
    D("0000 0000 0001 0001", 1, 17),
    D("0000 0000 0001 0000", 1, 18),
    D("0000 0000 0001 0100", 6, 3),
    D("0000 0000 0001 1010", 11, 2),
    D("0000 0000 0001 1001", 12, 2),
    D("0000 0000 0001 1000", 13, 2),
    D("0000 0000 0001 0111", 14, 2),
    D("0000 0000 0001 0110", 15, 2),
    D("0000 0000 0001 0101", 16, 2),
    D("0000 0000 0001 1111", 27, 1),
    D("0000 0000 0001 1110", 28, 1),
    D("0000 0000 0001 1101", 29, 1),
    D("0000 0000 0001 1100", 30, 1),
    D("0000 0000 0001 1011", 31, 1),
};

// Table B.15 (sign bits omitted). Codes of 13 or more bits are those of table zero.
constexpr DctCode kDct1[] = {
    D("0110", kDctEob, 0),
    D("0000 01", kDctEscape, 0),
    D("10", 0, 1),
    D("010", 1, 1),
    D("110", 0, 2),
    D("0010 1", 2, 1),
    D("0111", 0, 3),
    D("0011 1", 3, 1),
    D("0001 10", 4, 1),
    D("0011 0", 1, 2),
    D("0001 11", 5, 1),
    D("0000 110", 6, 1),
    D("0000 100", 7, 1),
    D("1110 0", 0, 4),
    D("0000 111", 2, 2),
    D("0000 101", 8, 1),
    D("1111 000", 9, 1),
    D("1110 1", 0, 5),
    D("0001 01", 0, 6),
    D("1111 001", 1, 3),
    D("0010 0110", 3, 2),
    D("1111 010", 10, 1),
    D("0010 0001", 11, 1),
    D("0010 0101", 12, 1),
    D("0010 0100", 13, 1),
    D("0001 00", 0, 7),
    D("0010 0111", 1, 4),
    D("1111 1100", 2, 3),
    D("1111 1101", 4, 2),
    D("0000 0010 0", 5, 2),
    D("0000 0010 1", 14, 1),
    D("0000 0011 1", 15, 1),
    D("0000 0011 01", 16, 1),
    D("1111 011", 0, 8),
    D("1111 100", 0, 9),
    D("0010 0011", 0, 10),
    D("0010 0010", 0, 11),
    D("0010 0000", 1, 5),
    D("0000 0011 00", 2, 4),
    D("0000 0001 1100", 3, 3),
    D("0000 0001 0010", 4, 3),
    D("0000 0001 1110", 6, 2),
    D("0000 0001 0101", 7, 2),
    D("0000 0001 0001", 8, 2),
    D("0000 0001 1111", 17, 1),
    D("0000 0001 1010", 18, 1),
    D("0000 0001 1001", 19, 1),
    D("0000 0001 0111", 20, 1),
    D("0000 0001 0110", 21, 1),
    D("1111 1010", 0, 12),
    D("1111 1011", 0, 13),
    D("1111 1110", 0, 14),
    D("1111 1111", 0, 15),
    D("0000 0000 1011 0", 1, 6),
    D("0000 0000 1010 1", 1, 7),
    D("0000 0000 1010 0", 2, 5),
    D("0000 0000 1001 1", 3, 4),
    D("0000 0000 1001 0", 5, 3),
    D("0000 0000 1000 1", 9, 2),
    D("0000 0000 1000 0", 10, 2),
    D("0000 0000 1111 1", 22, 1),
    D("0000 0000 1111 0", 23, 1),
    D("0000 0000 1110 1", 24, 1),
    D("0000 0000 1110 0", 25, 1),
    D("0000 0000 1101 1", 26, 1),
    D("0000 0000 0111 11", 0, 16),
    D("0000 0000 0111 10", 0, 17),
    D("0000 0000 0111 01", 0, 18),
    D("0000 0000 0111 00", 0, 19),
    D("0000 0000 0110 11", 0, 20),
    D("0000 0000 0110 10", 0, 21),
    D("0000 0000 0110 01", 0, 22),
    D("0000 0000 0110 00", 0, 23),
    D("0000 0000 0101 11", 0, 24),
    D("0000 0000 0101 10", 0, 25),
    D("0000 0000 0101 01", 0, 26),
    D("0000 0000 0101 00", 0, 27),
    D("0000 0000 0100 11", 0, 28),
    D("0000 0000 0100 10", 0, 29),
    D("0000 0000 0100 01", 0, 30),
    D("0000 0000 0100 00", 0, 31),
    D("0000 0000 0011 000", 0, 32),
    D("0000 0000 0010 111", 0, 33),
    D("0000 0000 0010 110", 0, 34),
    D("0000 0000 0010 101", 0, 35),
    D("0000 0000 0010 100", 0, 36),
    D("0000 0000 0010 011", 0, 37),
    D("0000 0000 0010 010", 0, 38),
    D("0000 0000 0010 001", 0, 39),
    D("0000 0000 0010 000", 0, 40),
    D("0000 0000 0011 111", 1, 8),
    D("0000 0000 0011 110", 1, 9),
    D("0000 0000 0011 101", 1, 10),
    D("0000 0000 0011 100", 1, 11),
    D("0000 0000 0011 011", 1, 12),
    D("0000 0000 0011 010", 1, 13),
    D("0000 0000 0011 001", 1, 14),
    D("0000 0000 0001 0011", 1, 15),
    D("0000 0000 0001 0010", 1, 16),
    D("0000 0000 0001 0001", 1, 17),
    D("0000 0000 0001 0000", 1, 18),
    D("0000 0000 0001 0100", 6, 3),
    D("0000 0000 0001 1010", 11, 2),
    D("0000 0000 0001 1001", 12, 2),
    D("0000 0000 0001 1000", 13, 2),
    D("0000 0000 0001 0111", 14, 2),
    D("0000 0000 0001 0110", 15, 2),
    D("0000 0000 0001 0101", 16, 2),
    D("0000 0000 0001 1111", 27, 1),
    D("0000 0000 0001 1110", 28, 1),
    D("0000 0000 0001 1101", 29, 1),
    D("0000 0000 0001 1100", 30, 1),
    D("0000 0000 0001 1011", 31, 1),
};

template <typename T, size_t N>
constexpr Table<T> MakeTable(const T (&a)[N]) {
  return Table<T>{a, N};
}

}  // namespace

const Table<Code> kMacroblockAddressIncrement = MakeTable(kMba);
const Table<Code> kMacroblockTypeI = MakeTable(kMbI);
const Table<Code> kMacroblockTypeP = MakeTable(kMbP);
const Table<Code> kMacroblockTypeB = MakeTable(kMbB);
const Table<Code> kMacroblockTypeD = MakeTable(kMbD);
const Table<Code> kCodedBlockPattern = MakeTable(kCbp);
const Table<Code> kMotionCode = MakeTable(kMotion);
const Table<Code> kDmVector = MakeTable(kDm);
const Table<Code> kDctDcSizeLuma = MakeTable(kDcLuma);
const Table<Code> kDctDcSizeChroma = MakeTable(kDcChroma);
const Table<DctCode> kDctTableZero = MakeTable(kDct0);
const Table<DctCode> kDctTableOne = MakeTable(kDct1);

void VlcLookup::Fill(const uint32_t* pCodes, const uint8_t* pLengths, size_t nCount, int nPrimaryBits) {
  m_nPrimaryBits = nPrimaryBits;
  const int nPrimary = 1 << nPrimaryBits;
  for (int i = 0; i < kMaxSlots; ++i) m_slots[i] = Slot{-1, 0};
  m_nUsed = nPrimary;
  // Short codes fill every primary slot they prefix.
  for (size_t i = 0; i < nCount; ++i) {
    const int len = pLengths[i];
    if (len > nPrimaryBits) continue;
    const uint32_t first = pCodes[i] << (nPrimaryBits - len);
    const uint32_t span = 1u << (nPrimaryBits - len);
    for (uint32_t k = 0; k < span; ++k)
      m_slots[first + k] = Slot{static_cast<int16_t>(i), static_cast<int8_t>(len)};
  }
  // Long codes: one sub-table per primary prefix, as wide as its longest code needs.
  for (int p = 0; p < nPrimary; ++p) {
    int nMax = 0;
    for (size_t i = 0; i < nCount; ++i) {
      const int len = pLengths[i];
      if (len > nPrimaryBits && (pCodes[i] >> (len - nPrimaryBits)) == static_cast<uint32_t>(p) && len > nMax)
        nMax = len;
    }
    if (!nMax) continue;
    const int nSub = nMax - nPrimaryBits;
    const int nStart = m_nUsed;
    if (nStart + (1 << nSub) > kMaxSlots) return;  // cannot happen with the Annex B tables
    m_nUsed += 1 << nSub;
    m_slots[p] = Slot{static_cast<int16_t>(nStart), static_cast<int8_t>(-nSub)};
    for (size_t i = 0; i < nCount; ++i) {
      const int len = pLengths[i];
      if (len <= nPrimaryBits || (pCodes[i] >> (len - nPrimaryBits)) != static_cast<uint32_t>(p)) continue;
      const uint32_t rest = pCodes[i] & ((1u << (len - nPrimaryBits)) - 1);
      const uint32_t first = rest << (nMax - len);
      const uint32_t span = 1u << (nMax - len);
      for (uint32_t k = 0; k < span; ++k)
        m_slots[nStart + first + k] = Slot{static_cast<int16_t>(i), static_cast<int8_t>(len)};
    }
  }
}

}  // namespace vlc
