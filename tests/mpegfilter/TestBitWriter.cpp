#include "TestBitWriter.h"

#include <cstdio>
#include <cstdlib>

namespace testmpeg {

void TestBitWriter::Put(uint32_t nValue, int nBits) {
  for (int i = nBits - 1; i >= 0; --i) {
    m_nAcc = (m_nAcc << 1) | ((nValue >> i) & 1);
    if (++m_nBits == 8) {
      m_bytes.push_back(static_cast<uint8_t>(m_nAcc));
      m_nAcc = 0;
      m_nBits = 0;
    }
  }
}

void TestBitWriter::Code(const char* p) {
  for (; *p; ++p)
    if (*p == '0' || *p == '1') Put(static_cast<uint32_t>(*p - '0'), 1);
}

void TestBitWriter::Align() {
  while (m_nBits) Put(0, 1);
}

void TestBitWriter::StartCode(uint32_t nLowByte) {
  Align();
  Put(0x000001, 24);
  Put(nLowByte, 8);
}

void TestBitWriter::DcDifferential(bool bLuma, int nDiff) {
  static const char* const kLuma[] = {"100", "00", "01", "101", "110", "1110", "11110", "111110", "1111110"};
  static const char* const kChroma[] = {"00",    "01",     "10",      "110",     "1110",
                                        "11110", "111110", "1111110", "11111110"};
  int size = 0;
  for (int a = std::abs(nDiff); a; a >>= 1) ++size;
  Code(bLuma ? kLuma[size] : kChroma[size]);
  if (size) Put(static_cast<uint32_t>(nDiff > 0 ? nDiff : nDiff + (1 << size) - 1), size);
}

void TestBitWriter::MotionCode(int nCode) {
  static const char* const kMag[] = {"1", "01", "001", "0001", "0000 11", "0000 101", "0000 100", "0000 011"};
  const int a = std::abs(nCode);
  Code(kMag[a]);
  if (a) Put(nCode < 0 ? 1 : 0, 1);
}

const std::vector<uint8_t>& TestBitWriter::Bytes() {
  Align();
  return m_bytes;
}

bool TestBitWriter::Save(const std::string& path) {
  const std::vector<uint8_t>& b = Bytes();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace testmpeg
