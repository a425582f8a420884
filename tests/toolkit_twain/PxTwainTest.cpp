// PxTwain as an application uses it: the TWAIN library loaded by PxBase::LoadLibraries, callbacks
// per source and per page, the acquire flags with the scanner's dialog, Select, cancel through the
// status callback, and a missing library. The windows are a recording stand-in (TestUi) except in the
// last tests, which drive the ui layer's real dialogs and progress window on the scripted host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/ScriptedHost.h"
#include "platform/ui/UiHost.h"
#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "pxclass/PxTwain.h"
#include "pxclass/PxTwainDialogs.h"
#include "tests/toolkit_twain/SaneTestBackend.h"
#include "toolkit/twain/SourceTable.h"

namespace {

using Options = std::map<std::string, std::string>;

twain_test::SaneTestBackend& Backend() {
  return twain_test::SharedBackend();
}

// Stand-in for the windows: answers the scanner's dialog with a prepared change, records the rest.
class TestUi : public PxTwainUi {
 public:
  int dialogAnswer = 1;
  int pixelType = PX_TWN_PIXEL_GRAY;
  int resolution = 50;
  PxTwnDeviceOptions seen{};
  std::string chooseName;
  int opened = 0, closed = 0;

  int SourceDialog(const std::string&, const PxTwnDeviceOptions& options, PxTwainProps& props,
                   const Preview& preview) override {
    seen = options;
    if (dialogAnswer == 1) {
      props.pixelType = pixelType;
      props.resolution = resolution;
      props.width = 1440;
      props.height = 1440;
    }
    return dialogAnswer;
  }
  int ChooseSource(const std::vector<std::string>& names, std::string& chosen) override {
    if (chooseName.empty()) return 0;
    chosen = chooseName;
    return 1;
  }
  void ProgressOpen() override { ++opened; }
  bool Progress(int, int) override { return true; }
  void ProgressClose() override { ++closed; }
};

class TestTwain : public PxTwain {
 public:
  std::vector<std::string> sources;
  std::vector<std::pair<int, int>> pages;  // width, bits per pixel
  int stopAfter = 0;
  int statusCalls = 0;
  bool cancelInStatus = false;

  int EnumSourcesCallBack(const char* name) override {
    sources.emplace_back(name);
    return 1;
  }
  int AcquireCallBack() override {
    PxBitmapBase* bitmap = GetBitmap();
    pages.emplace_back(bitmap->GetWidth(), bitmap->GetBitsPerPixel());
    bitmap->Free();
    return stopAfter > 0 && static_cast<int>(pages.size()) >= stopAfter ? 0 : 1;
  }
  int StatusCallBack(int) override {
    ++statusCalls;
    return cancelInStatus ? 0 : 1;
  }
};

class PxTwainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PxBase::LoadLibraries(PxBase::PX_TWN) & PxBase::PX_TWN) << PxBase::LastLoadError();
    m_twain.SetUi(&m_ui);
    m_twain.SetBitmap(&m_bitmap);
    m_twain.EnableCallBack(1);
  }
  void TearDown() override {
    m_twain.CloseSession();
    PxBase::UnloadLibraries(PxBase::PX_TWN);
  }
  // The first source, colour, 100 dpi, one inch square, from the glass or the feeder.
  void Prepare(int feeder = PX_TWN_SOURCE_FLATBED) {
    PxTwainProps props{};
    ASSERT_EQ(m_twain.GetProperties(&props), PX_OK);
    std::strcpy(props.manufacturer, "Nexora Co.");
    props.pixelType = PX_TWN_PIXEL_RGB;
    props.bitDepth = 24;
    props.resolution = 100;
    props.width = props.height = 1440;
    props.feederSource = feeder;
    ASSERT_EQ(m_twain.SetProperties(&props, 0x30), PX_OK) << m_twain.GetLastErrorText();
  }

  TestUi m_ui;
  TestTwain m_twain;
  PxBitmapBase m_bitmap;
};

