// ExtendedMapi over platform/mapix against a real loopback SMTP server: the whole road into the
// Maildir store's Outbox and Sent Items, the 25-recipient table, the failure lines of each step and
// LogError's table and line format.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mail/ExtendedMapi.h"
#include "platform/mapix/DefaultOutbox.h"
#include "platform/mapix/SmtpClient.h"
#include "tests/mail/MailTestEnv.h"

using namespace mailtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ExtendedMapiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheScratch();
    std::error_code ec;
    fs::remove_all(StoreRoot(), ec);
  }
  void TearDown() override {
    mapix::SetSaveFaultForTest(S_OK);
    mapix::SetSmtpFaultForTest(mapix::SmtpError::None);
  }
  static std::size_t Outbox() { return FilesIn(StoreRoot() / ".Outbox/new"); }
  static std::size_t SentItems() { return FilesIn(StoreRoot() / ".Sent Items/cur"); }
  static bool Send(const std::string& to, const std::vector<std::string>& paths = {}, bool high = false,
                   const std::string& subject = "Scan") {
    ExtendedMapi mapi(nullptr, "", "", 0);
    return mapi.SendMail(to, "", "", subject, "Your scan", paths, {}, high);
  }
};

TEST_F(ExtendedMapiTest, SubmitsThroughTheOutboxAndFilesInSentItems) {
  SmtpServer server;
  WriteProfile(server.Port(), "none", "", "Dora Diaz = dora@example.org\n");
  LogFile log;
  const fs::path scan = MakeFile("Scan-ÄÖÜ.pdf", 123457, 7);
  const fs::path page = MakeFile("page.tif", 1, 8);
  {
    ExtendedMapi mapi(nullptr, "", "", 0);
    ASSERT_TRUE(mapi.SendMail("ann@example.org, dora diaz", "Bob Bauer <bob@example.org>",
                              "hidden@example.org", "Überweisung März", "Hello\r\nThere",
                              {scan.string(), page.string()}, {"ignored"}, true));
    EXPECT_EQ(mapi.RecipientCount(), 4);
    EXPECT_EQ(mapi.RecipientType(2), MAPI_CC);
    EXPECT_EQ(mapi.RecipientType(3), MAPI_BCC);
  }
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_THAT(server.Envelopes(),
              HasSubstr(" ann@example.org,dora@example.org,bob@example.org,hidden@example.org"));
  const std::string report = Inspect(server.Messages()[0], {scan.string(), page.string()});
  EXPECT_THAT(report, HasSubstr("To: ann@example.org, Dora Diaz <dora@example.org>"));
  EXPECT_THAT(report, HasSubstr("Cc: Bob Bauer <bob@example.org>"));
  EXPECT_THAT(report, HasSubstr("Subject: Überweisung März"));
  EXPECT_THAT(report, HasSubstr("Importance: high"));
  EXPECT_THAT(report, HasSubstr("Body: 'Hello\\nThere'"));
  EXPECT_THAT(report, HasSubstr("Attachment: 'Scan-ÄÖÜ.pdf' 123457 same"));
  EXPECT_THAT(report, HasSubstr("Attachment: 'page.tif' 1 same"));
  EXPECT_THAT(report, Not(HasSubstr("bcc")));
  EXPECT_EQ(Outbox(), 0u);
  EXPECT_EQ(SentItems(), 1u);
  // No attachment data is left behind beside the store.
  EXPECT_EQ(FilesIn(StoreRoot() / ".Outbox/tmp"), 0u);
  EXPECT_THAT(log.Text(), Not(HasSubstr("Trouble")));
}

TEST_F(ExtendedMapiTest, ThirtyAddressesTakeTwentyFive) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  std::string to;
  for (int i = 1; i <= 30; ++i) to += "u" + std::to_string(i) + "@example.org, ";
  ExtendedMapi mapi(nullptr, "", "", 0);
  ASSERT_TRUE(mapi.SendMail(to, "", "", "S", "N", {}, {}, false));
  EXPECT_EQ(mapi.RecipientCount(), 25);
  EXPECT_EQ(log.Count("SetupAddressPerType> Too many addresses, ignoring additional ones\r\n"), 1u);
  EXPECT_THAT(server.Envelopes(), HasSubstr("u25@example.org\n"));
  EXPECT_THAT(server.Envelopes(), Not(HasSubstr("u26@")));
}

