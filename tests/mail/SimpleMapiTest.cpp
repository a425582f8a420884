// SimpleMapi through the real provider libMapi32.so: the silent road against a loopback SMTP server
// (plain, STARTTLS with a test certificate, AUTH, refusals, a dropped and a silent server) and the
// compose road through xdg-email and a recorder set as the scratch desktop's mail program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mail/SimpleMapi.h"
#include "tests/mail/MailTestEnv.h"

using namespace mailtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class SimpleMapiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheScratch();
    std::error_code ec;
    fs::remove_all(StoreRoot(), ec);
    fs::remove(TheScratch().root / "recorder.txt", ec);
    unsetenv("MARLIN3_MODULE_DIR");
  }
  std::size_t SentItems() { return FilesIn(StoreRoot() / ".Sent Items/cur"); }
};

TEST_F(SimpleMapiTest, SendsSilentlyWithAttachmentsAndEncodedTexts) {
  SmtpServer server;
  ASSERT_GT(server.Port(), 0);
  WriteProfile(server.Port());
  LogFile log;
  const fs::path scan = MakeFile("scan1.pdf", 300000, 1);
  const fs::path page = MakeFile("page 2.tif", 70001, 2);
  {
    SimpleMapi mapi(false);
    ASSERT_TRUE(mapi.SendMail(" ann@example.org , , Bob Bauer <bob@example.org> ", "cc@example.org",
                              "hidden@example.org", "scanner@example.org", "Scan für Jürgen — 100%",
                              "Hello,\nthe scan is attached.\n.\nBye", {scan.string(), page.string()},
                              {"Scan.pdf", "Seite 2 — größer.tif"}, true));
    EXPECT_EQ(mapi.RecipientCount(), 4u);
    EXPECT_EQ(mapi.Recipients()[0].ulRecipClass, simplemapi::MAPI_TO);
    EXPECT_EQ(mapi.Recipients()[1].ulRecipClass, simplemapi::MAPI_TO);
    EXPECT_EQ(mapi.Recipients()[2].ulRecipClass, simplemapi::MAPI_CC);
    EXPECT_EQ(mapi.Recipients()[3].ulRecipClass, simplemapi::MAPI_BCC);
    EXPECT_EQ(mapi.LastSendFlags(), simplemapi::MAPI_LOGON_UI);
  }
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(
      server.Envelopes(),
      HasSubstr("scanner@example.org ann@example.org,bob@example.org,cc@example.org,hidden@example.org"));
  const std::string report = Inspect(messages[0], {scan.string(), page.string()});
  EXPECT_THAT(report, HasSubstr("From: Scan Desk <scanner@example.org>"));
  EXPECT_THAT(report, HasSubstr("To: ann@example.org, Bob Bauer <bob@example.org>"));
  EXPECT_THAT(report, HasSubstr("Cc: cc@example.org"));
  EXPECT_THAT(report, HasSubstr("Subject: Scan für Jürgen — 100%"));
  EXPECT_THAT(report, Not(HasSubstr("bcc")));
  EXPECT_THAT(report, HasSubstr("Date-parses: yes"));
  EXPECT_THAT(report, HasSubstr("Message-ID-form: yes"));
  EXPECT_THAT(report, HasSubstr("Longest-line: ok"));
  EXPECT_THAT(report, HasSubstr("Body: 'Hello,\\nthe scan is attached.\\n.\\nBye'"));
  EXPECT_THAT(report, HasSubstr("Attachment: 'Scan.pdf' 300000 same"));
  EXPECT_THAT(report, HasSubstr("Attachment: 'Seite 2 — größer.tif' 70001 same"));
  EXPECT_EQ(SentItems(), 1u);
  EXPECT_THAT(log.Text(), Not(HasSubstr("Trouble")));
}

