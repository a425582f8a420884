// Test helper: writes MPEG video syntax bit by bit, most significant first, so that tests can
// build tiny streams (field pictures, dual prime, 4:4:4, D pictures, concealment vectors) whose
// decoded pictures are known exactly. Codes are written from the standard's tables as text
// ("0010 1"), independently of the decoder's own tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testmpeg {

class TestBitWriter {
 public:
  void Put(uint32_t nValue, int nBits);  // nBits 0..32
  void Code(const char* pszBits);        // "0010 1": spaces ignored
  void Align();                          // zero bits to a byte boundary
  void StartCode(uint32_t nLowByte);     // aligns, then 00 00 01 nLowByte
  // Intra DC differential (ISO/IEC 13818-2 7.2.1, Tables B.12/B.13) for luma or chroma.
  void DcDifferential(bool bLuma, int nDiff);
  // motion_code (Table B.10) for f_code 1: magnitude 0..16 with its sign bit.
  void MotionCode(int nCode);
  const std::vector<uint8_t>& Bytes();  // aligned
  bool Save(const std::string& path);

 private:
  std::vector<uint8_t> m_bytes;
  uint32_t m_nAcc = 0;
  int m_nBits = 0;
};

}  // namespace testmpeg
