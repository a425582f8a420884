// Rows first with two extra fraction bits, then columns; the final shift folds in the factor 8
// by which the factorisation exceeds the orthonormal transform.
#include "mpegfilter/encoder/ForwardDct.h"

#include <cstdint>

namespace pxenc {

namespace {

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
// round(x * 2^13) of the rotation constants.
constexpr int32_t k0_298631336 = 2446;
constexpr int32_t k0_390180644 = 3196;
constexpr int32_t k0_541196100 = 4433;
constexpr int32_t k0_765366865 = 6270;
constexpr int32_t k0_899976223 = 7373;
constexpr int32_t k1_175875602 = 9633;
constexpr int32_t k1_501321110 = 12299;
constexpr int32_t k1_847759065 = 15137;
constexpr int32_t k1_961570560 = 16069;
constexpr int32_t k2_053119869 = 16819;
constexpr int32_t k2_562915447 = 20995;
constexpr int32_t k3_072711026 = 25172;

inline int32_t Descale(int32_t x, int n) {
  return (x + (1 << (n - 1))) >> n;
}

// One 8-point pass over d[0], d[stride], ...; nShiftEven/nShiftOdd per output class.
template <bool kSecond>
inline void Pass(int32_t* d, int stride) {
  const int32_t t0 = d[0] + d[7 * stride], t7 = d[0] - d[7 * stride];
  const int32_t t1 = d[stride] + d[6 * stride], t6 = d[stride] - d[6 * stride];
  const int32_t t2 = d[2 * stride] + d[5 * stride], t5 = d[2 * stride] - d[5 * stride];
  const int32_t t3 = d[3 * stride] + d[4 * stride], t4 = d[3 * stride] - d[4 * stride];

  const int32_t t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
  constexpr int kRot = kSecond ? kConstBits + kPass1Bits + 3 : kConstBits - kPass1Bits;
  if (kSecond) {
    d[0] = Descale(t10 + t11, kPass1Bits + 3);
    d[4 * stride] = Descale(t10 - t11, kPass1Bits + 3);
  } else {
    d[0] = (t10 + t11) * (1 << kPass1Bits);
    d[4 * stride] = (t10 - t11) * (1 << kPass1Bits);
  }
  const int32_t z1 = (t12 + t13) * k0_541196100;
  d[2 * stride] = Descale(z1 + t13 * k0_765366865, kRot);
  d[6 * stride] = Descale(z1 - t12 * k1_847759065, kRot);

  int32_t z1o = t4 + t7, z2 = t5 + t6, z3 = t4 + t6, z4 = t5 + t7;
  const int32_t z5 = (z3 + z4) * k1_175875602;
  const int32_t a4 = t4 * k0_298631336, a5 = t5 * k2_053119869;
  const int32_t a6 = t6 * k3_072711026, a7 = t7 * k1_501321110;
  z1o *= -k0_899976223;
  z2 *= -k2_562915447;
  z3 = z3 * -k1_961570560 + z5;
  z4 = z4 * -k0_390180644 + z5;
  d[7 * stride] = Descale(a4 + z1o + z3, kRot);
  d[5 * stride] = Descale(a5 + z2 + z4, kRot);
  d[3 * stride] = Descale(a6 + z2 + z3, kRot);
  d[1 * stride] = Descale(a7 + z1o + z4, kRot);
}

}  // namespace

void ForwardDct(short* pBlock) {
  int32_t w[64];
  for (int i = 0; i < 64; ++i) w[i] = pBlock[i];
  for (int r = 0; r < 8; ++r) Pass<false>(w + 8 * r, 1);
  for (int c = 0; c < 8; ++c) Pass<true>(w + c, 8);
  for (int i = 0; i < 64; ++i) {
    const int32_t v = w[i];
    pBlock[i] = static_cast<short>(v < -2048 ? -2048 : (v > 2047 ? 2047 : v));
  }
}

}  // namespace pxenc