TEST_F(SimpleMapiTest, TwelveAddressesTakeTenAndLogOnce) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  std::string to;
  for (int i = 1; i <= 12; ++i) to += "user" + std::to_string(i) + "@example.org,";
  SimpleMapi mapi(false);
  ASSERT_TRUE(mapi.SendMail(to, "", "", "", "Twelve", "", {}, {}, true));
  EXPECT_EQ(mapi.RecipientCount(), 10u);
  EXPECT_EQ(log.Count("SetupAddresses> Too many addresses, ignoring additional ones\r\n"), 1u);
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_THAT(server.Envelopes(), HasSubstr("user10@example.org\n"));
  EXPECT_THAT(server.Envelopes(), Not(HasSubstr("user11@")));
}

TEST_F(SimpleMapiTest, UnresolvedAddressKeepsAZeroEntryAndIsNeverSent) {
  SmtpServer server;
  WriteProfile(server.Port(), "none", "", "Bob Bauer = bob@example.org\nBob Brown = brown@example.org\n");
  LogFile log;
  SimpleMapi mapi(false);  // resolving with the dialog flag: "Bob" begins two listed names
  EXPECT_FALSE(mapi.SendMail("ann@example.org, nobody here, Bob", "", "", "", "S", "N", {}, {}, true));
  EXPECT_EQ(mapi.LastSendFlags(), simplemapi::MAPI_LOGON_UI);
  ASSERT_EQ(mapi.RecipientCount(), 3u);
  for (int i : {1, 2}) {
    const auto& entry = mapi.Recipients()[i];
    EXPECT_EQ(entry.ulRecipClass, 0u);
    EXPECT_EQ(entry.lpszName, nullptr);
    EXPECT_EQ(entry.lpszAddress, nullptr);
    EXPECT_EQ(entry.ulEIDSize, 0u);
    EXPECT_EQ(entry.lpEntryID, nullptr);
  }
  EXPECT_THAT(log.Text(), HasSubstr("ResolveAddress> The recipient could not be resolved to any address. The "
                                    "recipient might not exist or might be unknown.\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("ResolveAddress> The recipient requested has not been or could not be "
                                    "resolved to a unique address list entry.\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("SendMailMessage> The type of a recipient was not MAPI_TO, MAPI_CC, or "
                                    "MAPI_BCC. No message was sent.\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("SendMail> SendMailMessage() failed\r\n"));
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(SimpleMapiTest, AddressListNamesResolveAndTheDialogFlagAddsPrefixes) {
  SmtpServer server;
  WriteProfile(server.Port(), "none", "", "Bob Bauer = bob@example.org\nCarla Cruz = carla@example.org\n");
  LogFile log;
  SimpleMapi mapi(false);  // flags 9 for resolving: "carla" is the beginning of one listed name
  ASSERT_TRUE(mapi.SendMail("bob bauer, carla", "", "", "", "S", "", {}, {}, true));
  EXPECT_THAT(server.Envelopes(), HasSubstr("bob@example.org,carla@example.org"));
  SimpleMapi strict(true);  // flags 1: only whole names
  EXPECT_EQ(strict.ResolveAddress("carla"), nullptr);
}

TEST_F(SimpleMapiTest, HeaderInjectionCannotAddHeadersOrRecipients) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  {
    SimpleMapi mapi(true);
    ASSERT_TRUE(mapi.SendMail("ann@example.org", "", "", "", "Hi\r\nBcc: evil@example.org\r\nX-Evil: 1",
                              "Body", {}, {}, true));
  }
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_THAT(server.Envelopes(), Not(HasSubstr("evil")));
  const std::string report = Inspect(server.Messages()[0]);
  EXPECT_THAT(report, HasSubstr("Headers: content-transfer-encoding,content-type,date,from,message-id,"
                                "mime-version,subject,to\n"));
  // An address or a name with a line break resolves to nothing, so nothing is sent.
  for (const char* to : {"ann@example.org\r\nBcc: evil@example.org", "Ann\nBcc: x <ann@example.org>"}) {
    SimpleMapi mapi(true);
    EXPECT_FALSE(mapi.SendMail(to, "", "", "", "S", "", {}, {}, true)) << to;
  }
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SimpleMapiTest, EmptySubjectAndNoteCarryNone) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  SimpleMapi mapi(true);
  ASSERT_TRUE(mapi.SendMail("ann@example.org", "", "", "", "", "", {}, {}, false));
  EXPECT_EQ(mapi.Message().lpszSubject, nullptr);
  EXPECT_EQ(mapi.Message().lpszNoteText, nullptr);
  const std::string report = Inspect(server.Messages().at(0));
  EXPECT_THAT(report, Not(HasSubstr("Subject:")));
  EXPECT_THAT(report, HasSubstr("Body: '\\n'"));
}

TEST_F(SimpleMapiTest, LongTextsAreCutAtACharacterWithALogLine) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  std::string subject = "xy";
  while (subject.size() < 300) subject += "é";  // 2 + 2n bytes: byte 259 is inside a character
  SimpleMapi mapi(true);
  ASSERT_TRUE(mapi.SendMail("ann@example.org", "", "", "", subject, std::string(400, 'n'), {}, {}, true));
  EXPECT_EQ(std::string(mapi.Message().lpszSubject), subject.substr(0, 258));
  EXPECT_EQ(std::string(mapi.Message().lpszNoteText).size(), 259u);
  EXPECT_EQ(log.Count("SetupText> Subject longer than 259 characters was cut\r\n"), 1u);
  EXPECT_EQ(log.Count("SetupText> Note text longer than 259 characters was cut\r\n"), 1u);
  EXPECT_THAT(Inspect(server.Messages().at(0)), HasSubstr("Subject: " + subject.substr(0, 258) + "\n"));
  // An address that does not fit is not cut into another one.
  EXPECT_EQ(mapi.ResolveAddress(std::string(250, 'a') + "@example.org"), nullptr);
  EXPECT_EQ(log.Count("Address longer than 259 characters is not resolved"), 1u);
}

