// SANE frames to a page without a device (PageReader::DecodeFrames, the code every scan goes
// through): each frame kind, unknown length, line padding, and the frames a broken device could send.
// Then the same bytes handed to a row sink as file transfer takes them (PageReader::StreamFrame).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/twain/PageReader.h"

namespace {

using pxtwain::FrameData;
using pxtwain::PageReader;
using Bytes = std::vector<unsigned char>;

SANE_Parameters Params(SANE_Frame format, int depth, int width, int lines, int padding = 0,
                       bool last = true) {
  SANE_Parameters p{};
  p.format = format;
  p.depth = depth;
  p.pixels_per_line = width;
  p.lines = lines;
  const int samples = format == SANE_FRAME_RGB ? 3 : 1;
  p.bytes_per_line = (width * samples * depth + 7) / 8 + padding;
  p.last_frame = last ? SANE_TRUE : SANE_FALSE;
  return p;
}

// Bytes of a frame: lines of bytes_per_line, byte i of line y = (y * 16 + i) & 255.
Bytes Ramp(const SANE_Parameters& p, int lines) {
  Bytes b;
  for (int y = 0; y < lines; ++y)
    for (int i = 0; i < p.bytes_per_line; ++i) b.push_back(static_cast<unsigned char>((y * 16 + i) & 255));
  return b;
}

struct Frames {
  std::vector<Bytes> data;
  std::vector<FrameData> frames;
  Frames& Add(const SANE_Parameters& p, Bytes bytes) {
    data.push_back(std::move(bytes));
    frames.push_back({p, nullptr, 0});
    return *this;
  }
  pxtwain::PageResult Decode() {
    for (size_t i = 0; i < frames.size(); ++i) {
      frames[i].data = data[i].data();
      frames[i].size = data[i].size();
    }
    return PageReader::DecodeFrames(frames);
  }
};

struct Page {
  pxtwain::PageResult r;
  ~Page() { PageReader::FreePage(r.page); }
  const uint8_t* Row(int y) const { return r.page->pixels + static_cast<size_t>(y) * r.page->stride; }
};

TEST(FrameDecode, EachFrameKindBecomesTheToolkitsLayout) {
  {  // grey, 8 bits: the bytes as they came
    const auto p = Params(SANE_FRAME_GRAY, 8, 5, 3);
    Page page{Frames().Add(p, Ramp(p, 3)).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.r.page->bitsPerPixel, 8);
    EXPECT_EQ(page.r.page->height, 3);
    EXPECT_EQ(page.Row(2)[4], 32 + 4);
  }
  {  // grey, 16 bits in host order: the high byte
    auto p = Params(SANE_FRAME_GRAY, 16, 2, 1);
    Bytes bytes(4);
    const uint16_t samples[2] = {0x12ff, 0xab01};
    std::memcpy(bytes.data(), samples, 4);
    Page page{Frames().Add(p, bytes).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.Row(0)[0], 0x12);
    EXPECT_EQ(page.Row(0)[1], 0xab);
  }
  {  // line art: SANE's 1 is black, the toolkit's 0 is
    const auto p = Params(SANE_FRAME_GRAY, 1, 10, 1);
    Page page{Frames().Add(p, Bytes{0xf0, 0x40}).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.r.page->bitsPerPixel, 1);
    EXPECT_EQ(page.Row(0)[0], 0x0f);
    EXPECT_EQ(page.Row(0)[1] & 0xc0, 0x80);
  }
  {  // RGB interleaved, 8 and 16 bits
    const auto p = Params(SANE_FRAME_RGB, 8, 2, 2);
    Page page{Frames().Add(p, Ramp(p, 2)).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.r.page->bitsPerPixel, 24);
    EXPECT_EQ(page.Row(1)[5], 16 + 5);
    auto p16 = Params(SANE_FRAME_RGB, 16, 1, 1);
    Bytes bytes(6);
    const uint16_t rgb[3] = {0x1000, 0x2000, 0x3000};
    std::memcpy(bytes.data(), rgb, 6);
    Page page16{Frames().Add(p16, bytes).Decode()};
    ASSERT_EQ(page16.r.code, PX_TWN_OK) << page16.r.error;
    EXPECT_EQ(page16.Row(0)[0], 0x10);
    EXPECT_EQ(page16.Row(0)[2], 0x30);
  }
  {  // three-pass: one frame per colour, assembled into RGB
    Frames f;
    f.Add(Params(SANE_FRAME_RED, 8, 2, 1, 0, false), Bytes{1, 2});
    f.Add(Params(SANE_FRAME_GREEN, 8, 2, 1, 0, false), Bytes{3, 4});
    f.Add(Params(SANE_FRAME_BLUE, 8, 2, 1, 0, true), Bytes{5, 6});
    Page page{f.Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(std::vector<int>(page.Row(0), page.Row(0) + 6), (std::vector<int>{1, 3, 5, 2, 4, 6}));
  }
}

TEST(FrameDecode, UnknownLengthPaddingAndExtraLines) {
  {  // lines -1: the page is as tall as the lines that came (past the first allocation of 64 rows)
    const auto p = Params(SANE_FRAME_GRAY, 8, 3, -1);
    Page page{Frames().Add(p, Ramp(p, 150)).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.r.page->height, 150);
    EXPECT_EQ(page.Row(149)[2], (149 * 16 + 2) & 255);
  }
  {  // an odd bytes_per_line: the padding at each line's end is dropped
    const auto p = Params(SANE_FRAME_RGB, 8, 3, 2, 3);
    ASSERT_EQ(p.bytes_per_line, 12);
    Page page{Frames().Add(p, Ramp(p, 2)).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.Row(1)[0], 16);
    EXPECT_EQ(page.Row(1)[8], 16 + 8);
  }
  {  // lines beyond the declared height are dropped; a partial last line is not a line
    const auto p = Params(SANE_FRAME_GRAY, 8, 4, 2);
    Bytes bytes = Ramp(p, 5);
    bytes.pop_back();
    Page page{Frames().Add(p, bytes).Decode()};
    ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
    EXPECT_EQ(page.r.page->height, 2);
  }
}

TEST(FrameDecode, FramesABrokenDeviceSendsGiveAFailureAndNoPage) {
  struct Case {
    const char* what;
    std::vector<SANE_Parameters> params;
    std::vector<int> lines;  // lines of bytes per frame
    int code;
  };
  auto bad = [](SANE_Parameters p, int field, int value) {
    (field == 0 ? p.depth : field == 1 ? p.bytes_per_line : field == 2 ? p.pixels_per_line : p.lines) = value;
    return p;
  };
  const auto grey = Params(SANE_FRAME_GRAY, 8, 4, 2);
  const std::vector<Case> cases = {
      {"depth 4", {bad(grey, 0, 4)}, {2}, PX_TWN_E_FORMAT},
      {"a line shorter than its pixels", {bad(grey, 1, 3)}, {2}, PX_TWN_E_FORMAT},
      {"no pixels", {bad(grey, 2, 0)}, {0}, PX_TWN_E_FORMAT},
      {"zero lines", {bad(grey, 3, 0)}, {0}, PX_TWN_E_FORMAT},
      {"a format SANE does not have", {Params(static_cast<SANE_Frame>(7), 8, 4, 2)}, {2}, PX_TWN_E_FORMAT},
      {"no bytes at all", {grey}, {0}, PX_TWN_E_NO_PAGE},
      {"a grey frame, then a colour pass",
       {Params(SANE_FRAME_GRAY, 8, 4, 2, 0, false), Params(SANE_FRAME_RED, 8, 4, 2)},
       {2, 2},
       PX_TWN_E_FORMAT},
      {"an RGB frame, then a colour pass",
       {Params(SANE_FRAME_RGB, 8, 4, 2, 0, false), Params(SANE_FRAME_BLUE, 8, 4, 2)},
       {2, 2},
       PX_TWN_E_FORMAT},
      {"a pass of another width",
       {Params(SANE_FRAME_RED, 8, 4, 2, 0, false), Params(SANE_FRAME_GREEN, 8, 5, 2)},
       {2, 2},
       PX_TWN_E_FORMAT},
      // Three-pass colour without its blue frame would hand over a third of the page unset.
      {"three-pass without blue",
       {Params(SANE_FRAME_RED, 8, 4, 2, 0, false), Params(SANE_FRAME_GREEN, 8, 4, 2, 0, true)},
       {2, 2},
       PX_TWN_E_NO_PAGE},
  };
  for (const Case& c : cases) {
    Frames f;
    for (size_t i = 0; i < c.params.size(); ++i) f.Add(c.params[i], Ramp(grey, c.lines[i]));
    Page page{f.Decode()};
    EXPECT_EQ(page.r.code, c.code) << c.what;
    EXPECT_EQ(page.r.page, nullptr) << c.what;
    EXPECT_FALSE(page.r.error.empty()) << c.what;
  }
}

TEST(FrameDecode, ThreePassKeepsOnlyTheRowsEveryColourReached) {
  // lines -1 and a green pass that ends early: the rows without green would be uninitialised memory.
  Frames f;
  const auto red = Params(SANE_FRAME_RED, 8, 2, -1, 0, false);
  f.Add(red, Ramp(red, 5));
  f.Add(Params(SANE_FRAME_GREEN, 8, 2, -1, 0, false), Ramp(red, 3));
  f.Add(Params(SANE_FRAME_BLUE, 8, 2, -1, 0, true), Ramp(red, 5));
  Page page{f.Decode()};
  ASSERT_EQ(page.r.code, PX_TWN_OK) << page.r.error;
  EXPECT_EQ(page.r.page->height, 3);
  EXPECT_EQ(page.Row(2)[4], 32 + 1);  // second pixel's red, green and blue are byte 1 of line 2
  EXPECT_EQ(page.Row(2)[5], 32 + 1);
}

// Records what a row sink is given; can refuse the page or fail after some rows.
struct RowRecorder {
  int began = 0, ended = 0, endedRows = -1, endedOk = -1;
  int failAfter = -1;  // rows taken before `rows` fails
  int width = 0, bits = 0;
  std::vector<Bytes> rows;
  int take = 1;  // begin's answer

  static PxTwnRowSink Sink() {
    PxTwnRowSink sink{};
    sink.begin = [](void* self, int, int width, int, int bits, int) {
      auto* r = static_cast<RowRecorder*>(self);
      ++r->began;
      r->width = width;
      r->bits = bits;
      return r->take;
    };
    sink.rows = [](void* self, const uint8_t* rows, int count, int stride) {
      auto* r = static_cast<RowRecorder*>(self);
      for (int i = 0; i < count; ++i) {
        if (r->failAfter >= 0 && static_cast<int>(r->rows.size()) >= r->failAfter) return -1;
        const uint8_t* row = rows + static_cast<size_t>(i) * stride;
        r->rows.emplace_back(row, row + r->width * r->bits / 8);
      }
      return 1;
    };
    sink.end = [](void* self, int rows, int ok) {
      auto* r = static_cast<RowRecorder*>(self);
      ++r->ended;
      r->endedRows = rows;
      r->endedOk = ok;
      return 1;
    };
    return sink;
  }
};

pxtwain::PageResult Stream(const SANE_Parameters& p, const Bytes& bytes, RowRecorder& recorder,
                           size_t chunk) {
  const PxTwnRowSink sink = RowRecorder::Sink();
  return PageReader::StreamFrame({p, bytes.data(), bytes.size()}, sink, &recorder, chunk);
}

// Whatever the reads' sizes: each announced line once, without its padding, in order; lines beyond
// the announced count and a partial last line are not rows.
TEST(StreamFrame, LinesArriveWholeWhateverTheReads) {
  const auto p = Params(SANE_FRAME_RGB, 8, 5, 4, 3);  // 15 bytes of pixels and 3 of padding a line
  Bytes bytes = Ramp(p, 6);
  bytes.pop_back();
  for (size_t chunk : {size_t(1), size_t(7), size_t(18), size_t(40), size_t(1000)}) {
    RowRecorder r;
    const auto result = Stream(p, bytes, r, chunk);
    ASSERT_EQ(result.code, PX_TWN_OK) << chunk;
    ASSERT_EQ(r.rows.size(), 4u) << chunk;
    for (int y = 0; y < 4; ++y) {
      ASSERT_EQ(r.rows[y].size(), 15u);
      for (int i = 0; i < 15; ++i)
        ASSERT_EQ(r.rows[y][i], (y * 16 + i) & 255) << chunk << " " << y << " " << i;
    }
    EXPECT_EQ(r.endedRows, 4);
    EXPECT_EQ(r.endedOk, 1);
  }
  // Fewer lines than announced: the rows that came, and a partial line is not one.
  RowRecorder r;
  Bytes short_ = Ramp(p, 2);
  short_.resize(short_.size() + 5, 0);
  EXPECT_EQ(Stream(p, short_, r, 7).rows, 2);
  EXPECT_EQ(r.endedRows, 2);
  EXPECT_EQ(r.endedOk, 1);
}

TEST(StreamFrame, RefusedFramesAndFailingSinks) {
  // What a sink never takes: line art, 16 bits, a pass of three-pass colour, an unknown length.
  for (const auto& p : {Params(SANE_FRAME_GRAY, 1, 16, 4), Params(SANE_FRAME_GRAY, 16, 4, 4),
                        Params(SANE_FRAME_RED, 8, 4, 4, 0, false), Params(SANE_FRAME_GRAY, 8, 4, -1)}) {
    RowRecorder r;
    EXPECT_EQ(Stream(p, Ramp(p, 4), r, 64).code, PX_TWN_E_FORMAT);
    EXPECT_EQ(r.began, 0);
  }
  const auto p = Params(SANE_FRAME_GRAY, 8, 6, 5);
  {  // a sink that declines has the page whole instead: nothing more is asked of it
    RowRecorder r;
    r.take = 0;
    EXPECT_EQ(Stream(p, Ramp(p, 5), r, 64).code, PX_TWN_E_FORMAT);
    EXPECT_EQ(r.ended, 0);
  }
  {  // a sink that fails: the scan ends with a failure, and the sink is told to drop the page
    RowRecorder r;
    r.failAfter = 2;
    EXPECT_EQ(Stream(p, Ramp(p, 5), r, 6).code, PX_TWN_E_IO);
    EXPECT_EQ(r.ended, 1);
    EXPECT_EQ(r.endedOk, 0);
  }
  {  // no whole line at all
    RowRecorder r;
    EXPECT_EQ(Stream(p, Bytes(5, 1), r, 64).code, PX_TWN_E_NO_PAGE);
    EXPECT_EQ(r.endedOk, 0);
  }
}

}  // namespace
