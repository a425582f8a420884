// CQsWizard's frame without a host: locale defaults, the flags of a Quick Set without "Hide", the "Task"
// of a new Quick Set, and the page-order table, on a registry of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "settings/MyReg.h"
#include "ui/QsWizard.h"

namespace fs = std::filesystem;

namespace {

class QsWizardFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("m3qsframe-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
    ::setenv("MARLIN3_REGISTRY_DIR", m_dir.c_str(), 1);
    if (AfxGetResourceHandle() == nullptr) AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
  }
  void TearDown() override {
    CQsWizard::SetCountryCodeForTest(0);
    CQsWizard::SetScanToAvailableForTest(-1);
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  fs::path m_dir;
};

TEST_F(QsWizardFrameTest, LocaleGivesPaperAndUnits) {
  struct Case {
    int country, paper;
    bool metric;
  };
  for (const Case& c : {Case{1, 1, false}, Case{49, 6, true}, Case{599, 1, false}, Case{44, 6, true}}) {
    SCOPED_TRACE(c.country);
    CQsWizard::SetCountryCodeForTest(c.country);
    CQsWizard wizard(102, NewQs, "Locale " + std::to_string(c.country));
    EXPECT_EQ(wizard.m_nPaperSize, c.paper);
    EXPECT_EQ(wizard.m_bIsMetric, c.metric);
  }
}

TEST_F(QsWizardFrameTest, MissingHideGivesTheDefaultFlagsAndANewQuickSetGetsItsTask) {
  CQsWizard wizard(102, NewQs, "Hidden");
  EXPECT_FALSE(wizard.DontPromptForFilename);
  EXPECT_TRUE(wizard.ShowMailDialog);
  EXPECT_FALSE(wizard.UseScannerSettings);
  // The values go through the application's profile (none in this process); "Task" is a registry value.
  ASSERT_TRUE(wizard.SaveSettings());
  MyReg key;
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\marlin3\\Hidden", KEY_READ));
  DWORD task = 0;
  key.Query(task, "Task");
  EXPECT_EQ(task, 2u);
}

TEST_F(QsWizardFrameTest, PageOrder) {
  CQsWizard::SetScanToAvailableForTest(0);
  CQsWizard oneTime(102, OneTimeScan, "");
  oneTime.m_nType = PX_TYPE_JPEG;
  oneTime.m_nDest = 1;
  EXPECT_EQ(oneTime.GetNextPage(kPageEmail), IDD_PP_FILEATTRIB);
  EXPECT_EQ(oneTime.GetNextPage(kPageFileAttrib), IDD_PP_FINISH);
  EXPECT_EQ(oneTime.GetPreviousPage(kPageFinish), IDD_PP_EMAIL);  // not the quality page
  oneTime.m_nType = PX_TYPE_TIFF_PACKED;
  EXPECT_EQ(oneTime.GetNextPage(kPageEmail), IDD_PP_FINISH);
  EXPECT_EQ(oneTime.GetNextPage(42), 0);
  EXPECT_EQ(oneTime.GetPreviousPage(kPageSetup), 0);

  CQsWizard modify(102, ModifyQs, "Some");
  modify.m_nDest = 2;
  modify.m_nType = PX_TYPE_TIFF_PACKED;
  EXPECT_EQ(modify.GetNextPage(kPageApp), IDD_PP_FINISH);  // no scan-to: no save page
  EXPECT_EQ(modify.GetPreviousPage(kPageFinish), IDD_PP_APP);
  CQsWizard::SetScanToAvailableForTest(1);
  EXPECT_EQ(modify.GetNextPage(kPageApp), IDD_PP_SAVE);
  modify.UseScannerSettings = true;
  EXPECT_EQ(modify.GetNextPage(kPageDestination), IDD_PP_APP);
  EXPECT_EQ(modify.GetPreviousPage(kPageApp), IDD_PP_DESTINATION);

  CQsWizard review(102, Review, "");
  EXPECT_EQ(review.GetNextPage(kPageSetup), 0);
  review.m_nMode = DeviceDestinations;
  EXPECT_EQ(review.GetNextPage(kPageSetup), IDD_PP_FINISH);
}

}  // namespace
