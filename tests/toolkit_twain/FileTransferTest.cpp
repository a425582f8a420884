// File transfer: pages of SANE's test device going to files instead of the bitmap. A colour or grey
// JPEG page is written while it is scanned and must decode exactly like the same page saved whole;
// other types are saved whole; a batch names or appends its pages; a cancelled or failed page leaves
// no file behind. ImageMagick's identify is the independent reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFile.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "pxclass/PxTwain.h"
#include "tests/toolkit_twain/SaneTestBackend.h"

namespace {

namespace fs = std::filesystem;
using Options = std::map<std::string, std::string>;

twain_test::SaneTestBackend& Backend() {
  return twain_test::SharedBackend();
}

// Records what each page's callback saw; may name the next page's file.
class TransferTwain : public PxTwain {
 public:
  std::vector<std::string> files;
  int bitmapsAllocated = 0;
  std::string renameAfterSecond;
  bool cancelInStatus = false;
  std::string watched;  // a file looked for while the page is read
  bool watchedSeen = false;

  int AcquireCallBack() override {
    files.push_back(GetTransferredFile());
    if (GetBitmap() != nullptr && GetBitmap()->IsAllocated()) ++bitmapsAllocated;
    if (files.size() == 2 && !renameAfterSecond.empty())
      SetFileTransfer(renameAfterSecond.c_str(), PX_TYPE_JPEG, 100);
    return 1;
  }
  int StatusCallBack(int) override {
    if (!watched.empty() && std::filesystem::exists(watched)) watchedSeen = true;
    return cancelInStatus && watchedSeen ? 0 : 1;
  }
};

// The page saved whole from the bitmap, the way file transfer is compared against.
class SavingTwain : public PxTwain {
 public:
  std::string name;
  int saved = 0;
  int AcquireCallBack() override {
    PxSaveOptions options = PxSaveOptions::ForPage(1);
    saved = GetBitmap()->Save(name.c_str(), PX_TYPE_JPEG, 0, 100, 1, &options);
    GetBitmap()->Free();
    return 1;
  }
};

// "width height|" per image of the file, as ImageMagick reads it.
std::string Identify(const std::string& path) {
  std::string text;
  if (FILE* pipe = popen(("identify -format '%w %h|' '" + path + "' 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    pclose(pipe);
  }
  return text;
}

// The images' sizes, each within two pixels of w x h (the test device rounds its area); their count.
int ImagesNear(const std::string& path, int w, int h) {
  const std::string found = Identify(path);
  int count = 0;
  for (size_t at = 0; at < found.size();) {
    int iw = 0, ih = 0;
    if (std::sscanf(found.c_str() + at, "%d %d", &iw, &ih) != 2 || std::abs(iw - w) > 2 ||
        std::abs(ih - h) > 2)
      return -1;
    ++count;
    const size_t bar = found.find('|', at);
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  return count;
}

bool SamePixels(const std::string& a, const std::string& b) {
  PxBitmapBase x, y;
  if (x.Load(a.c_str(), 0, PX_COLOUR_ORDER_RGB, 1) != PX_OK ||
      y.Load(b.c_str(), 0, PX_COLOUR_ORDER_RGB, 1) != PX_OK)
    return false;
  const PxPage* p = x.Page();
  const PxPage* q = y.Page();
  if (p->width != q->width || p->height != q->height || p->bitsPerPixel != q->bitsPerPixel) return false;
  const size_t bytes = size_t(p->width) * size_t(p->bitsPerPixel / 8);
  for (int row = 0; row < p->height; ++row)
    if (std::memcmp(p->pixels + size_t(row) * p->stride, q->pixels + size_t(row) * q->stride, bytes) != 0)
      return false;
  return true;
}

class FileTransferTest : public ::testing::Test {
 protected:
  static constexpr int kWanted = PxBase::PX_KRN | PxBase::PX_FIL | PxBase::PX_TWN;
  void SetUp() override {
    ASSERT_EQ(PxBase::LoadLibraries(kWanted) & kWanted, kWanted) << PxBase::LastLoadError();
  }
  void TearDown() override { PxBase::UnloadLibraries(kWanted); }

  // Width and height in inches.
  static void Prepare(PxTwain& twain, int pixelType, int dpi, double width, double height,
                      int feeder = PX_TWN_SOURCE_FLATBED) {
    PxTwainProps props{};
    ASSERT_EQ(twain.GetProperties(&props), PX_OK);
    props.pixelType = pixelType;
    props.bitDepth = pixelType == PX_TWN_PIXEL_RGB ? 24 : pixelType == PX_TWN_PIXEL_GRAY ? 8 : 1;
    props.resolution = dpi;
    props.width = int(width * 1440);
    props.height = int(height * 1440);
    props.feederSource = feeder;
    ASSERT_EQ(twain.SetProperties(&props, 0x30), PX_OK) << twain.GetLastErrorText();
  }
  static std::string File(const std::string& name) { return (Backend().Dir() / name).string(); }
};

// Colour at 300 dpi over the page's width goes in two halves on two threads; the grey page's odd
// number of MCUs per row in one, its lines arriving in pieces of 1000 bytes. Both decode like the page
// saved whole.
TEST_F(FileTransferTest, AJpegPageIsWrittenWhileScannedAndDecodesLikeThePageSaved) {
  const struct {
    int pixelType, dpi;
    double width, height;
    const char* name;
    const char* readLimit;
  } cases[] = {{PX_TWN_PIXEL_RGB, 300, 8.5, 3, "colour", "false"},
               {PX_TWN_PIXEL_GRAY, 150, 3, 2, "grey", "true"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Backend().Configure(Options{
        {"test-picture", "\"Color pattern\""}, {"read-limit", c.readLimit}, {"read-limit-size", "1000"}});
    SavingTwain whole;
    PxBitmapBase bitmap;
    whole.SetBitmap(&bitmap);
    whole.EnableCallBack(1);
    whole.name = File(std::string(c.name) + "-whole.jpg");
    Prepare(whole, c.pixelType, c.dpi, c.width, c.height);
    ASSERT_EQ(whole.Acquire(4), 1) << whole.GetLastErrorText();
    whole.CloseSession();
    ASSERT_EQ(whole.saved, 1);

    TransferTwain streamed;
    PxBitmapBase unused;
    streamed.SetBitmap(&unused);
    streamed.EnableCallBack(1);
    const std::string name = File(std::string(c.name) + "-streamed.jpg");
    ASSERT_EQ(streamed.SetFileTransfer(name.c_str(), PX_TYPE_JPEG, 100), PX_OK);
    Prepare(streamed, c.pixelType, c.dpi, c.width, c.height);
    ASSERT_EQ(streamed.Acquire(4), 1) << streamed.GetLastErrorText();
    streamed.CloseSession();
    EXPECT_EQ(streamed.files, std::vector<std::string>{name});
    EXPECT_EQ(streamed.bitmapsAllocated, 0) << "the page went to the file, not the bitmap";
    EXPECT_TRUE(SamePixels(name, whole.name));
    EXPECT_EQ(ImagesNear(name, int(c.width * c.dpi), int(c.height * c.dpi)), 1);
  }
}

// A feeder batch of ten pages: JPEG pages get their own names (and the callback can name the next
// one), a multi-page type takes them all in one file, and line art is saved whole.
TEST_F(FileTransferTest, AFeederBatchNamesEachPageOrAppendsToOneFile) {
  Backend().Configure(Options{{"test-picture", "\"Color pattern\""}});
  {
    TransferTwain twain;
    twain.EnableCallBack(1);
    twain.renameAfterSecond = File("other.jpg");
    ASSERT_EQ(twain.SetFileTransfer(File("batch.jpg").c_str(), PX_TYPE_JPEG, 100), PX_OK);
    Prepare(twain, PX_TWN_PIXEL_RGB, 50, 2, 2, PX_TWN_SOURCE_FEEDER);
    ASSERT_EQ(twain.Acquire(4), 10) << twain.GetLastErrorText();
    twain.CloseSession();
    ASSERT_EQ(twain.files.size(), 10u);
    EXPECT_EQ(twain.files[0], File("batch.jpg"));
    EXPECT_EQ(twain.files[1], File("batch1.jpg"));
    EXPECT_EQ(twain.files[2], File("other.jpg"));
    EXPECT_EQ(twain.files[9], File("other7.jpg"));
    for (const std::string& file : twain.files) EXPECT_EQ(ImagesNear(file, 100, 100), 1) << file;
  }
  {
    TransferTwain twain;
    twain.EnableCallBack(1);
    const std::string tiff = File("batch.tif");
    ASSERT_EQ(twain.SetFileTransfer(tiff.c_str(), PX_TYPE_TIFF, 100), PX_OK);
    Prepare(twain, PX_TWN_PIXEL_GRAY, 50, 2, 1, PX_TWN_SOURCE_FEEDER);
    ASSERT_EQ(twain.Acquire(4), 10) << twain.GetLastErrorText();
    twain.CloseSession();
    EXPECT_EQ(twain.files, std::vector<std::string>(10, tiff));
    EXPECT_EQ(ImagesNear(tiff, 100, 50), 10);
  }
  {
    TransferTwain twain;
    const std::string art = File("art.jpg");
    ASSERT_EQ(twain.SetFileTransfer(art.c_str(), PX_TYPE_JPEG, 100), PX_OK);
    Prepare(twain, PX_TWN_PIXEL_BW, 100, 2, 1);
    ASSERT_EQ(twain.Acquire(4), 1) << twain.GetLastErrorText();
    twain.CloseSession();
    EXPECT_EQ(twain.GetTransferredFile(), art);
    EXPECT_EQ(ImagesNear(art, 200, 100), 1);
  }
}

TEST_F(FileTransferTest, ACancelledOrUnwritablePageLeavesNoFile) {
  Backend().Configure(Options{{"test-picture", "\"Color pattern\""},
                              {"read-limit", "true"},
                              {"read-limit-size", "4096"},
                              {"read-delay", "true"},
                              {"read-delay-duration", "20000"}});
  {
    TransferTwain twain;
    twain.EnableCallBack(1);
    twain.cancelInStatus = true;
    const std::string name = File("cancelled.jpg");
    twain.watched = name;  // the file is there while the page is read: it is written as it comes
    ASSERT_EQ(twain.SetFileTransfer(name.c_str(), PX_TYPE_JPEG, 100), PX_OK);
    Prepare(twain, PX_TWN_PIXEL_RGB, 100, 2, 2);
    EXPECT_EQ(twain.Acquire(2), PX_ERR_CANCELLED);
    twain.CloseSession();
    EXPECT_TRUE(twain.watchedSeen);
    EXPECT_TRUE(twain.files.empty());
    EXPECT_FALSE(fs::exists(name));
  }
  Backend().Configure(Options{{"test-picture", "\"Color pattern\""}});
  for (int type : {PX_TYPE_JPEG, PX_TYPE_TIFF}) {
    TransferTwain twain;
    twain.EnableCallBack(1);
    const std::string name = File("no/such/folder/page.x");
    ASSERT_EQ(twain.SetFileTransfer(name.c_str(), type, 100), PX_OK);
    Prepare(twain, PX_TWN_PIXEL_RGB, 100, 2, 2);
    EXPECT_LT(twain.Acquire(4), 0) << type;
    twain.CloseSession();
    EXPECT_TRUE(twain.files.empty()) << type;
    EXPECT_NE(twain.GetLastErrorText().find("page.x"), std::string::npos) << twain.GetLastErrorText();
  }
}

}  // namespace
