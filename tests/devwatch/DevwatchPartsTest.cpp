// DEVWATCH's parts without processes: the notification line, the device's answer (HTTP framing and the
// status document), device addresses and the remembered state.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DeviceStatus.h"
#include "HttpResponseParser.h"
#include "Monitor.h"
#include "MonitorState.h"
#include "NotificationLine.h"
#include "SimClient.h"
#include "platform/process/Process.h"
#include "settings/ValueGetter.h"

using namespace devwatch;

TEST(NotificationLine, ReadsEverySpacingMarlin3Writes) {
  const struct {
    std::string text;
    NotificationLine::Result result;
    std::string addr;
    bool on;
    std::string host;
  } cases[] = {
      // InitializePolling, SendDestToDevice and the device setup dialog.
      {"/notifications:DevAddr=127.0.0.5  DevMon=On  DevHostId=PC7", NotificationLine::Result::Notification,
       "127.0.0.5", true, "PC7"},
      {"/notifications:DevAddr=unix:/run/x.sock  DevMon=On DevHostId=PC7",
       NotificationLine::Result::Notification, "unix:/run/x.sock", true, "PC7"},
      {"/notifications:DevAddr=5225  DevMon=Off DevHostId=PC7", NotificationLine::Result::Notification,
       "5225", false, "PC7"},
      // Arguments joined by single blanks, an odd case.
      {"/Notifications:DevAddr=1.2.3.4 DevMon=on DevHostId=PC7", NotificationLine::Result::Notification,
       "1.2.3.4", true, "PC7"},
      // Forged lines: a value that holds blanks, fields again, control characters, quotes, options.
      {"/notifications:DevAddr=q  DevMon=Off  DevHostId=evil  DevMon=On  DevHostId=PC7",
       NotificationLine::Result::Bad, "", false, ""},
      {"/notifications:DevAddr=1.2.3.4 DevMon=on DevHostId=My PC", NotificationLine::Result::Bad, "", false,
       ""},
      {"/notifications:DevAddr=q\r\nDevMon=Off  DevMon=On  DevHostId=PC7", NotificationLine::Result::Bad, "",
       false, ""},
      {"/notifications:DevAddr=q  DevMon=On  DevHostId=PC7\r\nDevMon=Off", NotificationLine::Result::Bad, "",
       false, ""},
      {"/notifications:DevAddr=/AppExe  DevMon=On  DevHostId=PC7", NotificationLine::Result::Bad, "", false,
       ""},
      {"/notifications:DevAddr=\"x\"  DevMon=On  DevHostId=PC7", NotificationLine::Result::Bad, "", false,
       ""},
      {"/notifications:DevAddr=x  DevMon=On  DevHostId=PC7  extra", NotificationLine::Result::Bad, "", false,
       ""},
      {"/notifications:DevAddr=  DevMon=Off  DevHostId=", NotificationLine::Result::Notification, "", false,
       ""},
      {"", NotificationLine::Result::NoNotification, "", false, ""},
      {"/other:1", NotificationLine::Result::NoNotification, "", false, ""},
      {"/notifications:DevAddr=x  DevHostId=PC7", NotificationLine::Result::Bad, "", false, ""},
      {"/notifications:DevAddr=x  DevMon=Maybe DevHostId=PC7", NotificationLine::Result::Bad, "", false, ""},
      {"/notifications:DevAddr=  DevMon=On DevHostId=PC7", NotificationLine::Result::Notification, "", true,
       "PC7"},
      {"/notifications:XDevAddr=x DevMon=On DevHostId=PC7", NotificationLine::Result::Bad, "", false, ""},
      {"/notifications:DevAddr=" + std::string(2000, 'a') + " DevMon=On DevHostId=PC7",
       NotificationLine::Result::Bad, "", false, ""},
  };
  for (const auto& c : cases) {
    Notification n;
    std::string why;
    ASSERT_EQ(NotificationLine::Parse(c.text, n, why), c.result) << c.text.substr(0, 80);
    if (c.result == NotificationLine::Result::Bad) {
      EXPECT_FALSE(why.empty());
    }
    if (c.result != NotificationLine::Result::Notification) continue;
    EXPECT_EQ(n.strDevAddr, c.addr);
    EXPECT_EQ(n.bPollingOn, c.on);
    EXPECT_EQ(n.strHostId, c.host);
    Notification again;
    ASSERT_EQ(NotificationLine::Parse(NotificationLine::Format(n), again, why),
              NotificationLine::Result::Notification);
    EXPECT_EQ(again.strHostId, n.strHostId);
  }
}

