// Shared set-up of the toolkit tests (see ToolkitFixture.h).
#include "ToolkitFixture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace toolkit_test {

void ToolkitTest::SetUpTestSuite() {
  ASSERT_EQ(PxBase::LoadLibraries(PxBase::PX_KRN | PxBase::PX_FIL) & PxBase::PX_FIL, PxBase::PX_FIL)
      << PxBase::LastLoadError();
}

void ToolkitTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "pxtk.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  m_dir = pattern;
}

void ToolkitTest::TearDown() {
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

void MakePage(PxBitmapBase& bitmap, int width, int height, int bpp, int xDpi, int yDpi) {
  PxPage* page = PxPageAlloc(width, height, bpp);
  ASSERT_NE(page, nullptr);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = PxPageRow(page, y);
    for (int x = 0; x < width; ++x) {
      const bool frame = x < 3 || y < 3 || x >= width - 3 || y >= height - 3;
      const bool diagonal = std::abs(x * height / width - y) < 2;
      if (bpp == 1) {
        const bool black = frame || diagonal || ((x / 8 + y / 8) % 5 == 0);
        if (black) row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
      } else if (bpp == 8) {
        row[x] = frame || diagonal ? 0 : uint8_t((x * 255) / width);
      } else {
        row[x * 3] = frame ? 0 : uint8_t((x * 255) / width);
        row[x * 3 + 1] = diagonal ? 0 : uint8_t((y * 255) / height);
        row[x * 3 + 2] = uint8_t(((x + y) * 255) / (width + height));
      }
    }
  }
  page->xDpi = xDpi;
  page->yDpi = yDpi;
  bitmap.AttachPage(page);
}

std::string Shell(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return output;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) output.append(buf, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

int MaxDifference(const PxBitmapBase& a, const PxBitmapBase& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() ||
      a.GetBitsPerPixel() != b.GetBitsPerPixel())
    return -1;
  int worst = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      const int p = a.GetPixel(y, x), q = b.GetPixel(y, x);
      for (int shift = 0; shift < 24; shift += 8) {
        const int d = std::abs(((p >> shift) & 255) - ((q >> shift) & 255));
        if (d > worst) worst = d;
      }
    }
  return worst;
}

double MeanDifference(const PxBitmapBase& a, const PxBitmapBase& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() ||
      a.GetBitsPerPixel() != b.GetBitsPerPixel())
    return -1;
  double total = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      const int p = a.GetPixel(y, x), q = b.GetPixel(y, x);
      for (int shift = 0; shift < 24; shift += 8)
        total += std::abs(((p >> shift) & 255) - ((q >> shift) & 255));
    }
  const int channels = a.GetBitsPerPixel() == 24 ? 3 : 1;
  return total / (double(a.GetWidth()) * a.GetHeight() * channels);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::vector<uint8_t> PageRgb(const PxPage* page) {
  std::vector<uint8_t> out;
  for (int y = 0; y < page->height; ++y) {
    const uint8_t* row = page->pixels + size_t(y) * size_t(page->stride);
    for (int x = 0; x < page->width; ++x) {
      if (page->bitsPerPixel == 24)
        out.insert(out.end(), {row[x * 3], row[x * 3 + 1], row[x * 3 + 2]});
      else if (page->bitsPerPixel == 8)
        out.insert(out.end(), 3, row[x]);
      else
        out.insert(out.end(), 3, (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
    }
  }
  return out;
}

std::vector<uint8_t> MagickRgb(const std::string& file) {
  const std::string raw = file + ".rgb";
  int status = -1;
  Shell("convert '" + file + "[0]' -depth 8 rgb:'" + raw + "'", &status);
  EXPECT_EQ(status, 0) << file;
  std::ifstream in(raw, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace toolkit_test