TEST_F(SimpleMapiTest, ShorterNameListNeverReadPastAndNoFileDropped) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  const fs::path a = MakeFile("a.jpg", 1000, 3);
  const fs::path b = MakeFile("b.jpg", 2000, 4);
  SimpleMapi mapi(true);
  ASSERT_TRUE(
      mapi.SendMail("ann@example.org", "", "", "", "S", "", {a.string(), b.string()}, {"First.jpg"}, true));
  EXPECT_EQ(log.Count("SetupAttachments> Incompatibility between filenames and filetext arrays"), 1u);
  const std::string report = Inspect(server.Messages().at(0), {a.string(), b.string()});
  EXPECT_THAT(report, HasSubstr("Attachment: 'First.jpg' 1000 same"));
  EXPECT_THAT(report, HasSubstr("Attachment: 'b.jpg' 2000 same"));
}

TEST_F(SimpleMapiTest, StartTlsWithAuthenticationAndThePasswordNeverLogged) {
  fs::path cert;
  fs::path key;
  TestCertificate(cert, key);
  ASSERT_TRUE(fs::exists(cert));
  SmtpServer server(
      {"--tls-cert", cert.string(), "--tls-key", key.string(), "--auth", "scanuser:S3cret-pw!"});
  const fs::path password = TheScratch().root / "password";
  WriteAll(password, "S3cret-pw!\n", 0600);
  WriteProfile(
      server.Port(), "starttls",
      "user = scanuser\npassword = file:" + password.string() + "\nca-file = " + cert.string() + "\n");
  LogFile log;
  DebugTrace::SetLevel(3);
  {
    SimpleMapi mapi(true);
    EXPECT_TRUE(mapi.SendMail("ann@example.org", "", "", "", "Secure", "Body", {}, {}, true));
  }
  EXPECT_EQ(server.Messages().size(), 1u);
  // A wrong password: the server refuses the login.
  WriteAll(password, "wrong\n", 0600);
  {
    SimpleMapi mapi(true);
    EXPECT_FALSE(mapi.SendMail("ann@example.org", "", "", "", "Secure", "Body", {}, {}, true));
  }
  EXPECT_THAT(log.Text(),
              HasSubstr("SendMailMessage> There was no default logon, and the user failed to log on "
                        "successfully when the logon dialog box was displayed. No message was sent."));
  // A password file others can read is refused before anything is sent.
  WriteAll(password, "S3cret-pw!\n", 0644);
  {
    SimpleMapi mapi(true);
    EXPECT_FALSE(mapi.SendMail("ann@example.org", "", "", "", "Secure", "Body", {}, {}, true));
  }
  EXPECT_EQ(server.Messages().size(), 1u);
  EXPECT_THAT(log.Text(), HasSubstr("Entered"));
  EXPECT_THAT(log.Text(), Not(HasSubstr("S3cret")));
  // Without the certificate authority the server's certificate is not trusted: nothing is sent.
  WriteAll(password, "S3cret-pw!\n", 0600);
  WriteProfile(server.Port(), "starttls", "user = scanuser\npassword = file:" + password.string() + "\n");
  {
    SimpleMapi mapi(true);
    EXPECT_FALSE(mapi.SendMail("ann@example.org", "", "", "", "Secure", "Body", {}, {}, true));
  }
  EXPECT_EQ(server.Messages().size(), 1u);
}