TEST(HttpResponseParser, FramesAndLimits) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const struct {
    std::string bytes;
    bool closed;
    ResponseStatus status;
    std::string body;
  } cases[] = {
      {head + "f\r\n<a><b>x</b></a>\r\n0\r\n\r\n", false, ResponseStatus::Complete, "<a><b>x</b></a>"},
      {head + "3;ext=1\r\nabc\r\n2\r\nde\r\n0\r\nX-Trailer: 1\r\n\r\n", false, ResponseStatus::Complete,
       "abcde"},
      {head + "3\r\nabc\r\n", false, ResponseStatus::Incomplete, ""},
      {head + "3\r\nabc\r\n", true, ResponseStatus::Bad, ""},
      {head + "zz\r\nabc\r\n0\r\n\r\n", false, ResponseStatus::Bad, ""},
      {head + "13\r\nabc\r\n0\r\n\r\n", true, ResponseStatus::Bad, ""},
      {head + "3\r\nabcX\r\n0\r\n\r\n", false, ResponseStatus::Bad, ""},
      {head + "ffffffffffffffff\r\n", false, ResponseStatus::Bad, ""},
      {head + "10001\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, ResponseStatus::Complete, "hello"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", false, ResponseStatus::Incomplete, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", true, ResponseStatus::Bad, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello", false, ResponseStatus::Bad,
       ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 999999\r\n\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.0 200 OK\r\n\r\nuntil close", true, ResponseStatus::Complete, "until close"},
      {"HTTP/1.0 200 OK\r\n\r\nuntil close", false, ResponseStatus::Incomplete, ""},
      {"HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n", false, ResponseStatus::Complete, ""},
      {"SIP/2.0 200 OK\r\n\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.1 2x0 OK\r\n\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", false, ResponseStatus::Bad, ""},
      {"HTTP/1.1 200 OK\r\n" + std::string(20000, 'a'), false, ResponseStatus::Bad, ""},
  };
  for (const auto& c : cases) {
    HttpResponse response;
    EXPECT_EQ(HttpResponseParser::Parse(c.bytes, c.closed, 65536, response), c.status)
        << c.bytes.substr(0, 70);
    if (c.status == ResponseStatus::Complete) {
      EXPECT_EQ(response.strBody, c.body);
    }
    if (c.status == ResponseStatus::Bad) {
      EXPECT_FALSE(response.strWhy.empty());
    }
  }
  // Byte by byte, a chunked response is incomplete until its last line.
  const std::string whole = head + "4\r\n<a/>\r\n0\r\n\r\n";
  for (std::size_t n = 0; n < whole.size(); ++n) {
    HttpResponse response;
    EXPECT_EQ(HttpResponseParser::Parse(whole.substr(0, n), false, 65536, response),
              ResponseStatus::Incomplete)
        << n;
  }
}

