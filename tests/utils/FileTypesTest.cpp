// The file type table against the built resource library: lookups both ways, the type combo box,
// quality ranges and multi-page types.
#include "UtilsFixture.h"
#include "platform/ui/ComboBox.h"

namespace utils_test {
namespace {

class FileTypesTest : public UtilsTest {
 protected:
  // Resource text by number, for expectations that must follow the library rather than restate it.
  static std::string Res(UINT id) {
    std::string text;
    EXPECT_TRUE(AfxLoadString(id, text)) << "string " << id;
    return text;
  }
};

TEST_F(FileTypesTest, TypeAndExtensionLookups) {
  ValueGetter vg("");
  struct Case {
    int nType;
    UINT nExt;
    int nBack;  // what the extension maps back to
  };
  const Case cases[] = {{10, 4, 10}, {17, 3, 17},    {3, 3, 17}, {6, 2, 6},
                        {2, 5, 2},   {146, 13, 146}, {75, 8, 75}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nType);
    const std::string ext = vg.ConvertTypeToExt(c.nType);
    EXPECT_EQ(ext, Res(c.nExt));
    EXPECT_FALSE(ext.empty());
    EXPECT_EQ(vg.ConvertExtToType(ext), c.nBack);
  }
  for (int unknown : {0, 99, 149, -1}) EXPECT_EQ(vg.ConvertTypeToExt(unknown), "") << unknown;
  // Case matters, and the dot is not part of an extension.
  const std::string jpg = Res(4);
  std::string upper = jpg;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, jpg);
  EXPECT_EQ(vg.ConvertExtToType(upper), 0);
  EXPECT_EQ(vg.ConvertExtToType("." + jpg), 0);
  EXPECT_EQ(vg.ConvertExtToType(""), 0);
  EXPECT_EQ(vg.ConvertExtToType("exe"), 0);
}

TEST_F(FileTypesTest, QualityLevels) {
  ValueGetter vg("");
  struct Case {
    int nQuality;
    int nType;
    int nExpected;
  };
  const Case cases[] = {
      {1, 10, 100},  {0, 10, 100},  {2, 10, 2},    {255, 10, 255},  {256, 10, 100},
      {-1, 10, 100}, {1, 146, 100}, {80, 146, 80}, {300, 146, 100}, {0, 75, 7},
      {1, 75, 1},    {9, 75, 9},    {10, 75, 7},   {-5, 75, 7},     {500, 6, 500},
      {-1, 3, -1},   {1, 17, 1},    {0, 99, 0},    {1, 149, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vg.CheckQualityLevel(c.nQuality, c.nType), c.nExpected)
        << c.nQuality << " for type " << c.nType;
}

TEST_F(FileTypesTest, MultiPageTypes) {
  ValueGetter vg("");
  for (int type : {3, 17, 146, 149, 150, 151, 152}) EXPECT_TRUE(vg.IsMultiPageSupported(type)) << type;
  for (int type : {10, 6, 2, 75, 0, 148, 153, -3}) EXPECT_FALSE(vg.IsMultiPageSupported(type)) << type;
}

TEST_F(FileTypesTest, ComboListsEveryTypeInTableOrder) {
  ValueGetter vg("");
  const int order[] = {10, 17, 3, 6, 2, 146, 75};
  const UINT descs[] = {18, 29, 17, 16, 19, 27, 22};
  struct Case {
    int nType;
    int nSelected;
  };
  // An unknown type selects the first entry.
  const Case cases[] = {{10, 0}, {17, 1}, {3, 2}, {6, 3}, {2, 4}, {146, 5}, {75, 6}, {99, 0}, {0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nType);
    CComboBox combo;
    EXPECT_TRUE(vg.LoadFileTypeControl(&combo, c.nType));
    ASSERT_EQ(combo.GetCount(), 7);
    for (int i = 0; i < 7; ++i) {
      std::string text;
      combo.GetLBText(i, text);
      EXPECT_EQ(text, Res(descs[i]));
      EXPECT_EQ(combo.GetItemData(i), static_cast<DWORD_PTR>(order[i]));
    }
    EXPECT_EQ(combo.GetCurSel(), c.nSelected);
  }
}

TEST_F(FileTypesTest, ComboSelectsWholeDescriptionNotAPrefix) {
  // A combo that already holds an entry whose text starts with a type's description: the selection
  // must still land on that type's own entry.
  ValueGetter vg("");
  CComboBox combo;
  combo.AddString(Res(17) + " (old)");
  combo.SetItemData(0, 0);
  vg.LoadFileTypeControl(&combo, 3);
  ASSERT_GE(combo.GetCurSel(), 0);
  EXPECT_EQ(combo.GetItemData(combo.GetCurSel()), 3u);
}

}  // namespace
}  // namespace utils_test
