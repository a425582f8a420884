// The file type table against the built resource library: lookups both ways, the type combo box,
// quality ranges and multi-page types.
#include "UtilsFixture.h"
#include "platform/ui/ComboBox.h"
#include "pxclass/PxFileTypes.h"

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

// The codes are stored in Quick Sets and sent to devices: a renumbered name would pass every other
// test here and break every stored setting.
static_assert(PX_TYPE_GIF == 2 && PX_TYPE_TIFF == 3 && PX_TYPE_BMP == 6 && PX_TYPE_JPEG == 10 &&
              PX_TYPE_TIFF_PACKED == 17 && PX_TYPE_PNG == 75 && PX_TYPE_PDF == 146 &&
              PX_TYPE_PDF_BILEVEL == 149 && PX_TYPE_PDF_GREY == 150 && PX_TYPE_PDF_LOSSLESS == 151 &&
              PX_TYPE_PDF_COLOUR == 152 && PX_RAW_FAX == 68);

TEST_F(FileTypesTest, TypeAndExtensionLookups) {
  ValueGetter vg("");
  struct Case {
    int nType;
    UINT nExt;
    int nBack;  // what the extension maps back to
  };
  const Case cases[] = {
      {PX_TYPE_JPEG, 4, PX_TYPE_JPEG},        {PX_TYPE_TIFF_PACKED, 3, PX_TYPE_TIFF_PACKED},
      {PX_TYPE_TIFF, 3, PX_TYPE_TIFF_PACKED}, {PX_TYPE_BMP, 2, PX_TYPE_BMP},
      {PX_TYPE_GIF, 5, PX_TYPE_GIF},          {PX_TYPE_PDF, 13, PX_TYPE_PDF},
      {PX_TYPE_PNG, 8, PX_TYPE_PNG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nType);
    const std::string ext = vg.ConvertTypeToExt(c.nType);
    EXPECT_EQ(ext, Res(c.nExt));
    EXPECT_FALSE(ext.empty());
    // The resource library's extension is the one the toolkit's files of that type carry.
    ASSERT_NE(PxFileTypeExtension(c.nType), nullptr);
    EXPECT_EQ(ext, PxFileTypeExtension(c.nType));
    EXPECT_EQ(vg.ConvertExtToType(ext), c.nBack);
  }
  for (int unknown : std::initializer_list<int>{PX_TYPE_UNKNOWN, 99, PX_TYPE_PDF_BILEVEL, -1})
    EXPECT_EQ(vg.ConvertTypeToExt(unknown), "") << unknown;
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
      {1, PX_TYPE_JPEG, 100},      {0, PX_TYPE_JPEG, 100},      {2, PX_TYPE_JPEG, 2},
      {255, PX_TYPE_JPEG, 255},    {256, PX_TYPE_JPEG, 100},    {-1, PX_TYPE_JPEG, 100},
      {1, PX_TYPE_PDF, 100},       {80, PX_TYPE_PDF, 80},       {300, PX_TYPE_PDF, 100},
      {0, PX_TYPE_PNG, 7},         {1, PX_TYPE_PNG, 1},         {9, PX_TYPE_PNG, 9},
      {10, PX_TYPE_PNG, 7},        {-5, PX_TYPE_PNG, 7},        {500, PX_TYPE_BMP, 500},
      {-1, PX_TYPE_TIFF, -1},      {1, PX_TYPE_TIFF_PACKED, 1}, {0, 99, 0},
      {1, PX_TYPE_PDF_BILEVEL, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vg.CheckQualityLevel(c.nQuality, c.nType), c.nExpected)
        << c.nQuality << " for type " << c.nType;
}

TEST_F(FileTypesTest, MultiPageTypes) {
  ValueGetter vg("");
  for (int type : {PX_TYPE_TIFF, PX_TYPE_TIFF_PACKED, PX_TYPE_PDF, PX_TYPE_PDF_BILEVEL, PX_TYPE_PDF_GREY,
                   PX_TYPE_PDF_LOSSLESS, PX_TYPE_PDF_COLOUR})
    EXPECT_TRUE(vg.IsMultiPageSupported(type)) << type;
  // 148 and 153 border the PDF variants; 68 is the raw fax format, which no file is saved as.
  for (int type : std::initializer_list<int>{PX_TYPE_JPEG, PX_TYPE_BMP, PX_TYPE_GIF, PX_TYPE_PNG,
                                             PX_TYPE_UNKNOWN, 148, 153, PX_RAW_FAX, -3})
    EXPECT_FALSE(vg.IsMultiPageSupported(type)) << type;
}

TEST_F(FileTypesTest, ComboListsEveryTypeInTableOrder) {
  ValueGetter vg("");
  const int order[] = {PX_TYPE_JPEG, PX_TYPE_TIFF_PACKED, PX_TYPE_TIFF, PX_TYPE_BMP,
                       PX_TYPE_GIF,  PX_TYPE_PDF,         PX_TYPE_PNG};
  const UINT descs[] = {18, 29, 17, 16, 19, 27, 22};
  struct Case {
    int nType;
    int nSelected;
  };
  // An unknown type selects the first entry.
  const Case cases[] = {{PX_TYPE_JPEG, 0},   {PX_TYPE_TIFF_PACKED, 1}, {PX_TYPE_TIFF, 2}, {PX_TYPE_BMP, 3},
                        {PX_TYPE_GIF, 4},    {PX_TYPE_PDF, 5},         {PX_TYPE_PNG, 6},  {99, 0},
                        {PX_TYPE_UNKNOWN, 0}};
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
  vg.LoadFileTypeControl(&combo, PX_TYPE_TIFF);
  ASSERT_GE(combo.GetCurSel(), 0);
  EXPECT_EQ(combo.GetItemData(combo.GetCurSel()), DWORD_PTR{PX_TYPE_TIFF});
}

}  // namespace
}  // namespace utils_test