TEST_F(ExtendedMapiTest, NoRecipientsIsSubmittedAndRefusedStayingInTheOutbox) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  EXPECT_FALSE(Send(""));
  EXPECT_THAT(log.Text(), HasSubstr("LogError> MAPI error -2147219961: Failed to SubmitMessage "
                                    "(-2147219961)\r\n"));
  EXPECT_THAT(log.Text(), HasSubstr("->SendMailMessage() Failed\n\r\n"));
  EXPECT_EQ(Outbox(), 1u);
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(ExtendedMapiTest, StepFailuresLogTheirLine) {
  SmtpServer server;
  const fs::path scan = MakeFile("scan.jpg", 10, 1);
  struct Case {
    const char* label;
    std::string store;  // profile store folder; "-" for no profile at all
    std::string to;
    std::vector<std::string> paths;
    std::vector<const char*> lines;
  } cases[] = {
      {"no profile",
       "-",
       "ann@example.org",
       {},
       {"Logon> ", "->MAPILogonEx failed\n", "SendMail> ", "->Can't logon\n"}},
      {"no default store",
       "none",
       "ann@example.org",
       {},
       {"OpenStores> ", "->Something about rows is bad!\n", "->Trouble opening stores\n"}},
      {"unknown name",
       "",
       "nobody known",
       {},
       {"->Trouble resolving recipient names\n", "->Trouble setting up the addresses\n"}},
      {"missing attachment",
       "",
       "ann@example.org",
       {"/nonexistent/scan.jpg"},
       {"LogError> MAPI error -2147221233: MAPI_E_NOT_FOUND (-2147221233)\r\n",
        "->Trouble setting up attachments\n"}},
      {"folder as attachment",
       "",
       "ann@example.org",
       {"/tmp"},
       {"MAPI error -2147024891: MAPI_E_NO_ACCESS (-2147024891)"}},
      {"address too long",
       "",
       std::string(300, 'a') + "@example.org",
       {},
       {"->Address longer than 259 characters\n", "->Trouble parsing To string\n"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    if (test.store == "-")
      RemoveProfile();
    else
      WriteProfile(server.Port(), "none", "", "", test.store);
    LogFile log;
    EXPECT_FALSE(Send(test.to, test.paths));
    for (const char* line : test.lines) EXPECT_THAT(log.Text(), HasSubstr(line));
  }
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(ExtendedMapiTest, FailedSubmissionStaysInTheOutbox) {
  SmtpServer server({"--refuse", "bob@example.org"});
  WriteProfile(server.Port());
  LogFile log;
  EXPECT_FALSE(Send("ann@example.org, bob@example.org"));
  EXPECT_THAT(log.Text(), HasSubstr("MAPI error -2147219961: Failed to SubmitMessage (-2147219961)"));
  EXPECT_EQ(Outbox(), 1u);
  EXPECT_EQ(SentItems(), 0u);
  EXPECT_TRUE(server.Messages().empty());
  // A fault in submission itself: the same line, nothing sent.
  mapix::SetSmtpFaultForTest(mapix::SmtpError::TimedOut);
  EXPECT_FALSE(Send("ann@example.org"));
  EXPECT_EQ(Outbox(), 2u);
}

TEST_F(ExtendedMapiTest, AttachmentSaveFaultLogsTheStorageText) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  mapix::SetSaveFaultForTest(STG_E_MEDIUMFULL);
  EXPECT_FALSE(Send("ann@example.org", {MakeFile("x.png", 100, 2).string()}));
  EXPECT_THAT(log.Text(), HasSubstr("->Trouble saving attachment changes\n"));
  EXPECT_THAT(log.Text(),
              HasSubstr("MAPI error -2147286928: The stream is not copied because there is no space "
                        "left on the storage device. (-2147286928)"));
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(ExtendedMapiTest, SubjectWithLineBreaksAddsNoHeader) {
  SmtpServer server;
  WriteProfile(server.Port());
  LogFile log;
  ASSERT_TRUE(Send("ann@example.org", {}, false, "Hi\nBcc: evil@example.org"));
  EXPECT_THAT(server.Envelopes(), Not(HasSubstr("evil")));
  EXPECT_THAT(Inspect(server.Messages().at(0)), HasSubstr("Subject: Hi Bcc: evil@example.org\n"));
}

TEST_F(ExtendedMapiTest, ImplicitTlsWithAuthentication) {
  fs::path cert;
  fs::path key;
  TestCertificate(cert, key);
  SmtpServer server(
      {"--tls-cert", cert.string(), "--tls-key", key.string(), "--implicit-tls", "--auth", "u:pw"});
  const fs::path password = TheScratch().root / "password-tls";
  WriteAll(password, "pw", 0600);
  WriteProfile(server.Port(), "tls",
               "user = u\npassword = file:" + password.string() + "\nca-file = " + cert.string() + "\n");
  LogFile log;
  EXPECT_TRUE(Send("ann@example.org"));
  EXPECT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(SentItems(), 1u);
}

// The shared road to the Outbox on its own: it names the step that stopped it and hands over what it
// opened, which the caller releases in every case.
TEST_F(ExtendedMapiTest, DefaultOutboxNamesTheStepThatStopped) {
  const struct {
    const char* label;
    std::string store;  // "-": no profile at all
    mapix::OutboxStep step;
  } cases[] = {
      {"no profile", "-", mapix::OutboxStep::kLogon},
      {"no default store", "none", mapix::OutboxStep::kNoDefaultStore},
      {"the scratch store", "", mapix::OutboxStep::kDone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.store == "-")
      RemoveProfile();
    else
      WriteProfile(2525, "none", "", "", c.store);  // nothing is sent: no server needed
    bool initialized = false;
    IMAPISession* session = nullptr;
    IMAPITable* table = nullptr;
    IMsgStore* store = nullptr;
    IMAPIFolder* outbox = nullptr;
    mapix::OutboxStep step = mapix::LogonDefault(0, "", "", 0, initialized, session, table);
    if (step == mapix::OutboxStep::kDone) step = mapix::OpenDefaultStore(session, table, 0, store);
    if (step == mapix::OutboxStep::kDone) step = mapix::OpenOutboxFolder(store, outbox);
    EXPECT_EQ(step, c.step);
    EXPECT_TRUE(initialized);
    EXPECT_EQ(outbox != nullptr, c.step == mapix::OutboxStep::kDone);
    for (IUnknown* object : std::vector<IUnknown*>{outbox, store, table, session})
      if (object != nullptr) object->Release();
    MAPIUninitialize();
  }
}

TEST(ExtendedMapiLogError, TableAndLineFormat) {
  const struct {
    std::uint32_t code;
    const char* text;
  } table[] = {
      {0x8000000A, "E_PENDING"},
      {0x80030009,
       "The pStatStg pointer is not valid. The value of one of the pointer parameters is not valid."},
      {0x80030102, "STG_E_REVERTED"},
      {0x8004010F, "MAPI_E_NOT_FOUND"},
      {0x80040607, "Failed to SubmitMessage"},
      {0x80070005, "MAPI_E_NO_ACCESS"},
      {0x80070057, "The property type in the tag is set to PT_UNSPECIFIED."},
      {0x80040111, "Unknown error"},
      {0, "Unknown error"},
  };
  for (const auto& row : table)
    EXPECT_EQ(ExtendedMapi::ErrorText(static_cast<HRESULT>(row.code)), row.text) << std::hex << row.code;
  TheScratch();
  LogFile log;
  ExtendedMapi mapi(nullptr, "", "", 0);
  mapi.LogError(MAPI_E_NO_SUPPORT, "Error in SetProps(): ");
  EXPECT_THAT(log.Text(),
              HasSubstr("LogError> Error in SetProps(): MAPI error -2147221246: The object cannot "
                        "provide access to this property through the requested interface. "
                        "(-2147221246)\r\n"));
}

}  // namespace