TEST_F(PxTwainTest, EnumeratesAndAcquiresWithoutWindows) {
  Backend().Configure();
  EXPECT_EQ(m_twain.IsAvailable(), 1);
  EXPECT_EQ(m_twain.EnumSources(), PX_OK);
  EXPECT_EQ(m_twain.sources,
            (std::vector<std::string>{"Noname frontend-tester", "Noname frontend-tester #2"}));
  Prepare();
  EXPECT_EQ(m_twain.Acquire(4), 1);
  ASSERT_EQ(m_twain.pages.size(), 1u);
  EXPECT_NEAR(m_twain.pages[0].first, 100, 2);
  EXPECT_EQ(m_twain.pages[0].second, 24);
  EXPECT_EQ(m_ui.opened, 0);
}

TEST_F(PxTwainTest, TheRegistrysSourceTableComesFirst) {
  Backend().Configure();
  ASSERT_EQ(pxtwain::SourceTable::Write({"NX Pressline TWAIN", "test:1"}), pxtwain::TableResult::kOk);
  // A name too long for the record is not a source.
  test_common::SetString(HKEY_LOCAL_MACHINE, pxtwain::kSourceTableKey, std::string(40, 'N'), "test:0");
  EXPECT_EQ(m_twain.EnumSources(), PX_OK);
  EXPECT_EQ(m_twain.sources, (std::vector<std::string>{"NX Pressline TWAIN", "Noname frontend-tester"}));
  PxTwainProps props{};
  ASSERT_EQ(m_twain.GetProperties(&props), PX_OK);
  std::strcpy(props.sourceName, "NX Pressline TWAIN");
  ASSERT_EQ(m_twain.SetProperties(&props, 0x10), PX_OK);
  ASSERT_EQ(m_twain.GetProperties(&props), PX_OK);
  EXPECT_STREQ(props.saneDevice, "test:1");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, pxtwain::kSourceTableKey);
}

TEST_F(PxTwainTest, AFeederBatchCallsBackOncePerPage) {
  Backend().Configure();
  Prepare(PX_TWN_SOURCE_FEEDER);
  EXPECT_EQ(m_twain.Acquire(2), 10);
  EXPECT_EQ(m_twain.pages.size(), 10u);
  EXPECT_EQ(m_ui.opened, 1);
  EXPECT_EQ(m_ui.closed, 1);
  m_twain.pages.clear();
  m_twain.stopAfter = 4;
  EXPECT_EQ(m_twain.Acquire(4), 4);
}

TEST_F(PxTwainTest, WithoutCallbacksThePageStaysInTheBitmap) {
  Backend().Configure();
  Prepare();
  m_twain.EnableCallBack(0);
  EXPECT_EQ(m_twain.Acquire(4), 1);
  EXPECT_TRUE(m_twain.pages.empty());
  EXPECT_TRUE(m_bitmap.IsAllocated());
  EXPECT_EQ(m_bitmap.GetBitsPerPixel(), 24);
}

TEST_F(PxTwainTest, TheScannerDialogSetsThePageOrCancels) {
  Backend().Configure();
  Prepare();
  EXPECT_EQ(m_twain.Acquire(1), 1);
  ASSERT_EQ(m_twain.pages.size(), 1u);
  EXPECT_NEAR(m_twain.pages[0].first, 50, 2);  // what the dialog chose
  EXPECT_EQ(m_twain.pages[0].second, 8);
  EXPECT_EQ(m_ui.seen.pixelTypes, 7);
  m_ui.dialogAnswer = 0;
  EXPECT_EQ(m_twain.Acquire(3), PX_ERR_CANCELLED);
  EXPECT_EQ(m_twain.pages.size(), 1u);
}

