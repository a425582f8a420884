// The mail core on its own: profile files good and malformed, header and parameter encodings, and
// the MIME writer's handling of hostile input and failing output.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/mapix/MailProfile.h"
#include "platform/mapix/MimeWriter.h"
#include "tests/mail/MailTestEnv.h"

using namespace mailtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

TEST(MailProfileTest, GoodAndMalformedFiles) {
  const fs::path path = TheScratch().root / "profile-cases.conf";
  const std::string base = "[sender]\naddress = a@example.org\n[smtp]\nhost = mail.example.org\n";
  const struct {
    std::string text;
    mapix::ProfileError error;
    int line;
  } cases[] = {
      {base, mapix::ProfileError::None, 0},
      {base + "security = tls\n", mapix::ProfileError::None, 0},
      {base + "port = 0\n", mapix::ProfileError::BadPort, 5},
      {base + "port = 99999999999\n", mapix::ProfileError::BadPort, 5},
      {base + "security = none\n", mapix::ProfileError::InsecureRemote, 0},
      {base + "security = ssl\n", mapix::ProfileError::BadSecurity, 0},
      {base + "user = me\n", mapix::ProfileError::BadPasswordSource, 0},
      {base + "user = me\npassword = hunter2\n", mapix::ProfileError::BadPasswordSource, 0},
      {base + "user = me\npassword = secret:service\n", mapix::ProfileError::BadPasswordSource, 0},
      {base + "user = me\npassword = secret:service marlin3\n", mapix::ProfileError::None, 0},
      {base + "timeout = 0\n", mapix::ProfileError::BadTimeout, 5},
      {base + "hots = typo\n", mapix::ProfileError::UnknownKey, 5},
      {base + "just text\n", mapix::ProfileError::Syntax, 5},
      {base + "[store]\nfolder = relative/path\n", mapix::ProfileError::MissingStore, 0},
      {base + "[addresses]\nBob = not an address\n", mapix::ProfileError::BadAddressEntry, 6},
      {"[smtp]\nhost = h\n", mapix::ProfileError::MissingSender, 0},
      {"[sender]\naddress = a@example.org\n", mapix::ProfileError::MissingServer, 0},
      {"key = value\n", mapix::ProfileError::Syntax, 1},
      {"[other]\n", mapix::ProfileError::UnknownKey, 1},
  };
  for (const auto& test : cases) {
    WriteAll(path, test.text);
    mapix::MailProfile profile;
    int line = -1;
    EXPECT_EQ(mapix::LoadProfile(path, profile, &line), test.error) << test.text;
    EXPECT_EQ(line, test.line) << test.text;
  }
  mapix::MailProfile profile;
  EXPECT_EQ(mapix::LoadProfile((TheScratch().root / "absent.conf").string(), profile),
            mapix::ProfileError::NotFound);
  // What FormatProfile writes loads back the same.
  WriteAll(path,
           base + "security = tls\nuser = me\npassword = file:~/pw\n[addresses]\nBob B = bob@example.org\n");
  ASSERT_EQ(mapix::LoadProfile(path, profile), mapix::ProfileError::None);
  EXPECT_EQ(profile.port, 465);
  EXPECT_EQ(profile.passwordSource, "file:" + TheScratch().root.string() + "/pw");
  WriteAll(path, mapix::FormatProfile(profile));
  mapix::MailProfile again;
  ASSERT_EQ(mapix::LoadProfile(path, again), mapix::ProfileError::None);
  EXPECT_EQ(mapix::FormatProfile(again), mapix::FormatProfile(profile));
}

// A mock secret-tool (no secret service runs in tests): answers for one attribute pair only.
TEST(MailProfileTest, PasswordSources) {
  const fs::path bin = TheScratch().root / "mockbin";
  WriteAll(bin / "secret-tool",
           "#!/bin/sh\n[ \"$1 $2 $3\" = \"lookup service marlin3\" ] && printf 'from-store\\n' && exit "
           "0\nexit 1\n",
           0700);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
  mapix::MailProfile profile;
  std::string password;
  profile.passwordSource = "secret:service marlin3";
  EXPECT_EQ(mapix::ReadPassword(profile, password), mapix::ProfileError::None);
  EXPECT_EQ(password, "from-store");
  profile.passwordSource = "secret:service other";
  EXPECT_EQ(mapix::ReadPassword(profile, password), mapix::ProfileError::PasswordUnavailable);
  setenv("PATH", path.c_str(), 1);
  const fs::path file = TheScratch().root / "pw-file";
  profile.passwordSource = "file:" + file.string();
  EXPECT_EQ(mapix::ReadPassword(profile, password), mapix::ProfileError::PasswordUnavailable);
  WriteAll(file, "line one\nline two\n", 0600);
  EXPECT_EQ(mapix::ReadPassword(profile, password), mapix::ProfileError::None);
  EXPECT_EQ(password, "line one");
  chmod(file.c_str(), 0640);
  EXPECT_EQ(mapix::ReadPassword(profile, password), mapix::ProfileError::PasswordFileUnsafe);
  fs::remove(file);
  fs::create_symlink("/etc/hostname", file);
  EXPECT_NE(mapix::ReadPassword(profile, password), mapix::ProfileError::None);
  fs::remove(file);
}