TEST(DeviceStatus, ReadsTheStatusDocument) {
  ScanRequestStatus status;
  std::string why;
  ASSERT_TRUE(
      DeviceStatus::ParseDocument("<?xml "
                                  "version=\"1.0\"?><ScanToRequest><Pending>1</Pending><DestinationID>4</"
                                  "DestinationID><HostID>PC7</HostID>"
                                  "<DeviceDisplay>A &amp; B</DeviceDisplay></ScanToRequest>",
                                  status, why))
      << why;
  EXPECT_TRUE(status.bPending);
  EXPECT_EQ(status.nDestinationId, 4);
  EXPECT_EQ(status.strHostId, "PC7");
  EXPECT_EQ(status.strDisplay, "A & B");
  ASSERT_TRUE(
      DeviceStatus::ParseDocument("<ScanToRequest><Pending>0</Pending></ScanToRequest>", status, why));
  EXPECT_FALSE(status.bPending);
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int i = 1; i < 10; ++i) {
    bomb += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&a" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  bomb +=
      "]><ScanToRequest><Pending>1</Pending><HostID>PC7</HostID><DeviceDisplay>&a9;</DeviceDisplay></"
      "ScanToRequest>";
  for (const std::string& bad :
       {std::string("<html><body>500</body></html>"), std::string("not xml"),
        std::string("<ScanToRequest><DestinationID>1</DestinationID></ScanToRequest>"),
        std::string("<ScanToRequest><Pending>1</Pending></ScanToRequest>"), bomb,
        std::string("<ScanToRequest><Pending>1</Pending><DeviceDisplay>\xff\xfe</DeviceDisplay>")}) {
    EXPECT_FALSE(DeviceStatus::ParseDocument(bad, status, why)) << bad.substr(0, 60);
    EXPECT_FALSE(why.empty());
  }
}

TEST(DeviceAddress, ReadsTheNetworkAndUsbForms) {
  const struct {
    const char* text;
    bool ok;
    bool unix;
    const char* host;
    int port;
  } cases[] = {
      {"unix:/run/usb.sock", true, true, "", 0},
      {"5225", true, false, "127.0.0.1", 5225},
      {"127.0.0.5", true, false, "127.0.0.5", 80},
      {"127.0.0.5:8080", true, false, "127.0.0.5", 8080},
      {"tcp:127.0.0.1:60000", true, false, "127.0.0.1", 60000},
      {"[::1]:81", true, false, "::1", 81},
      {"::1", true, false, "::1", 80},
      {"unix:", false, false, "", 0},
      {"127.0.0.1:0", false, false, "", 0},
      {"127.0.0.1:70000", false, false, "", 0},
      {"127.0.0.1:x", false, false, "", 0},
      {"[::1", false, false, "", 0},
      {"", false, false, "", 0},
      {"host/path", false, false, "", 0},
  };
  for (const auto& c : cases) {
    DeviceAddress address;
    ASSERT_EQ(DeviceAddress::Parse(c.text, address), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(address.bUnix, c.unix) << c.text;
    if (!c.unix) {
      EXPECT_EQ(address.strHost, c.host) << c.text;
      EXPECT_EQ(address.nPort, c.port) << c.text;
    }
  }
}

TEST(MonitorState, KeepsThePollingState) {
  const auto dir = simtest::ScratchDir("devwatch-state");
  const auto file = dir / "sub" / "devwatch.state";
  Notification state;
  EXPECT_FALSE(MonitorState::Load(file, state));
  std::string why;
  ASSERT_TRUE(MonitorState::Save(file, Notification{"unix:/x", true, "PC7"}, why)) << why;
  Notification loaded;
  ASSERT_TRUE(MonitorState::Load(file, loaded));
  EXPECT_EQ(loaded.strDevAddr, "unix:/x");
  EXPECT_TRUE(loaded.bPollingOn);
  EXPECT_EQ(loaded.strHostId, "PC7");
  // A value that is no field never reaches the file, which keeps what it held.
  EXPECT_FALSE(MonitorState::Save(file, Notification{"q\r\nDevMon=Off", true, "PC7"}, why));
  EXPECT_FALSE(MonitorState::Save(file, Notification{"x", true, "PC7\nDevAddr=y"}, why));
  EXPECT_EQ(simtest::ReadFile(file), "DevAddr=unix:/x\nDevMon=On\nDevHostId=PC7\n");
  std::ofstream(file) << "DevAddr=a b\nDevMon=On\nDevHostId=PC7\n";
  EXPECT_FALSE(MonitorState::Load(file, loaded));
  std::ofstream(file) << "garbage without equals\n";
  EXPECT_FALSE(MonitorState::Load(file, loaded));

  // A link where the old fixed temporary name was is never followed; the folder and file are private.
  const auto victim = dir / "victim";
  std::ofstream(victim) << "the user's own file";
  std::filesystem::create_symlink(victim, file.string() + ".tmp");
  std::filesystem::permissions(dir / "sub", std::filesystem::perms::all);
  ASSERT_TRUE(MonitorState::Save(file, Notification{"unix:/y", false, "PC8"}, why)) << why;
  EXPECT_EQ(simtest::ReadFile(victim), "the user's own file");
  EXPECT_EQ(simtest::ReadFile(file), "DevAddr=unix:/y\nDevMon=Off\nDevHostId=PC8\n");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir / "sub").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::filesystem::remove_all(dir);
}