TEST_F(PxTwainTest, CancelThroughTheStatusCallbackGivesTheCancelResult) {
  Backend().Configure(Options{{"read-limit", "true"},
                              {"read-limit-size", "1"},
                              {"read-delay", "true"},
                              {"read-delay-duration", "200000"}});
  Prepare();
  m_twain.cancelInStatus = true;
  EXPECT_EQ(m_twain.Acquire(2), PX_ERR_CANCELLED);
  EXPECT_GE(m_twain.statusCalls, 1);
  EXPECT_TRUE(m_twain.pages.empty());
}

TEST_F(PxTwainTest, SelectTakesTheChosenSource) {
  Backend().Configure();
  m_ui.chooseName = "Noname frontend-tester #2";
  EXPECT_EQ(m_twain.Select(), PX_OK);
  PxTwainProps props{};
  ASSERT_EQ(m_twain.GetProperties(&props), PX_OK);
  EXPECT_STREQ(props.sourceName, "Noname frontend-tester #2");
  EXPECT_STREQ(props.saneDevice, "test:1");
  m_ui.chooseName.clear();
  EXPECT_EQ(m_twain.Select(), PX_ERR_CANCELLED);
}

TEST_F(PxTwainTest, BadFlagsAndAMissingBitmapAreRefused) {
  Backend().Configure();
  EXPECT_EQ(m_twain.Acquire(0), PX_TWN_E_ARGUMENT);
  EXPECT_EQ(m_twain.Acquire(5), PX_TWN_E_ARGUMENT);
  m_twain.SetBitmap(nullptr);
  EXPECT_EQ(m_twain.Acquire(4), PX_ERR_NO_BITMAP);
}

// The docs' few lines: a page from the test device saved as each file type, read back by ImageMagick.
class ScanToFile : public PxTwain {
 public:
  int type = PX_TYPE_JPEG;
  std::string name;
  int saved = 0;
  int AcquireCallBack() override {
    PxSaveOptions options = PxSaveOptions::ForPage(1);
    saved = GetBitmap()->Save(name.c_str(), type, 0, 100, 1, &options);
    GetBitmap()->Free();
    return 1;
  }
};

// "width height" of the image in the file: ImageMagick's identify, or poppler's pdfimages for a PDF.
std::string Identify(const std::string& path) {
  const bool pdf = path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0;
  const std::string command = pdf ? "pdfimages -list '" + path + "' 2>/dev/null | awk 'NR==3 {print $4, $5}'"
                                  : "identify -format '%w %h|' '" + path + "' 2>/dev/null";
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    pclose(pipe);
  }
  return text;
}

TEST(PxTwainScanToFile, EveryFileTypeFromTheTestDevice) {
  const int wanted = PxBase::PX_KRN | PxBase::PX_FIL | PxBase::PX_TWN;
  if ((PxBase::LoadLibraries(wanted) & wanted) != wanted) GTEST_SKIP() << PxBase::LastLoadError();
  Backend().Configure(Options{{"test-picture", "\"Color pattern\""}});
  const struct {
    int type;
    const char* extension;
    int pixelType;
  } cases[] = {{PX_TYPE_JPEG, "jpg", PX_TWN_PIXEL_RGB},       {PX_TYPE_TIFF, "tif", PX_TWN_PIXEL_GRAY},
               {PX_TYPE_TIFF_PACKED, "tif", PX_TWN_PIXEL_BW}, {PX_TYPE_BMP, "bmp", PX_TWN_PIXEL_RGB},
               {PX_TYPE_GIF, "gif", PX_TWN_PIXEL_RGB},        {PX_TYPE_PNG, "png", PX_TWN_PIXEL_GRAY},
               {PX_TYPE_PDF, "pdf", PX_TWN_PIXEL_RGB}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ScanToFile twain;
    PxBitmapBase bitmap;
    twain.SetBitmap(&bitmap);
    twain.EnableCallBack(1);
    twain.type = c.type;
    twain.name = (Backend().Dir() / ("scan." + std::string(c.extension))).string();
    PxTwainProps props{};
    ASSERT_EQ(twain.GetProperties(&props), PX_OK);
    props.pixelType = c.pixelType;
    props.resolution = 100;
    props.width = 1440 * 2;
    props.height = 1440;
    ASSERT_EQ(twain.SetProperties(&props, 0x30), PX_OK);
    ASSERT_EQ(twain.Acquire(4), 1) << twain.GetLastErrorText();
    twain.CloseSession();
    EXPECT_EQ(twain.saved, 1);
    const std::string found = Identify(twain.name);
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(found.c_str(), "%d %d", &w, &h), 2) << found;
    EXPECT_NEAR(w, 200, 2);
    EXPECT_NEAR(h, 100, 2);
  }
  PxBase::UnloadLibraries(wanted);
}

