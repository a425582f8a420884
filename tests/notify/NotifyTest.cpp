// The notification layer and its helper on a private session bus: what Notify carries, the folder
// opened (through a recorder standing in for xdg-open) only when this notification's action comes, a
// server without actions or without a server at all, bytes that are not UTF-8, and no bus.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/notify/Notify.h"
#include "tests/common/ProductRun.h"
#include "tests/notify/NotificationServer.h"

namespace {

namespace fs = std::filesystem;
using notify_test::NotificationServer;
using product_run::Quote;

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/m3notify.XXXXXX";
    m_dir = mkdtemp(pattern);
    notify_test::WriteOpenRecorder(m_dir / "bin", m_dir / "opened.txt");
    m_bus = std::make_unique<notify_test::PrivateBus>(m_dir / "bus");
    ASSERT_FALSE(m_bus->Address().empty());
  }
  void TearDown() override {
    m_bus.reset();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  // The helper with these arguments; its exit code.
  int Helper(const std::vector<std::string>& args) const {
    std::string command = "DBUS_SESSION_BUS_ADDRESS=" + Quote(m_bus->Address()) +
                          " PATH=" + Quote((m_dir / "bin").string()) + ":\"$PATH\" timeout 30 " +
                          std::string(MARLIN3_BIN_DIR) + "/marlin3-notify";
    for (const std::string& a : args) command += " " + Quote(a);
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  fs::path m_dir;
  std::unique_ptr<notify_test::PrivateBus> m_bus;
};

TEST_F(NotifyTest, TheActionOpensTheFolderAndNothingElseDoes) {
  const std::string folder = (m_dir / "my scans").string() + "/";
  {
    NotificationServer server(m_bus->Address(), NotificationServer::Answer::kInvoke);
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(
        Helper({"Scan done", "Your scan was saved as:\nA&B <1>.pdf", "document-save", "Open Folder", folder}),
        0);
    const auto calls = server.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].app, "marlin3");
    EXPECT_EQ(calls[0].summary, "Scan done");
    // The server reads markup: the file name stays text.
    EXPECT_EQ(calls[0].body, "Your scan was saved as:\nA&amp;B &lt;1&gt;.pdf");
    EXPECT_EQ(calls[0].icon, "document-save");
    EXPECT_EQ(calls[0].actions, (std::vector<std::string>{"default", "Open Folder", "open", "Open Folder"}));
    EXPECT_EQ(calls[0].expire, -1);
    // The folder is one argument, blanks and all; the other notification's signal opened nothing.
    EXPECT_EQ(notify_test::WaitForText(m_dir / "opened.txt", 5000), folder + "\n");
  }
  fs::remove(m_dir / "opened.txt");
  {
    // Closed by the user: the helper ends and opens nothing.
    NotificationServer server(m_bus->Address(), NotificationServer::Answer::kClose);
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(Helper({"S", "B", "", "Open Folder", folder}), 0);
    EXPECT_EQ(server.Calls().size(), 1u);
  }
  {
    // A server without actions gets none, and nobody waits for one.
    NotificationServer server(m_bus->Address(), NotificationServer::Answer::kNothing, false);
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(Helper({"S", "B", "", "Open Folder", folder}), 0);
    const auto calls = server.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].actions.empty());
  }
  usleep(200000);
  EXPECT_FALSE(fs::exists(m_dir / "opened.txt"));
}

TEST_F(NotifyTest, TextThatIsNotUtf8ArrivesRepairedInsteadOfAbortingTheHelper) {
  NotificationServer server(m_bus->Address(), NotificationServer::Answer::kNothing, false);
  ASSERT_TRUE(server.Ready());
  EXPECT_EQ(Helper({"bad \xC3( \xED\xA0\x80 end",
                    "a\x01"
                    "b",
                    ""}),
            0);
  const auto calls = server.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].summary, "bad \xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end");
  EXPECT_EQ(calls[0].body, "a b");
}

TEST_F(NotifyTest, WithoutAServerOrABusNothingIsShownAndNothingWaits) {
  // A bus without a notification server: the helper fails, named in its exit code.
  EXPECT_EQ(Helper({"S", "B", "", "Open Folder", "/tmp/"}), 1);
  EXPECT_EQ(Helper({"too few"}), 2);

  std::string detail;
  platform::notify::Notification notice{"S", "B", "", "", ""};
  EXPECT_EQ(platform::notify::SendAndWait(notice, "unix:path=" + (m_dir / "none").string(), 1000, detail),
            platform::notify::SendResult::kNoBus);
  EXPECT_FALSE(detail.empty());

  // No address and no user bus socket: Show starts nothing.
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string old = saved != nullptr ? saved : "";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  EXPECT_EQ(platform::notify::SessionBusAddress(), "");
  EXPECT_EQ(platform::notify::Show(notice), platform::notify::ShowResult::kNoSessionBus);
  if (saved != nullptr) setenv("DBUS_SESSION_BUS_ADDRESS", old.c_str(), 1);
}

}  // namespace
