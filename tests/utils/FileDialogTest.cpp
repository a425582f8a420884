// ShowFileDialog through the scripted host: the three filter shapes, the filter the user leaves chosen
// deciding the type, the cancel path, and the save dialog removing the file whose overwrite the user
// confirmed (and nothing else).
#include "UtilsFixture.h"
#include "platform/ui/ScriptedHost.h"
#include "platform/ui/UiHost.h"
#include "pxclass/PxFileTypes.h"

namespace utils_test {
namespace {

class FileDialogTest : public ScriptedUtilsTest {
 protected:
  void SetUp() override {
    ScriptedUtilsTest::SetUp();
    m_folder = (m_dir / "out").string() + "/";
    fs::create_directories(m_folder);
  }
  // How the scripted host shows one filter: description, then its patterns in parentheses.
  static std::string Shown(UINT desc, const std::string& pattern) {
    std::string text;
    AfxLoadString(desc, text);
    return ScriptedHost::Quote(text + " (" + pattern + ")");
  }

  std::string m_folder;
};

TEST_F(FileDialogTest, TableFilterWithoutPdfAndChosenFilterDecidesType) {
  Script("file filter=6 scan\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_PNG;
  ASSERT_TRUE(
      vg.ShowFileDialog(FileDialogKind::kSave, name, type, folder, FileDialogFilter::kEveryTypeButPdf));
  const std::string filters = Shown(18, "*.jpg") + "," + Shown(29, "*.tif") + "," + Shown(17, "*.tif") + "," +
                              Shown(16, "*.bmp") + "," + Shown(19, "*.gif") + "," + Shown(22, "*.png");
  // PNG is the sixth filter once PDF is left out; it starts selected with its extension as default.
  EXPECT_NE(Transcript().find("filedialog save folder=" + ScriptedHost::Quote(m_folder) +
                              " name=\"\" filter=6 filters=" + filters + " answer=OK"),
            std::string::npos)
      << Transcript();
  EXPECT_EQ(name, "scan.png");
  EXPECT_EQ(folder, m_folder);
  EXPECT_EQ(type, PX_TYPE_PNG);
}

TEST_F(FileDialogTest, ChosenFilterMapsByDescriptionNotTablePosition) {
  struct Case {
    int nStart;
    FileDialogFilter offered;
    int nFilter;
    int nExpected;
  };
  constexpr FileDialogFilter kNoPdf = FileDialogFilter::kEveryTypeButPdf;
  constexpr FileDialogFilter kAll = FileDialogFilter::kEveryType;
  const Case cases[] = {
      {PX_TYPE_JPEG, kNoPdf, 6, PX_TYPE_PNG},  // without PDF the sixth filter is PNG, not the sixth entry
      {PX_TYPE_JPEG, kNoPdf, 2, PX_TYPE_TIFF_PACKED},
      {PX_TYPE_JPEG, kNoPdf, 3, PX_TYPE_TIFF},
      {PX_TYPE_BMP, kNoPdf, 1, PX_TYPE_JPEG},
      {PX_TYPE_PDF, kAll, 6, PX_TYPE_PDF},
      {PX_TYPE_PDF, kAll, 7, PX_TYPE_PNG},
      {PX_TYPE_JPEG, kAll, 4, PX_TYPE_BMP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nStart) + " filter " + std::to_string(c.nFilter));
    Script("file filter=" + std::to_string(c.nFilter) + " picked.x\n");
    ValueGetter vg("");
    std::string name;
    std::string folder = m_folder;
    int type = c.nStart;
    ASSERT_TRUE(vg.ShowFileDialog(FileDialogKind::kSave, name, type, folder, c.offered));
    EXPECT_EQ(type, c.nExpected);
    EXPECT_EQ(name, "picked.x");
  }
}

TEST_F(FileDialogTest, OnlyThisTypeOffersOneFilterAndKeepsSharedExtensionType) {
  Script("file page\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_TIFF;  // shares its extension with 17, which comes first in the table
  ASSERT_TRUE(vg.ShowFileDialog(FileDialogKind::kSave, name, type, folder, FileDialogFilter::kOnlyThisType));
  EXPECT_NE(Transcript().find("filter=1 filters=" + Shown(17, "*.tif") + " answer=OK"), std::string::npos)
      << Transcript();
  EXPECT_EQ(name, "page.tif");
  EXPECT_EQ(type, PX_TYPE_TIFF);
}

TEST_F(FileDialogTest, AllFilesLeavesTypeAlone) {
  Script("file notes.txt\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_PDF;
  ASSERT_TRUE(vg.ShowFileDialog(FileDialogKind::kOpen, name, type, folder, FileDialogFilter::kAllFiles));
  EXPECT_NE(Transcript().find("filedialog open folder=" + ScriptedHost::Quote(m_folder) +
                              " name=\"\" filter=1 filters=" + Shown(31, "*.*") +
                              " answer=OK path=" + ScriptedHost::Quote(m_folder + "notes.txt")),
            std::string::npos)
      << Transcript();
  EXPECT_EQ(name, "notes.txt");
  EXPECT_EQ(type, PX_TYPE_PDF);
}

TEST_F(FileDialogTest, CancelReportsFailureAndKeepsOutputs) {
  Script("file cancel\n");
  ValueGetter vg("");
  std::string name = "before";
  std::string folder = m_folder;
  int type = PX_TYPE_JPEG;
  EXPECT_FALSE(
      vg.ShowFileDialog(FileDialogKind::kSave, name, type, folder, FileDialogFilter::kEveryTypeButPdf));
  EXPECT_EQ(name, "before");
  EXPECT_EQ(folder, m_folder);
  EXPECT_EQ(type, PX_TYPE_JPEG);
  EXPECT_TRUE(Logged("FileDialogs.cpp", "ShowFileDialog", "File dialog not successful"));
}

TEST_F(FileDialogTest, PathOutsideStartFolderSplitsAtLastSlash) {
  fs::create_directories(m_dir / "other dir");
  const std::string chosen = (m_dir / "other dir").string() + "/my scan.jpg";
  Script("file \"" + chosen + "\"\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_JPEG;
  ASSERT_TRUE(
      vg.ShowFileDialog(FileDialogKind::kOpen, name, type, folder, FileDialogFilter::kEveryTypeButPdf));
  EXPECT_EQ(name, "my scan.jpg");
  EXPECT_EQ(folder, (m_dir / "other dir").string() + "/");
}

TEST_F(FileDialogTest, SaveDeletesNothingItConfirms) {
  const fs::path existing = fs::path(m_folder) / "old.jpg";
  const fs::path kept = fs::path(m_folder) / "keep.jpg";
  Touch(existing, "old scan");
  Touch(kept, "keep me");
  // First the user declines replacing keep.jpg, then confirms old.jpg.
  Script("file keep.jpg\nmsgbox NO\nfile old.jpg\nmsgbox YES\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_JPEG;
  ASSERT_TRUE(
      vg.ShowFileDialog(FileDialogKind::kSave, name, type, folder, FileDialogFilter::kEveryTypeButPdf));
  EXPECT_EQ(name, "old.jpg");
  // Whoever writes old.jpg renames the finished file over it; until then it is the user's as it was.
  EXPECT_EQ(ReadFile(existing), "old scan");
  EXPECT_EQ(ReadFile(kept), "keep me");
  EXPECT_EQ(Log().find("Deleted"), std::string::npos);
}

TEST_F(FileDialogTest, OpenNeverDeletes) {
  const fs::path existing = fs::path(m_folder) / "in.jpg";
  Touch(existing, "input");
  Script("file in.jpg\n");
  ValueGetter vg("");
  std::string name;
  std::string folder = m_folder;
  int type = PX_TYPE_UNKNOWN;  // nothing preselected
  ASSERT_TRUE(
      vg.ShowFileDialog(FileDialogKind::kOpen, name, type, folder, FileDialogFilter::kEveryTypeButPdf));
  EXPECT_EQ(ReadFile(existing), "input");
  EXPECT_EQ(type, PX_TYPE_JPEG);  // the first filter stays chosen
  EXPECT_EQ(Log().find("Deleted"), std::string::npos);
}

}  // namespace
}  // namespace utils_test
