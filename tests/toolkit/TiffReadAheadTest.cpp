// The file library's TIFF read-ahead: pages read in order, each saved before the next is read, come
// back right (the next page was decoded on a second thread during the save), and any other order, or a file
// replaced between two reads, never hands out a page of the wrong file or the wrong number. Each page of a
// test file has its own width, so a wrong page shows.
#include <filesystem>

#include "ToolkitFixture.h"
#include "pxclass/PxSaveOptions.h"

namespace toolkit_test {
namespace {

class TiffReadAhead : public ToolkitTest {
 protected:
  // A TIFF whose page i is (base + i) pixels wide, of mixed depth.
  void MakeTiff(const std::string& name, int pages, int base) {
    for (int i = 1; i <= pages; ++i) {
      PxBitmapBase page;
      MakePage(page, base + i, 20, i % 3 == 0 ? 8 : 24);
      const PxSaveOptions options = PxSaveOptions::ForPage(i);
      ASSERT_EQ(page.Save(name.c_str(), PX_TYPE_TIFF_PACKED, 0, 100, 1, &options), PX_OK);
    }
  }
  int WidthOf(const std::string& name, int page) {
    PxBitmapBase bitmap;
    const int result = bitmap.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, page);
    if (result != PX_OK) return result;
    // Saving is what starts the read-ahead of the next page.
    EXPECT_EQ(bitmap.Save(Path("out.jpg").c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr), PX_OK);
    return bitmap.GetWidth();
  }
};

TEST_F(TiffReadAhead, EveryOrderGivesTheAskedPage) {
  const std::string name = Path("pages.tif");
  MakeTiff(name, 6, 40);
  const std::vector<std::vector<int>> orders = {
      {1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}, {1, 2, 5, 3, 4, 6}, {2, 3, 3, 4, 1, 2, 3}, {4, 5, 6, 1, 2}};
  for (const auto& order : orders)
    for (int page : order) EXPECT_EQ(WidthOf(name, page), 40 + page) << "page " << page;
  // In order past the end: the read-ahead of the page after the last one gives no phantom page.
  EXPECT_EQ(WidthOf(name, 5), 45);
  EXPECT_EQ(WidthOf(name, 6), 46);
  EXPECT_EQ(WidthOf(name, 7), PX_ERR_PAGE);
}

TEST_F(TiffReadAhead, ReplacedFileIsReadAfresh) {
  const std::string name = Path("pages.tif"), other = Path("other.tif"), copy = Path("copy.tif");
  MakeTiff(name, 4, 40);
  MakeTiff(other, 4, 80);
  fs::copy_file(name, copy);
  // Replaced by rename (a new file) after pages 1 and 2 started the read-ahead of page 3.
  EXPECT_EQ(WidthOf(name, 1), 41);
  EXPECT_EQ(WidthOf(name, 2), 42);
  fs::rename(other, name);
  EXPECT_EQ(WidthOf(name, 3), 83);
  EXPECT_EQ(WidthOf(name, 4), 84);
  // Rewritten in place (same inode, new size and time).
  EXPECT_EQ(WidthOf(copy, 1), 41);
  EXPECT_EQ(WidthOf(copy, 2), 42);
  fs::copy_file(name, copy, fs::copy_options::overwrite_existing);
  EXPECT_EQ(WidthOf(copy, 3), 83);
  // Deleted: no page from the read-ahead.
  EXPECT_EQ(WidthOf(copy, 4), 84);
  fs::remove(copy);
  EXPECT_LT(WidthOf(copy, 5), 0);
}

}  // namespace
}  // namespace toolkit_test