TEST(MailProfileTest, AddressesAndMailboxes) {
  const struct {
    const char* text;
    bool ok;
    const char* name;
    const char* address;
  } cases[] = {
      {"a@b.org", true, "", "a@b.org"},
      {"  Ann Smith <ann@b.org> ", true, "Ann Smith", "ann@b.org"},
      {"\"Smith, Ann\" <ann@b.org>", true, "Smith, Ann", "ann@b.org"},
      {"a@b.org\r\nBcc: c@d.org", false, "", ""},
      {"Ann\n <ann@b.org>", false, "", ""},
      {"<a@b.org>", true, "", "a@b.org"},
      {"a b@c.org", false, "", ""},
      {"a@@b.org", false, "", ""},
      {"a@b..org", false, "", ""},
      {"@b.org", false, "", ""},
      {"a@", false, "", ""},
      {"x<a@b.org>,y@c.org", false, "", ""},
  };
  for (const auto& test : cases) {
    std::string name = "?";
    std::string address = "?";
    EXPECT_EQ(mapix::ParseMailbox(test.text, name, address), test.ok) << test.text;
    if (test.ok) {
      EXPECT_EQ(name, test.name);
      EXPECT_EQ(address, test.address);
    }
  }
  for (const char* host : {"127.0.0.1", "localhost", "::1", "127.1.2.3"})
    EXPECT_TRUE(mapix::IsLoopbackHost(host));
  for (const char* host : {"128.0.0.1", "127.0.0.1.example.org", "example.org", "127.0.0"})
    EXPECT_FALSE(mapix::IsLoopbackHost(host)) << host;
}

TEST(MimeWriterTest, HeaderEncodings) {
  EXPECT_EQ(mapix::EncodeHeaderText("Plain subject"), "Plain subject");
  EXPECT_EQ(mapix::EncodeHeaderText("a\r\nBcc: x"), "a  Bcc: x");
  EXPECT_EQ(mapix::EncodeHeaderText("=?UTF-8?B?x?="), "=?UTF-8?B?PT9VVEYtOD9CP3g/PQ==?=");
  // Long non-ASCII text: every encoded word within 75 characters, no character split between words.
  std::string text;
  for (int i = 0; i < 40; ++i) text += "€";
  const std::string encoded = mapix::EncodeHeaderText(text);
  std::size_t start = 0;
  int words = 0;
  while (start < encoded.size()) {
    std::size_t end = encoded.find("\r\n ", start);
    if (end == std::string::npos) end = encoded.size();
    EXPECT_LE(end - start, 75u);
    EXPECT_EQ((end - start - 12) % 4, 0u);  // whole base64 quanta: 45 bytes = 15 characters of 3 bytes
    start = end + 3;
    ++words;
  }
  EXPECT_EQ(words, 3);
  EXPECT_EQ(mapix::EncodeDisplayName("Ann Smith"), "Ann Smith");
  EXPECT_EQ(mapix::EncodeDisplayName("Smith, \"Ann\""), "\"Smith, \\\"Ann\\\"\"");
  EXPECT_EQ(mapix::EncodeDisplayName("Jürgen"), "=?UTF-8?B?SsO8cmdlbg==?=");
  EXPECT_EQ(mapix::EncodeFilenameParameter("scan.pdf"), "filename=\"scan.pdf\"");
  EXPECT_EQ(mapix::EncodeFilenameParameter("größe 1.pdf"), "filename*0*=UTF-8''gr%C3%B6%C3%9Fe%201.pdf");
  EXPECT_EQ(mapix::EncodeFilenameParameter("a\"b.pdf"), "filename*0*=UTF-8''a%22b.pdf");
  EXPECT_EQ(mapix::MimeTypeOf("X.PDF"), "application/pdf");
  EXPECT_EQ(mapix::MimeTypeOf("noext"), "application/octet-stream");
}

TEST(MimeWriterTest, RefusesBadAddressesMissingFilesAndAFullDisk) {
  mapix::OutgoingMessage message;
  message.from = {"Me", "me@example.org"};
  message.to = {{"", "you@example.org"}};
  message.date = 1700000000;
  const fs::path out = TheScratch().root / "mime-out.eml";
  auto write = [&](std::string* failed = nullptr) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const mapix::MimeError error = mapix::WriteMessage(message, fd, failed);
    close(fd);
    return error;
  };
  EXPECT_EQ(write(), mapix::MimeError::None);
  EXPECT_THAT(ReadAll(out), HasSubstr("\r\nMIME-Version: 1.0\r\n"));
  message.to = {{"", "you@example.org\r\nBcc: evil@example.org"}};
  EXPECT_EQ(write(), mapix::MimeError::BadAddress);
  message.to = {{"Evil\r\nBcc: evil@example.org", "you@example.org"}};
  EXPECT_EQ(write(), mapix::MimeError::None);
  EXPECT_THAT(ReadAll(out), HasSubstr("To: \"Evil  Bcc: evil@example.org\" <you@example.org>\r\n"));
  message.attachments = {{"/nonexistent/file.pdf", "file.pdf"}};
  std::string failed;
  EXPECT_EQ(write(&failed), mapix::MimeError::AttachmentNotFound);
  EXPECT_EQ(failed, "/nonexistent/file.pdf");
  message.attachments = {{TheScratch().root.string(), "folder"}};
  EXPECT_EQ(write(), mapix::MimeError::AttachmentUnreadable);
  message.attachments = {{MakeFile("small.bin", 100, 1).string(), "small.bin"}};
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  EXPECT_EQ(mapix::WriteMessage(message, full), mapix::MimeError::WriteFailed);
  close(full);
}

}  // namespace
