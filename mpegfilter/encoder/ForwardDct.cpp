// One 8-point AAN pass: 5 multiplications, 29 additions; the output k is sqrt(2)cos(k pi/16)
// (1 for k = 0) times the plain DCT sum, which AanDescale undoes together with the 2-D factor.
#include "mpegfilter/encoder/ForwardDct.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pxenc {

namespace {

constexpr float kC4 = 0.707106781f;     // cos(4 pi/16)
constexpr float kC6 = 0.382683433f;     // cos(6 pi/16)
constexpr float kC2mC6 = 0.541196100f;  // cos(2 pi/16) - cos(6 pi/16)
constexpr float kC2pC6 = 1.306562965f;  // cos(2 pi/16) + cos(6 pi/16)

inline float Add(float a, float b) {
  return a + b;
}
inline float Sub(float a, float b) {
  return a - b;
}
inline float Mul(float a, float k) {
  return a * k;
}
#if defined(__SSE2__)
inline __m128 Add(__m128 a, __m128 b) {
  return _mm_add_ps(a, b);
}
inline __m128 Sub(__m128 a, __m128 b) {
  return _mm_sub_ps(a, b);
}
inline __m128 Mul(__m128 a, float k) {
  return _mm_mul_ps(a, _mm_set1_ps(k));
}
#endif

// In place on d[0], d[s], ... d[7s].
template <typename V>
inline void Aan8(V* d, int s) {
  const V t0 = Add(d[0], d[7 * s]), t7 = Sub(d[0], d[7 * s]);
  const V t1 = Add(d[s], d[6 * s]), t6 = Sub(d[s], d[6 * s]);
  const V t2 = Add(d[2 * s], d[5 * s]), t5 = Sub(d[2 * s], d[5 * s]);
  const V t3 = Add(d[3 * s], d[4 * s]), t4 = Sub(d[3 * s], d[4 * s]);
  // Even part.
  const V e10 = Add(t0, t3), e13 = Sub(t0, t3), e11 = Add(t1, t2), e12 = Sub(t1, t2);
  d[0] = Add(e10, e11);
  d[4 * s] = Sub(e10, e11);
  const V z1 = Mul(Add(e12, e13), kC4);
  d[2 * s] = Add(e13, z1);
  d[6 * s] = Sub(e13, z1);
  // Odd part.
  const V o10 = Add(t4, t5), o11 = Add(t5, t6), o12 = Add(t6, t7);
  const V z5 = Mul(Sub(o10, o12), kC6);
  const V z2 = Add(Mul(o10, kC2mC6), z5);
  const V z4 = Add(Mul(o12, kC2pC6), z5);
  const V z3 = Mul(o11, kC4);
  const V z11 = Add(t7, z3), z13 = Sub(t7, z3);
  d[5 * s] = Add(z13, z2);
  d[3 * s] = Sub(z13, z2);
  d[1 * s] = Add(z11, z4);
  d[7 * s] = Sub(z11, z4);
}

#if defined(__SSE2__)
// r[i][h]: row i, columns 4h..4h+3.
inline void Transpose8(__m128 r[8][2]) {
  __m128 a0 = r[0][0], a1 = r[1][0], a2 = r[2][0], a3 = r[3][0];
  __m128 b0 = r[0][1], b1 = r[1][1], b2 = r[2][1], b3 = r[3][1];
  __m128 c0 = r[4][0], c1 = r[5][0], c2 = r[6][0], c3 = r[7][0];
  __m128 e0 = r[4][1], e1 = r[5][1], e2 = r[6][1], e3 = r[7][1];
  _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
  _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
  _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
  _MM_TRANSPOSE4_PS(e0, e1, e2, e3);
  r[0][0] = a0, r[1][0] = a1, r[2][0] = a2, r[3][0] = a3;
  r[0][1] = c0, r[1][1] = c1, r[2][1] = c2, r[3][1] = c3;
  r[4][0] = b0, r[5][0] = b1, r[6][0] = b2, r[7][0] = b3;
  r[4][1] = e0, r[5][1] = e1, r[6][1] = e2, r[7][1] = e3;
}
#endif

}  // namespace

float AanDescale(int i) {
  const int u = i & 7, v = i >> 3;
  const double kPi = 3.14159265358979323846;
  auto a = [&](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * kPi / 16); };
  // The orthonormal transform has 1/8 for DC and 1/4 cos-products otherwise; together with
  // the AAN factors a(u)a(v) that is 1 / (8 a(u) a(v)).
  return static_cast<float>(1.0 / (8.0 * a(u) * a(v)));
}

void ForwardDctAan(const short* pIn, float* pOut) {
#if defined(__SSE2__)
  __m128 r[8][2];
  for (int i = 0; i < 8; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pIn + 8 * i));
    r[i][0] = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
    r[i][1] = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16));
  }
  // Columns (vertical frequencies), then rows after a transpose, then back to raster.
  Aan8(&r[0][0], 2);
  Aan8(&r[0][1], 2);
  Transpose8(r);
  Aan8(&r[0][0], 2);
  Aan8(&r[0][1], 2);
  Transpose8(r);
  for (int i = 0; i < 8; ++i) {
    _mm_store_ps(pOut + 8 * i, r[i][0]);
    _mm_store_ps(pOut + 8 * i + 4, r[i][1]);
  }
#else
  for (int i = 0; i < 64; ++i) pOut[i] = pIn[i];
  for (int c = 0; c < 8; ++c) Aan8(pOut + c, 8);
  for (int r = 0; r < 8; ++r) Aan8(pOut + 8 * r, 1);
#endif
}

}  // namespace pxenc
