// Start codes of ISO/IEC 13818-2 Table 6-1 and ISO/IEC 13818-1 2.5.3 as the 32-bit words that follow
// the byte alignment (00 00 01 xx), shared by the reader and the writer.
#pragma once

#include <cstdint>

namespace pxstart {

inline constexpr uint32_t kPicture = 0x100;
inline constexpr uint32_t kUserData = 0x1B2;
inline constexpr uint32_t kSequenceHeader = 0x1B3;
inline constexpr uint32_t kExtension = 0x1B5;
inline constexpr uint32_t kSequenceEnd = 0x1B7;
inline constexpr uint32_t kGroup = 0x1B8;
inline constexpr uint32_t kPack = 0x1BA;         // system streams
inline constexpr uint32_t kVideoPacket = 0x1E0;  // stream 0xE0

inline constexpr bool IsSlice(uint32_t code) {
  return code >= 0x101 && code <= 0x1AF;
}

}  // namespace pxstart