struct FailingServerCase {
  const char* label;
  std::vector<std::string> options;
  const char* logLine;
  const char* security = "none";
};

TEST_F(SimpleMapiTest, FailingServersEndWithTheirResultAndNothingReportedSent) {
  const FailingServerCase cases[] = {
      {"refuses a recipient",
       {"--refuse", "bob@example.org"},
       "SendMailMessage> One or more recipients were invalid or did not resolve to any address.\r\n"},
      {"refuses the message",
       {"--refuse-data"},
       "SendMailMessage> One or more unspecified errors occurred. No message was sent.\r\n"},
      {"drops mid-DATA",
       {"--mode", "drop"},
       "SendMailMessage> One or more unspecified errors occurred. No message was sent.\r\n"},
      {"never answers",
       {"--mode", "silent"},
       "SendMailMessage> One or more unspecified errors occurred. No message was sent.\r\n"},
      {"offers no STARTTLS",
       {},
       "SendMailMessage> One or more unspecified errors occurred. No message was sent.\r\n",
       "starttls"},
  };
  const fs::path big = MakeFile("big.bin", 2 * 1024 * 1024, 9);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    SmtpServer server(test.options);
    ASSERT_GT(server.Port(), 0);
    WriteProfile(server.Port(), test.security);
    LogFile log;
    const auto start = std::chrono::steady_clock::now();
    {
      SimpleMapi mapi(true);
      EXPECT_FALSE(mapi.SendMail("ann@example.org, bob@example.org", "", "", "", "S", "N", {big.string()},
                                 {"big.bin"}, true));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_THAT(log.Text(), HasSubstr(test.logLine));
    EXPECT_THAT(log.Text(), HasSubstr("SendMail> SendMailMessage() failed\r\n"));
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_EQ(SentItems(), 0u);
  }
}