// marlin3 rebuilds one command line from its arguments and reads the "DevDest" value from it: a name is
// passed only when it reads back as exactly itself, one value that opens no option.
TEST(Monitor, PassesOnlyDestinationsThatReadAsOneValue) {
  const struct {
    std::string name;
    bool ok;
  } cases[] = {
      {"Scan A", true},
      {"My Docs", true},
      {"PC7:Photos", true},
      {"it's mine", true},
      {"'quoted' words", true},  // inside the double quotes marlin3's command line puts around it
      {"x /Hide 286331153 /Dest 2 /AppExe /path/prog", true},  // one quoted value: the blanks hide nothing
      {"a/b", true},
      {"x\" /AppExe /path/prog \"", false},  // the quote would end the value early
      {"say \"hi\"", false},
      {"/AppExe", false},    // unquoted, it would read as an option
      {"'x", false},         // unquoted, it would open a quote
      {"dir\\ x\\", false},  // the backslash would double before the closing quote
      {"line\r\nbreak", false},
      {"tab\there", false},
      {std::string("nul\0x", 5), false},
      {"", false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(Monitor::CheckDestination(c.name, why), c.ok) << Printable(c.name);
    if (!c.ok) {
      EXPECT_FALSE(why.empty());
    }
  }
}

// The two sides together: every name DEVWATCH passes is read by marlin3 (its command line rebuilt from
// the arguments, then the option search) as exactly itself, and opens no option. Names are drawn from
// the characters that matter to the two parsers.
TEST(Monitor, EveryDestinationPassedReadsBackAsItself) {
  const std::string alphabet = " /\"'\\aH";
  const char* const options[] = {"AppExe", "OutFile", "OverWrite", "Hide", "Dest", "Res", "Qs", "a", "H"};
  unsigned seed = 27;
  int passed = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string name;
    seed = seed * 1103515245u + 12345u;
    const std::size_t length = 1 + (seed >> 16) % 10;
    for (std::size_t i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      name += alphabet[(seed >> 16) % alphabet.size()];
    }
    for (const char* option : {"", " /AppExe /p", " /Hide 1"}) {
      const std::string dest = name + option;
      std::string why;
      if (!Monitor::CheckDestination(dest, why)) continue;
      ++passed;
      ValueGetter getter(BuildCommandLine({"/Task", "13", "/DevAddr", "5225", "/DevDest", dest}));
      std::string value;
      ASSERT_TRUE(getter.GetFromCmdLine("DevDest", value, "DEF")) << getter.GetCommandLine();
      ASSERT_EQ(value, dest) << getter.GetCommandLine();
      for (const char* other : options) {
        ASSERT_FALSE(getter.GetFromCmdLine(other, value, "")) << other << " in " << getter.GetCommandLine();
      }
      ASSERT_TRUE(getter.GetFromCmdLine("DevAddr", value, "")) << getter.GetCommandLine();
      ASSERT_EQ(value, "5225");
    }
  }
  EXPECT_GT(passed, 10000);
}