TEST(PxTwainWithoutLibrary, EveryCallFailsCleanly) {
  PxBase::UnloadLibraries(PxBase::PX_TWN);
  // A library that cannot load (an empty file in its place) is a failed load, not a crash.
  const auto dir = Backend().Dir() / "hidden";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "libpxtwain.so") << "";
  setenv("MARLIN3_MODULE_DIR", dir.c_str(), 1);
  EXPECT_EQ(PxBase::LoadLibraries(PxBase::PX_TWN) & PxBase::PX_TWN, 0);
  unsetenv("MARLIN3_MODULE_DIR");
  PxTwain twain;
  PxBitmapBase bitmap;
  twain.SetBitmap(&bitmap);
  PxTwainProps props{};
  EXPECT_EQ(twain.IsAvailable(), 0);
  EXPECT_EQ(twain.EnumSources(), PX_ERR_NO_LIBRARY);
  EXPECT_EQ(twain.GetProperties(&props), PX_ERR_NO_LIBRARY);
  EXPECT_EQ(twain.Acquire(4), PX_ERR_NO_LIBRARY);
  EXPECT_EQ(twain.CloseSession(), PX_OK);
}

TEST(PxTwainDialogs, TheRealDialogsOnTheScriptedHost) {
  Backend().Configure(Options{{"test-picture", "Grid"}});
  ASSERT_TRUE(PxBase::LoadLibraries(PxBase::PX_TWN) & PxBase::PX_TWN);
  const auto script = Backend().Dir() / "script.txt";
  const auto transcript = Backend().Dir() / "transcript.txt";
  std::ofstream(script) << "dialog 161\nselect 1612 Noname frontend-tester #2\nok\n"
                           "dialog 160\nselect 1601 Grey\nselect 1602 75\ntype 1606 30\ntype 1607 20\n"
                           "click 1610\nshow\nok\n";
  ScriptedHost host(script.string(), transcript.string());
  platform::ui::SetHostForTesting(&host);
  {
    TestTwain twain;
    PxBitmapBase bitmap;
    twain.SetBitmap(&bitmap);
    twain.EnableCallBack(1);
    EXPECT_EQ(twain.Select(), PX_OK);
    EXPECT_EQ(twain.Acquire(1), 1);
    ASSERT_EQ(twain.pages.size(), 1u);
    // The preview found the grid over the whole glass and put that area in place of the typed one.
    EXPECT_EQ(twain.pages[0].second, 8);
    EXPECT_NEAR(twain.pages[0].first, 300 / 25.4 * 75, 2);
    twain.CloseSession();
  }
  platform::ui::SetHostForTesting(nullptr);
  const std::string text = test_common::ReadFile(transcript);
  EXPECT_NE(text.find("end dialog 161 result=1"), std::string::npos) << text;
  EXPECT_NE(text.find("end dialog 160 result=1"), std::string::npos) << text;
  EXPECT_NE(text.find("1611 static text=\"The area now holds what the preview found.\""), std::string::npos);
  PxBase::UnloadLibraries(PxBase::PX_TWN);
}