TEST_F(SimpleMapiTest, NoProfileSilentSendFailsWithTheLogonResult) {
  RemoveProfile();
  LogFile log;
  SimpleMapi mapi(true);
  EXPECT_FALSE(mapi.SendMail("ann@example.org", "", "", "", "S", "N", {}, {}, true));
  EXPECT_THAT(log.Text(),
              HasSubstr("SendMailMessage> There was no default logon, and the user failed to log on "
                        "successfully when the logon dialog box was displayed. No message was sent.\r\n"));
  // Without a mail program either, even the logon fails.
  const std::string path = std::getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  {
    SimpleMapi other(true);
    EXPECT_FALSE(other.SendMail("ann@example.org", "", "", "", "S", "N", {}, {}, true));
  }
  setenv("PATH", path.c_str(), 1);
  EXPECT_THAT(log.Text(),
              HasSubstr("LogOn> There was no default logon, and the user failed to log on successfully "
                        "when the logon dialog box was displayed. No session handle was returned.\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("ResolveAddress> LogOn failed\r\n"));
}

TEST_F(SimpleMapiTest, MissingLibraryFailsEveryStep) {
  const fs::path hidden = TheScratch().root / "hidden";
  WriteAll(hidden / "libMapi32.so", "", 0644);
  setenv("MARLIN3_MODULE_DIR", hidden.c_str(), 1);
  LogFile log;
  {
    SimpleMapi mapi(false);
    EXPECT_FALSE(mapi.SendMail("ann@example.org", "", "", "", "S", "N", {}, {}, true));
  }
  EXPECT_THAT(log.Text(), HasSubstr("LogOn> m_pLogOn func not found\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("SendMailMessage> LogOn failed\r\n"));
  EXPECT_THAT(log.Text(), Not(HasSubstr("FreeLibrary failed")));
}

TEST_F(SimpleMapiTest, ComposeRoadOpensTheMailProgramWithPrivateCopies) {
  RemoveProfile();  // composing needs no profile
  LogFile log;
  const fs::path scan = MakeFile("scan.pdf", 5000, 5);
  {
    SimpleMapi mapi(false);
    // No recipients and send silently: flags 9, the mail program's window opens.
    ASSERT_TRUE(mapi.SendMail("", "", "", "", "Scan & more", "Line 1\nLine 2", {scan.string()},
                              {"Scan 1.pdf"}, true));
    EXPECT_EQ(mapi.LastSendFlags(), simplemapi::MAPI_LOGON_UI | simplemapi::MAPI_DIALOG);
  }
  std::string recorded = ReadAll(TheScratch().root / "recorder.txt");
  EXPECT_THAT(recorded, HasSubstr("subject 'Scan & more'"));
  EXPECT_THAT(recorded, HasSubstr("body 'Line 1\\r\\nLine 2'"));
  const std::size_t at = recorded.find("attach ");
  ASSERT_NE(at, std::string::npos);
  const std::string copy = recorded.substr(at + 7, recorded.find(" exists=", at) - at - 7);
  EXPECT_THAT(copy, HasSubstr("/cache/marlin3/mail-attachments/"));
  EXPECT_THAT(copy, HasSubstr("/Scan 1.pdf"));
  // The copy outlives the call, byte for byte, in a folder only the user can read.
  EXPECT_EQ(ReadAll(copy), ReadAll(scan));
  EXPECT_EQ(fs::status(fs::path(copy).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);

  // Recipients held without send silently: flags 9 too, and the addresses reach the window.
  fs::remove(TheScratch().root / "recorder.txt");
  {
    SimpleMapi mapi(false);
    ASSERT_TRUE(mapi.SendMail("ann@example.org, Bob <bob@example.org>", "cc@example.org", "", "", "S", "", {},
                              {}, false));
    EXPECT_EQ(mapi.LastSendFlags(), simplemapi::MAPI_LOGON_UI | simplemapi::MAPI_DIALOG);
  }
  recorded = ReadAll(TheScratch().root / "recorder.txt");
  EXPECT_THAT(recorded, HasSubstr("to ann@example.org,bob@example.org\n"));
  EXPECT_THAT(recorded, HasSubstr("cc 'cc@example.org'"));
}

TEST_F(SimpleMapiTest, NoMailProgramIsNamedAsTheCauseBesideTheMapiResult) {
  RemoveProfile();
  // The scratch desktop without its mail program: xdg-email finds none (its status 3).
  const fs::path mimeapps = TheScratch().root / "config/mimeapps.list";
  const std::string saved = ReadAll(mimeapps);
  WriteAll(mimeapps, "[Default Applications]\n", 0644);
  const fs::path desktop = TheScratch().root / "data/applications/m3recorder.desktop";
  fs::rename(desktop, desktop.string() + ".off");
  LogFile log;
  {
    SimpleMapi mapi(false);
    EXPECT_FALSE(mapi.SendMail("", "", "", "", "S", "N", {}, {}, false));
    EXPECT_EQ(mapi.FailureKind(), 1u);
    EXPECT_THAT(mapi.FailureText(), HasSubstr("xdg-email failed with status 3"));
  }
  fs::rename(desktop.string() + ".off", desktop);
  WriteAll(mimeapps, saved, 0644);
  EXPECT_THAT(
      log.Text(),
      HasSubstr("SendMailMessage> One or more unspecified errors occurred. No message was sent.\r\n"));
  EXPECT_THAT(log.Text(),
              HasSubstr("SendMailMessage> The mail provider says: xdg-email failed with status 3: no "
                        "mail program is set up. Choose a default mail program"));
}

}  // namespace
