// marlin3-mail against the scratch home: create, check and send-test through a loopback server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/mail/MailTestEnv.h"

using namespace mailtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string Tool(const std::vector<std::string>& args, int* exitCode) {
  std::vector<std::string> all = {std::string(MARLIN3_BIN_DIR) + "/marlin3-mail"};
  all.insert(all.end(), args.begin(), args.end());
  int status = 0;
  const std::string out = RunCapture(all, &status);
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(MailToolTest, CreateCheckAndSendTest) {
  TheScratch();
  RemoveProfile();
  std::error_code ec;
  fs::remove_all(StoreRoot(), ec);
  int code = 0;
  EXPECT_THAT(Tool({"check"}, &code), HasSubstr("no mail profile"));
  EXPECT_EQ(code, 1);
  SmtpServer server;
  const fs::path password = TheScratch().root / "tool-password";
  WriteAll(password, "tool-secret\n", 0644);
  const std::vector<std::string> create = {"create",
                                           "--name",
                                           "Scan Desk",
                                           "--address",
                                           "scanner@example.org",
                                           "--host",
                                           "127.0.0.1",
                                           "--port",
                                           std::to_string(server.Port()),
                                           "--security",
                                           "none",
                                           "--store",
                                           StoreRoot().string(),
                                           "--timeout",
                                           "2"};
  EXPECT_THAT(Tool(create, &code), HasSubstr("created"));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(fs::status(ProfilePath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  Tool(create, &code);
  EXPECT_EQ(code, 1);  // exists: not replaced without --force
  // A remote server without security is refused and the old profile stays.
  std::vector<std::string> insecure = create;
  insecure[6] = "mail.example.org";
  insecure.push_back("--force");
  Tool(insecure, &code);
  EXPECT_EQ(code, 1);
  EXPECT_THAT(ReadAll(ProfilePath()), HasSubstr("host = 127.0.0.1"));
  const std::string checked = Tool({"check"}, &code);
  EXPECT_EQ(code, 0) << checked;
  EXPECT_THAT(checked, HasSubstr("Outbox and Sent Items ready"));
  EXPECT_THAT(Tool({"send-test", "ann@example.org"}, &code), HasSubstr("sent to ann@example.org"));
  EXPECT_EQ(code, 0);
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_THAT(Inspect(server.Messages()[0]), HasSubstr("Subject: marlin3 test message"));
  EXPECT_EQ(FilesIn(StoreRoot() / ".Sent Items/cur"), 1u);
  // A password file others can read: check says so and never shows the password.
  std::vector<std::string> withLogin = create;
  withLogin.insert(withLogin.end(), {"--user", "scan", "--password-file", password.string(), "--force"});
  Tool(withLogin, &code);
  EXPECT_EQ(code, 0);
  const std::string unsafe = Tool({"check"}, &code);
  EXPECT_EQ(code, 1);
  EXPECT_THAT(unsafe, HasSubstr("chmod 600"));
  EXPECT_THAT(unsafe + ReadAll(ProfilePath()), Not(HasSubstr("tool-secret")));
  // A profile others may change (0666) could send the password anywhere; one that names a password
  // source may not be read by others either. The password file itself is private now.
  chmod(password.c_str(), 0600);
  EXPECT_EQ(Tool({"check"}, &code).find("chmod 600"), std::string::npos);
  EXPECT_EQ(code, 0);
  for (mode_t mode : {0666, 0644, 0620}) {
    chmod(ProfilePath().c_str(), mode);
    EXPECT_THAT(Tool({"check"}, &code), HasSubstr("nobody else may change")) << std::oct << mode;
    EXPECT_EQ(code, 1) << std::oct << mode;
  }
  chmod(ProfilePath().c_str(), 0600);
  RemoveProfile();
}

}  // namespace
