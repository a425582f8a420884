// The Annex B tables: prefix-free, complete where the standard is complete, and every code found
// again by the decode lookup built from it.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "mpegfilter/VlcTables.h"

namespace {

template <typename T>
double Kraft(const vlc::Table<T>& t) {
  double k = 0;
  for (size_t i = 0; i < t.nCount; ++i) k += std::ldexp(1.0, -t.pEntries[i].nLength);
  return k;
}

template <typename T>
void CheckPrefixFreeAndLookup(const vlc::Table<T>& t, int primaryBits) {
  for (size_t i = 0; i < t.nCount; ++i)
    for (size_t j = 0; j < t.nCount; ++j) {
      if (i == j) continue;
      const auto& a = t.pEntries[i];
      const auto& b = t.pEntries[j];
      if (a.nLength <= b.nLength) {
        ASSERT_NE(b.nCode >> (b.nLength - a.nLength), a.nCode) << i << " prefixes " << j;
      }
    }
  vlc::VlcLookup lookup;
  lookup.Build(t, primaryBits);
  for (size_t i = 0; i < t.nCount; ++i) {
    const auto& e = t.pEntries[i];
    // the code followed by ones, then by zeros: both decode to the entry
    for (uint32_t tail : {0u, 0xFFFFFFFFu}) {
      const uint32_t w = (e.nCode << (32 - e.nLength)) | (e.nLength < 32 ? (tail >> e.nLength) : 0);
      int len = 0;
      EXPECT_EQ(lookup.Decode(w, &len), static_cast<int>(i));
      EXPECT_EQ(len, e.nLength);
    }
  }
}

TEST(VlcTables, Structure) {
  CheckPrefixFreeAndLookup(vlc::kMacroblockAddressIncrement, 11);
  CheckPrefixFreeAndLookup(vlc::kMacroblockTypeI, 2);
  CheckPrefixFreeAndLookup(vlc::kMacroblockTypeP, 6);
  CheckPrefixFreeAndLookup(vlc::kMacroblockTypeB, 6);
  CheckPrefixFreeAndLookup(vlc::kCodedBlockPattern, 9);
  CheckPrefixFreeAndLookup(vlc::kMotionCode, 11);
  CheckPrefixFreeAndLookup(vlc::kDmVector, 2);
  CheckPrefixFreeAndLookup(vlc::kDctDcSizeLuma, 9);
  CheckPrefixFreeAndLookup(vlc::kDctDcSizeChroma, 10);
  CheckPrefixFreeAndLookup(vlc::kDctTableZero, 10);
  CheckPrefixFreeAndLookup(vlc::kDctTableOne, 10);
  CheckPrefixFreeAndLookup(vlc::kDctTableOne, 8);  // other split points build the same decoder
}

TEST(VlcTables, CodeSpaceUse) {
  // Complete tables use the whole code space; the others leave exactly the forbidden codes.
  EXPECT_EQ(Kraft(vlc::kDctDcSizeLuma), 1.0);
  EXPECT_EQ(Kraft(vlc::kDctDcSizeChroma), 1.0);
  EXPECT_EQ(Kraft(vlc::kDmVector), 1.0);
  EXPECT_EQ(Kraft(vlc::kCodedBlockPattern), 1.0 - std::ldexp(1.0, -9));  // 0000 0000 0
  EXPECT_EQ(Kraft(vlc::kDctTableZero), 1.0 - std::ldexp(1.0, -12));      // start-code prefix
  // Table one frees 6 codes of 12 bits and 4 of 13 bits that table zero uses.
  EXPECT_EQ(Kraft(vlc::kDctTableOne), 1.0 - 9 * std::ldexp(1.0, -12));
}

TEST(VlcTables, Contents) {
  std::set<int> cbp;
  for (size_t i = 0; i < vlc::kCodedBlockPattern.nCount; ++i)
    cbp.insert(vlc::kCodedBlockPattern.pEntries[i].nValue);
  EXPECT_EQ(cbp.size(), 64u);
  EXPECT_EQ(*cbp.begin(), 0);
  EXPECT_EQ(*cbp.rbegin(), 63);
  std::set<int> mba;
  for (size_t i = 0; i < vlc::kMacroblockAddressIncrement.nCount; ++i)
    mba.insert(vlc::kMacroblockAddressIncrement.pEntries[i].nValue);
  EXPECT_EQ(mba.size(), 35u);
  // Run/level pairs: each at most once per table, the same set in both tables.
  for (const auto* t : {&vlc::kDctTableZero, &vlc::kDctTableOne}) {
    std::set<int> pairs;
    for (size_t i = 0; i < t->nCount; ++i) pairs.insert(t->pEntries[i].nRun * 256 + t->pEntries[i].nLevel);
    EXPECT_EQ(pairs.size(), t->nCount);
  }
}

}  // namespace
