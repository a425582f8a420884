// Whole runs of marlin3 on SANE's test backend with a private session bus: a scan started at the
// device's panel (task 13) ends with a notification naming its Quick Set and file, whose action opens
// the folder; a failed scan's notice carries the failure; every hide bit set means no notice.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"
#include "tests/notify/NotificationServer.h"

namespace {

namespace fs = std::filesystem;
using notify_test::NotificationServer;
using product_run::Has;
using product_run::Quote;
using product_run::ReadFile;
using product_run::RunResult;

class ScanNoticeTest : public product_run::ProductRun {
 protected:
  void SetUp() override {
    ProductRun::SetUp();
    notify_test::WriteOpenRecorder(m_dir / "bin", m_dir / "opened.txt");
    m_bus = std::make_unique<notify_test::PrivateBus>(m_dir / "bus");
    ASSERT_FALSE(m_bus->Address().empty());
  }
  void TearDown() override {
    m_bus.reset();
    ProductRun::TearDown();
  }
  RunResult Run(const std::vector<std::string>& args, const std::string& script = "",
                const std::string& env = "") {
    return RunMarlin(args, script,
                     env + " DBUS_SESSION_BUS_ADDRESS=" + Quote(m_bus->Address()) +
                         " PATH=" + Quote((m_dir / "bin").string()) + ":\"$PATH\"");
  }
  // A Quick Set value as the wizard stores it (a string under the main key).
  void SetQs(const std::string& qs, const std::string& name, const std::string& value) const {
    ASSERT_EQ(0, Shell(Bin("marlin3-reg") + " add " + Quote("HKCU\\SOFTWARE\\Nexora\\marlin3\\" + qs) +
                       " /v " + Quote(name) + " /d " + Quote(value) + " /f >/dev/null"));
  }
  std::unique_ptr<notify_test::PrivateBus> m_bus;
};

TEST_F(ScanNoticeTest, APanelScanEndsWithANoticeWhoseActionOpensItsFolder) {
  NotificationServer server(m_bus->Address(), NotificationServer::Answer::kInvoke);
  ASSERT_TRUE(server.Ready());
  ASSERT_EQ(Run({"/Task", "15"}).exitCode, 0);
  // Main dialog, file prompts and the scanner's dialog hidden: nobody at the computer.
  const std::string out = Out("").string();
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"Dest", "0"},
                                                        {"Type", "146"},
                                                        {"Dir", out},
                                                        {"OutFile", out + "Report"},
                                                        {"DevDest", "Panel"},
                                                        {"Res", "50"},
                                                        {"InX", "2880"},
                                                        {"InY", "2880"},
                                                        {"Hide", "4113"}})
    SetQs("Desk Scan", name, value);
  const RunResult run = Run({"/Task", "13", "/DevDest", "Panel"});
  EXPECT_EQ(run.exitCode, 0) << run.log << run.transcript;
  ASSERT_TRUE(fs::exists(Out("Report.pdf"))) << run.log;
  const auto calls = server.Calls();
  ASSERT_EQ(calls.size(), 1u) << run.log;
  EXPECT_EQ(calls[0].summary, "Scan with \"Desk Scan\" finished");
  EXPECT_TRUE(Has(calls[0].body, "Report.pdf")) << calls[0].body;
  EXPECT_TRUE(Has(calls[0].body, out)) << calls[0].body;
  EXPECT_EQ(calls[0].actions.size(), 4u);
  EXPECT_EQ(notify_test::WaitForText(m_dir / "opened.txt", 10000), out + "\n");
  EXPECT_TRUE(Has(run.log, "Notification: handed to marlin3-notify")) << run.log;
}

TEST_F(ScanNoticeTest, FailuresSayWhyAndEveryHideBitMeansNoNotice) {
  NotificationServer server(m_bus->Address(), NotificationServer::Answer::kNothing);
  ASSERT_TRUE(server.Ready());
  // Every hide bit set: no box and no notice, whatever happens.
  const std::vector<std::string> unattended = {"/Task", "3",    "/Hide", "286331153", "/Res",  "50",
                                               "/InX",  "2880", "/InY",  "2880",      "/Type", "146"};
  std::vector<std::string> args = unattended;
  args.insert(args.end(), {"/OutFile", Out("quiet.pdf").string()});
  RunResult run = Run(args);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(fs::exists(Out("quiet.pdf"))) << run.log;
  EXPECT_FALSE(Has(run.log, "Notification:")) << run.log;

  // The scanner is gone: the box and the notice both say which scanner and what to do.
  ASSERT_EQ(0, Shell(Bin("marlin3-product") + " direct --port 60000 --device test:9 >/dev/null"));
  run = Run({"/Task", "3", "/Hide", "4113", "/Type", "146", "/OutFile", Out("gone.pdf").string()},
            "msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  const auto calls = server.Calls();
  ASSERT_EQ(calls.size(), 1u) << run.log;
  EXPECT_EQ(calls[0].summary, "Scan with \"Save as TIFF\" failed");
  EXPECT_EQ(calls[0].icon, "dialog-error");
  EXPECT_TRUE(calls[0].actions.empty());
  EXPECT_TRUE(Has(calls[0].body, "switched on")) << calls[0].body;
  EXPECT_TRUE(Has(run.transcript, "switched on")) << run.transcript;

  // No mail program on a desktop of the test's own: the box and the notice say so and what to do.
  ASSERT_EQ(0, Shell(Bin("marlin3-product") + " direct --port 60000 --device test:0 >/dev/null"));
  fs::create_directories(m_dir / "xdg");
  fs::remove(m_dir / "bin" / "xdg-open");  // xdg-email would take the recorder for a mail program
  const std::string xdg = Quote((m_dir / "xdg").string());
  run = Run({"/Task", "3", "/Hide", "4113", "/Res", "50", "/InX", "2880", "/InY", "2880", "/Dest", "1",
             "/Type", "146"},
            "msgbox OK\n",
            "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CURRENT_DESKTOP -u MAILER HOME=" + xdg +
                " XDG_CONFIG_HOME=" + xdg + " XDG_DATA_HOME=" + xdg + " XDG_DATA_DIRS=" + xdg);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_TRUE(Has(run.log, "The mail provider says: xdg-email failed with status 3")) << run.log;
  EXPECT_TRUE(Has(run.transcript, "No mail program is set up on this computer")) << run.transcript;
  const auto more = server.Calls(2);
  ASSERT_EQ(more.size(), 2u);
  EXPECT_TRUE(Has(more[1].body, "No mail program is set up on this computer")) << more[1].body;
}

// The OCR Quick Set's application fails with nobody at its terminal: the notice says why.
TEST_F(ScanNoticeTest, OurOcrApplicationsFailureIsANotice) {
  NotificationServer server(m_bus->Address(), NotificationServer::Answer::kNothing);
  ASSERT_TRUE(server.Ready());
  std::ofstream(m_dir / "page.pgm") << "P5 1 1 255\n\xff";
  EXPECT_EQ(1, Shell("DBUS_SESSION_BUS_ADDRESS=" + Quote(m_bus->Address()) + " " + Bin("marlin3-ocr") +
                     " --languages zz_q " + Quote((m_dir / "page.pgm").string()) + " 2>/dev/null"));
  const auto calls = server.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].summary, "Scan with \"Scan to OCR\" failed");
  EXPECT_TRUE(Has(calls[0].body, "The text of the scanned pages cannot be recognised: ")) << calls[0].body;
  EXPECT_TRUE(Has(calls[0].body, "zz_q")) << calls[0].body;
}

}  // namespace
