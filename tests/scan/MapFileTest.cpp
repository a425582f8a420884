// MapFile on streams made by the wrapped fax writer: good streams of one and several pages in varied
// block shapes give back exactly the fax data that went in; damaged streams end with their named
// result, write nothing and never stall.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "scan/MapFile.h"
#include "tools/faxwrap/FaxWrapWriter.h"

namespace fs = std::filesystem;
using W = FaxWrapWriter;
using R = MapFile::Result;

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

W::Page MakePage(int32_t width, int32_t height, size_t bytes, uint8_t seed, int32_t xRes = 204,
                 int32_t yRes = 98) {
  W::Page p;
  p.width = width;
  p.height = height;
  p.xRes = xRes;
  p.yRes = yRes;
  p.fax = Bytes(bytes, seed);
  return p;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(MapFileTest, GoodStreamsGiveBackTheFaxData) {
  const struct {
    const char* name;
    std::vector<W::Page> pages;
    W::Options options;
  } cases[] = {
      {"one page, default blocks", {MakePage(1728, 1100, 20000, 1)}, {}},
      {"one page, one byte records", {MakePage(1728, 10, 300, 2)}, {1, 3, 8, true}},
      {"largest records", {MakePage(1728, 2200, 100000, 3)}, {32767, 2, 8, true}},
      {"long block headers", {MakePage(864, 500, 9000, 4)}, {1000, 2, 24, true}},
      {"three pages with filler",
       {MakePage(1728, 100, 5000, 5), MakePage(1728, 200, 7001, 6), MakePage(2048, 300, 3, 7, 200, 200)},
       {}},
      {"three pages, no filler",
       {MakePage(1728, 100, 5000, 8), MakePage(1728, 200, 1, 9), MakePage(1728, 50, 4097, 10)},
       {4096, 1, 8, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = W::Wrap(c.pages, c.options);
    MapFile map;
    ASSERT_TRUE(map.Unpack(stream.data(), stream.size())) << MapFile::ResultText(map.GetResult());
    ASSERT_EQ(map.Pages().size(), c.pages.size());
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < c.pages.size(); ++i) {
      const MapFile::Page& got = map.Pages()[i];
      EXPECT_EQ(got.width, c.pages[i].width);
      EXPECT_EQ(got.height, c.pages[i].height);
      EXPECT_EQ(got.xRes, c.pages[i].xRes);
      EXPECT_EQ(got.yRes, c.pages[i].yRes);
      EXPECT_EQ(got.offset, expected.size());
      EXPECT_EQ(got.length, c.pages[i].fax.size());
      expected.insert(expected.end(), c.pages[i].fax.begin(), c.pages[i].fax.end());
    }
    EXPECT_EQ(map.Output(), expected);
    int32_t x, y, w, h;
    map.GetInfo(x, y, w, h);
    EXPECT_EQ(w, c.pages[0].width);
    EXPECT_EQ(h, c.pages[0].height);
  }
}

TEST(MapFileTest, SuspendedDataIsSkippedUntilTheResumeBlock) {
  std::vector<uint8_t> s;
  W::AppendBlock(s, 1, W::StartOfPage(1728, 10, 204, 196));
  W::AppendBlock(s, 0, W::Raster(Bytes(5, 1).data(), 5));
  W::AppendBlock(s, 2, W::EndOfImage());
  // Suspended: a well-formed data block (not copied), a record of unknown type, and garbage that is
  // not blocks at all, including a header whose length points far past the end.
  W::AppendBlock(s, 0, W::Raster(Bytes(9, 2).data(), 9));
  W::AppendBlock(s, 0, {7, 1, 2, 3});
  const std::vector<uint8_t> garbage = {0xff, 0xff, 0xff, 0x7f, 8, 0, 0, 0, 3, 4, 44, 0, 0};
  s.insert(s.end(), garbage.begin(), garbage.end());
  W::AppendBlock(s, 1, W::StartOfPage(1728, 20, 204, 196));
  W::AppendBlock(s, 0, W::Raster(Bytes(6, 3).data(), 6));
  W::AppendBlock(s, 2, W::EndOfImage());
  s.insert(s.end(), garbage.begin(), garbage.end());  // trailing bytes while suspended: the end
  MapFile map;
  ASSERT_TRUE(map.Unpack(s.data(), s.size())) << MapFile::ResultText(map.GetResult());
  EXPECT_EQ(map.Output(), Concat({Bytes(5, 1), Bytes(6, 3)}));
  ASSERT_EQ(map.Pages().size(), 2u);
  EXPECT_EQ(map.Pages()[1].offset, 5u);
}

// A resume block repeats its page's start of page: the page goes on while its data has not ended
// (Group 3 data counted by its EOLs); a page whose data has ended, or data without EOLs, is followed
// by a page of its own even when the next start of page is the same.
TEST(MapFileTest, ResumedPagesGoOnAndEndedPagesDoNot) {
  const int32_t w = 1728, h = 400;
  std::vector<uint8_t> rows(static_cast<size_t>(w / 8) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((y / 10 + x / 16) % 2 == 0)
        rows[static_cast<size_t>(y) * (w / 8) + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  W::Page coded;
  coded.width = w;
  coded.height = h;
  coded.fax = W::EncodeG3(rows, w, h);
  ASSERT_FALSE(coded.fax.empty());
  W::Options paused;
  paused.recordBytes = 97;
  paused.recordsPerBlock = 2;
  paused.suspendEvery = 600;
  W::Page uncoded = MakePage(64, 40, 0, 0);
  uncoded.fax.assign(300, 0x5A);  // never eleven zeros in a row
  struct Case {
    const char* name;
    std::vector<W::Page> pages;
    size_t expected;
    bool pause;
  } cases[] = {
      {"one page paused many times", {coded}, 1, true},
      {"three equal pages, each paused", {coded, coded, coded}, 3, true},
      {"data without EOLs: every start of page a page", {uncoded, uncoded}, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = W::Wrap(c.pages, c.pause ? paused : W::Options{});
    MapFile map;
    ASSERT_TRUE(map.Unpack(stream.data(), stream.size())) << MapFile::ResultText(map.GetResult());
    ASSERT_EQ(map.Pages().size(), c.expected);
    std::vector<uint8_t> all;
    for (const W::Page& p : c.pages) all.insert(all.end(), p.fax.begin(), p.fax.end());
    EXPECT_EQ(map.Output(), all);
  }
}

// A pause a few bytes before the end of a page: all its EOLs are in, but its last line is not. The
// resumed data does not start with an EOL, so it is the rest of that page, not a page of its own.
TEST(MapFileTest, PauseInTheLastLineStaysWithItsPage) {
  const int32_t w = 1728, h = 100;
  std::vector<uint8_t> rows(static_cast<size_t>(w / 8) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((y / 10 + x / 16) % 2 == 0)
        rows[static_cast<size_t>(y) * (w / 8) + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  const std::vector<uint8_t> fax = W::EncodeG3(rows, w, h);
  ASSERT_GT(fax.size(), 100u);
  auto data = [](std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
    for (size_t at = 0; at < n; at += 4096) {
      const std::vector<uint8_t> r = W::Raster(p + at, static_cast<uint32_t>(std::min<size_t>(4096, n - at)));
      W::AppendBlock(out, 0, r);
    }
  };
  std::vector<uint8_t> stream;
  const size_t cut = fax.size() - 3;
  for (int page = 0; page < 2; ++page) {
    W::AppendBlock(stream, 1, W::StartOfPage(w, h, 200, 200));
    data(stream, fax.data(), page == 0 ? cut : fax.size());
    W::AppendBlock(stream, 2, W::EndOfImage());
    if (page == 0) {
      W::AppendBlock(stream, 1, W::StartOfPage(w, h, 200, 200));
      data(stream, fax.data() + cut, fax.size() - cut);
      W::AppendBlock(stream, 2, W::EndOfImage());
    }
  }
  MapFile map;
  ASSERT_TRUE(map.Unpack(stream.data(), stream.size())) << MapFile::ResultText(map.GetResult());
  ASSERT_EQ(map.Pages().size(), 2u);
  EXPECT_EQ(map.Pages()[0].length, fax.size());
  EXPECT_EQ(map.Pages()[1].length, fax.size());
  EXPECT_EQ(map.Pages()[1].offset, fax.size());
}

TEST(MapFileTest, DamagedStreamsFailWithTheirResult) {
  const std::vector<uint8_t> page = W::StartOfPage(1728, 10, 204, 196);
  auto stream = [&](std::initializer_list<std::vector<uint8_t>> dataBlocks) {
    std::vector<uint8_t> s;
    W::AppendBlock(s, 1, page);
    for (const auto& p : dataBlocks) W::AppendBlock(s, 0, p);
    return s;
  };
  std::vector<uint8_t> shortLength = stream({W::Raster(Bytes(4, 0).data(), 4)});
  shortLength.insert(shortLength.end(), {4, 0, 0, 0, 8, 0, 0, 0});  // length 4: shorter than its header
  std::vector<uint8_t> zeroLength = stream({});
  zeroLength.insert(zeroLength.end(), 8, 0);
  std::vector<uint8_t> pastEnd = stream({W::Raster(Bytes(100, 0).data(), 100)});
  pastEnd.resize(pastEnd.size() - 1);
  std::vector<uint8_t> headerTail = stream({});
  headerTail.insert(headerTail.end(), {1, 2, 3});
  std::vector<uint8_t> longHeader;
  W::AppendBlock(longHeader, 1, page);
  longHeader.insert(longHeader.end(), {16, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 4, 1, 2, 3, 4});
  std::vector<uint8_t> tooLong = W::Raster(Bytes(40000, 0).data(), 0);
  tooLong[2] = 0x80;  // 32768 bytes declared
  tooLong.resize(4 + 32768);
  std::vector<uint8_t> noPage;
  W::AppendBlock(noPage, 0, W::Raster(Bytes(10, 0).data(), 10));
  std::vector<uint8_t> onlyHeaders;
  W::AppendBlock(onlyHeaders, 1, page);
  W::AppendBlock(onlyHeaders, 2, W::EndOfImage());
  const struct {
    const char* name;
    std::vector<uint8_t> data;
    R result;
  } cases[] = {
      {"empty file", {}, R::NoPage},
      {"block length below 8", shortLength, R::BadBlockLength},
      {"block length 0", zeroLength, R::BadBlockLength},
      {"block past the end", pastEnd, R::TruncatedBlock},
      {"cut block header", headerTail, R::TruncatedBlock},
      {"header longer than block", longHeader, R::BadHeaderLength},
      {"raster longer than held", stream({tooLong}), R::RasterTooLong},
      {"raster past its block", stream({{1, 0, 0, 9, 1, 2}}), R::TruncatedRecord},
      {"cut raster header", stream({{1, 0}}), R::TruncatedRecord},
      {"cut start of page", stream({{0, 0, 0, 0}}), R::TruncatedRecord},
      {"cut end of image", stream({{2, 0}}), R::TruncatedRecord},
      {"unknown record in fax data", stream({{9, 0, 0, 0}}), R::UnknownRecord},
      {"raster before a page", noPage, R::DataBeforePage},
      {"page of width 0", stream({W::StartOfPage(0, 10, 204, 196)}), R::BadPage},
      {"page of resolution 0", stream({W::StartOfPage(1728, 10, 204, 0)}), R::BadPage},
      {"page of 2^31 lines", stream({W::StartOfPage(1728, 0x7fffffff, 204, 196)}), R::BadPage},
      {"page without data", onlyHeaders, R::NoPage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MapFile map;
    EXPECT_FALSE(map.Unpack(c.data.data(), c.data.size()));
    EXPECT_EQ(map.GetResult(), c.result) << MapFile::ResultText(map.GetResult());
    // The reader refuses further work after its first fault.
    EXPECT_FALSE(map.Unpack(c.data.data(), c.data.size()));
  }
}

TEST(MapFileTest, OutputAreaIsALimit) {
  MapFile::Limits limits;
  limits.outputArea = 10000;
  std::vector<W::Page> pages = {MakePage(1728, 100, 10000, 1)};
  std::vector<uint8_t> s = W::Wrap(pages, {});
  MapFile exact(limits);
  EXPECT_TRUE(exact.Unpack(s.data(), s.size()));
  pages[0].fax.push_back(0);
  s = W::Wrap(pages, {});
  MapFile over(limits);
  EXPECT_FALSE(over.Unpack(s.data(), s.size()));
  EXPECT_EQ(over.GetResult(), R::OutputFull);
  EXPECT_TRUE(over.Output().size() <= limits.outputArea);
}

TEST(MapFileTest, InitializeWritesTheIntermediateFileOnlyOnSuccess) {
  const fs::path dir = fs::temp_directory_path() / ("m3mapfile-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::vector<W::Page> pages = {MakePage(1728, 100, 3000, 1), MakePage(1728, 100, 2000, 2)};
  const std::vector<uint8_t> good = W::Wrap(pages, {});
  std::ofstream(dir / "good.mfp", std::ios::binary)
      .write(reinterpret_cast<const char*>(good.data()), static_cast<std::streamsize>(good.size()));
  std::ofstream(dir / "0bad.raw") << "stale";
  std::vector<uint8_t> bad = good;
  bad.resize(100);  // cut inside the first data block
  std::ofstream(dir / "bad.mfp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));

  MapFile map;
  ASSERT_TRUE(map.Initialize((dir / "good.mfp").string(), (dir / "0good.raw").string()));
  EXPECT_EQ(fs::file_size(dir / "0good.raw"), 5000u);
  MapFile broken;
  EXPECT_FALSE(broken.Initialize((dir / "bad.mfp").string(), (dir / "0bad.raw").string()));
  EXPECT_EQ(broken.GetResult(), R::TruncatedBlock);
  MapFile missing;
  EXPECT_FALSE(missing.Initialize((dir / "none.mfp").string(), (dir / "0none.raw").string()));
  EXPECT_EQ(missing.GetResult(), R::InputUnreadable);
  EXPECT_FALSE(fs::exists(dir / "0none.raw"));
  MapFile::Limits small;
  small.maxInput = 64;
  MapFile large(small);
  EXPECT_FALSE(large.Initialize((dir / "good.mfp").string(), (dir / "0large.raw").string()));
  EXPECT_EQ(large.GetResult(), R::InputTooLarge);
  fs::remove_all(dir);
}

}  // namespace