// The real progress window on the scripted host, over a slow feeder: the test backend waits 200 ms
// before each 64 KiB it sends, so a colour page of two inches at 100 dpi (120000 bytes) takes 0.4 s.
class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Backend().Configure(Options{{"read-delay", "true"}, {"read-delay-duration", "200000"}});
    ASSERT_TRUE(PxBase::LoadLibraries(PxBase::PX_TWN) & PxBase::PX_TWN);
    std::filesystem::remove(m_transcript);
    m_twain.SetBitmap(&m_bitmap);
    m_twain.EnableCallBack(1);
  }
  void TearDown() override {
    m_twain.CloseSession();
    PxBase::UnloadLibraries(PxBase::PX_TWN);
  }
  int Acquire(int flags, const std::string& script) {
    std::ofstream(m_script) << script;
    ScriptedHost host(m_script.string(), m_transcript.string());
    platform::ui::SetHostForTesting(&host);
    PxTwainProps props{};
    EXPECT_EQ(m_twain.GetProperties(&props), PX_OK);
    props.pixelType = PX_TWN_PIXEL_RGB;
    props.bitDepth = 24;
    props.resolution = 100;
    props.width = props.height = 2880;
    props.feederSource = PX_TWN_SOURCE_FEEDER;
    EXPECT_EQ(m_twain.SetProperties(&props, 0x30), PX_OK);
    const int result = m_twain.Acquire(flags);
    platform::ui::SetHostForTesting(nullptr);
    return result;
  }
  std::string Transcript() const { return test_common::ReadFile(m_transcript); }

  const std::filesystem::path m_script = Backend().Dir() / "progress-script.txt";
  const std::filesystem::path m_transcript = Backend().Dir() / "progress-transcript.txt";
  TestTwain m_twain;
  PxBitmapBase m_bitmap;
};

TEST_F(ProgressWindowTest, CancelDuringPageTwoKeepsPageOneAndDeliversNoPageTwo) {
  const int result = Acquire(2, "modeless 162\nwaitfor 1621 \"page 2\"\nshow\nclick 2\n");
  const std::string text = Transcript();
  EXPECT_EQ(result, PX_TWN_E_CANCELLED) << text;
  ASSERT_EQ(m_twain.pages.size(), 1u);  // page 1 whole, nothing of page 2
  EXPECT_NEAR(m_twain.pages[0].first, 200, 2);
  EXPECT_EQ(text.rfind("modeless 162 hidden caption=\"Scanning\"", 0), 0u) << text;
  EXPECT_NE(text.find("  1621 static text=\"Scanning page 1...\""), std::string::npos) << text;
  // The state the script asked for while page 2 was read: its number, part of the bar, Cancel enabled.
  const auto state = text.find("state 162");
  ASSERT_NE(state, std::string::npos) << text;
  EXPECT_NE(text.find("  1621 static text=\"Scanning page 2...\"", state), std::string::npos) << text;
  EXPECT_NE(text.find("  1622 progress range=0..100 pos=", state), std::string::npos) << text;
  EXPECT_NE(text.find("  2 defbutton text=\"Cancel\"", state), std::string::npos) << text;
  EXPECT_NE(text.find("> click 2\nend modeless 162\n"), std::string::npos) << text;
  // The scan was cancelled at the device: the next acquisition starts at once.
  m_twain.pages.clear();
  m_twain.stopAfter = 1;
  EXPECT_EQ(Acquire(4, ""), 1);
}

TEST_F(ProgressWindowTest, FlagsFourShowNoWindowAndTheWindowNeedsNoScriptLines) {
  m_twain.stopAfter = 2;
  EXPECT_EQ(Acquire(4, ""), 2);
  EXPECT_EQ(Transcript(), "");
  m_twain.pages.clear();
  m_twain.stopAfter = 1;
  EXPECT_EQ(Acquire(2, ""), 1);
  const std::string text = Transcript();
  EXPECT_EQ(text.rfind("modeless 162 hidden", 0), 0u) << text;
  EXPECT_NE(text.find("end modeless 162\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("cursor wait"), std::string::npos) << text;
}

}  // namespace
