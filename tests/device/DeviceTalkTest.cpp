// DeviceTalk against loopback servers: the destination documents, the update form, both transports
// end to end (network through libcurl, USB through the real channel library on a Unix socket), the
// clean-up of raw USB responses and the form-value encoder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "DeviceFixture.h"

namespace device_test {
namespace {

using Names = std::vector<std::string>;

// The device's documents of the list protocol: this PC is PC7.
TEST_F(DeviceFixture, GetListSortsTheDocumentByHost) {
  struct Case {
    const char* what;
    int avail;
    std::vector<Dest> dests;
    bool result;
    Names thisPc, otherPcs;
    std::vector<std::string> logged;
  };
  const std::vector<Dest> three = {{0, "PC7", "Scan A"}, {4, "OTHER", "Their"}, {9, "PC7", "Photos"}};
  const std::vector<Dest> mine = {{0, "PC7", "Scan A"}, {4, "PC7", "Photos"}, {9, "OTHER", "Their"}};
  const Case cases[] = {
      {"counts agree", 7, three, true, {"Scan A", "Photos"}, {"Their"}, {}},
      {"one fewer in use",
       8,
       three,
       true,
       {"Scan A"},
       {"Their"},
       {"Mismatch between iNumDests and m_saIndexes.GetSize()"}},
      {"one more in use",
       6,
       mine,
       false,
       {"Scan A", "Photos"},
       {"Their"},
       {"Mismatch between iNumDests and m_saIndexes.GetSize()",
        "MaxDest=10; AvailDest=6; ThisPc=2; OtherPc=1"}},
      {"host ID differs in case",
       8,
       {{1, "pc7", "Lower"}, {2, "PC7", "Mine"}},
       true,
       {"Mine"},
       {"Lower"},
       {}},
      {"nothing in use", 10, {}, true, {}, {}, {"No dests on device"}},
      {"negative count", 11, {}, false, {}, {}, {"Number of dests invalid"}},
      {"same ID twice", 8, {{3, "PC7", "First"}, {3, "PC7", "Second"}}, true, {"Second", "Second"}, {}, {}},
      {"ID outside 0 to 29",
       8,
       {{30, "PC7", "Far"}, {2, "PC7", "Near"}},
       false,
       {"Near"},
       {},
       {"DestinationID 30 is outside 0 to 29; destination skipped", "Memory not allocated"}},
      {"no DestinationID at all", 9, {{-1, "PC7", "x"}}, false, {}, {}, {"Memory not allocated"}},
  };
  ASSERT_TRUE(StartNetwork([](const std::string&) { return LoopbackServer::Ok(""); }));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string document = Document(10, c.avail, c.dests);
    m_server.Stop();
    ASSERT_TRUE(StartNetwork([document](const std::string&) { return LoopbackServer::Ok(document); }));
    MarkLog();
    DeviceTalk device;
    Names thisPc, otherPcs;
    EXPECT_EQ(device.GetList(thisPc, otherPcs), c.result);
    EXPECT_EQ(thisPc, c.thisPc);
    EXPECT_EQ(otherPcs, c.otherPcs);
    for (const std::string& line : c.logged) EXPECT_TRUE(Logged(line)) << line << "\n" << NewLog();
  }
}

TEST_F(DeviceFixture, ElementsWithoutAnIdOrWithABadIdGoNowhere) {
  const std::string document =
      "<ScanToDestinations><MaxScanToDestinations>5</MaxScanToDestinations>"
      "<AvailableScanToDestinations>3 free</AvailableScanToDestinations><ScanToDestinationList>"
      "<ScanToDestination DestinationID=\"2\"><HostID>PC7</HostID><DeviceDisplay>Two</DeviceDisplay>"
      "</ScanToDestination>"
      "<ScanToDestination><HostID>OTHER</HostID><DeviceDisplay>Stray</DeviceDisplay></ScanToDestination>"
      "<ScanToDestination DestinationID=\"x1\"><DeviceDisplay>Bad</DeviceDisplay></ScanToDestination>"
      "<ScanToDestination DestinationID=\"-1\"><DeviceDisplay>Neg</DeviceDisplay></ScanToDestination>"
      "<ScanToDestination DestinationID=\"99999999999\"/>"
      "<ScanToDestination DestinationID=\" 7\"><HostID>PC7</HostID><DeviceDisplay>Seven</DeviceDisplay>"
      "</ScanToDestination>"
      "</ScanToDestinationList></ScanToDestinations>";
  ASSERT_TRUE(StartNetwork([document](const std::string&) { return LoopbackServer::Ok(document); }));
  DeviceTalk device;
  Names thisPc, otherPcs;
  EXPECT_TRUE(device.GetList(thisPc, otherPcs));
  // The element without an ID wrote its children into the record of ID 2.
  EXPECT_EQ(thisPc, Names{"Seven"});
  EXPECT_EQ(otherPcs, Names{"Stray"});
  EXPECT_EQ(device.GetIndexes(), (std::vector<int>{2, 7}));
  EXPECT_TRUE(Logged("DestinationID 'x1' is not a number; destination skipped"));
  EXPECT_TRUE(Logged("DestinationID -1 is outside 0 to 29; destination skipped"));
  EXPECT_TRUE(Logged("DestinationID 2147483647 is outside 0 to 29; destination skipped"));
  EXPECT_TRUE(Logged("Memory not allocated"));
}

TEST_F(DeviceFixture, UpdatePostsTheFormOnOneKeptConnection) {
  auto list = std::make_shared<KeptList>(10, std::vector<Dest>{{0, "PC7", "Scan A"}, {1, "X", "Y"}});
  list->postAnswer = "<html>ok</html>";
  ASSERT_TRUE(StartKept(list, false));
  DeviceTalk device;
  Names thisPc, otherPcs;
  ASSERT_TRUE(device.GetList(thisPc, otherPcs)) << NewLog();
  Names add{"Scan A", "Photos"};
  ASSERT_TRUE(device.Update(&add, true));
  EXPECT_EQ(device.GetBody(),
            "AddScanToDest_1=PC7%5eScan+A%5eDestFolder&AddScanToDest_2=PC7%5ePhotos%5eDestFolder");
  Names remove{"Scan A"};
  ASSERT_TRUE(device.Update(&remove, false));
  EXPECT_EQ(device.GetBody(), "RemoveScanToDest_1=Scan+A");
  // The last body goes with a later GET too.
  Names again, againOther;
  ASSERT_TRUE(device.GetList(again, againOther)) << NewLog();

  // Each update is confirmed by reading the list again.
  std::vector<std::string> requests = m_server.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[0].compare(0, 48, "GET /nx/device/info_scanto_destinations.xml HTTP"), 0) << requests[0];
  EXPECT_EQ(requests[1].compare(0, 36, "POST /nx/device/set_config.html HTTP"), 0);
  EXPECT_NE(requests[1].find("User-Agent: VideZeraZazir"), std::string::npos);
  EXPECT_EQ(requests[1].substr(requests[1].find("\r\n\r\n") + 4),
            "AddScanToDest_1=PC7%5eScan+A%5eDestFolder&AddScanToDest_2=PC7%5ePhotos%5eDestFolder");
  EXPECT_EQ(requests[2].compare(0, 48, "GET /nx/device/info_scanto_destinations.xml HTTP"), 0) << requests[2];
  EXPECT_EQ(requests[3].substr(requests[3].find("\r\n\r\n") + 4), "RemoveScanToDest_1=Scan+A");
  EXPECT_EQ(requests[4].compare(0, 4, "GET "), 0);
  EXPECT_EQ(m_server.Connections(), 1);

  Names none;
  EXPECT_FALSE(device.Update(&none, true));
  EXPECT_FALSE(device.Update(nullptr, false));
  EXPECT_TRUE(Logged("Passed in array is null or empty"));
}

// A document larger than one availability piece (8 KB), sent in small chunks with pauses.
TEST_F(DeviceFixture, NetworkResponseInSeveralPiecesIsReadWhole) {
  std::string longName(20000, 'n');
  longName += "end";
  const std::string document = Document(10, 8, {{0, "PC7", longName}, {29, "X", "Y"}});
  ASSERT_TRUE(StartNetwork([document](const std::string&) {
    Reply reply = LoopbackServer::Ok(document, 700);
    Reply slow;
    const std::string& text = reply.pieces[0].bytes;
    for (std::size_t at = 0; at < text.size(); at += 5000) slow.pieces.push_back({text.substr(at, 5000), 5});
    return slow;
  }));
  DeviceTalk device;
  Names thisPc, otherPcs;
  ASSERT_TRUE(device.GetList(thisPc, otherPcs)) << NewLog();
  EXPECT_EQ(thisPc, Names{longName});
  EXPECT_EQ(otherPcs, Names{"Y"});
}

TEST_F(DeviceFixture, UsbExchangeSendsTheExactTextAndStripsTheFraming) {
  auto list = std::make_shared<KeptList>(10, std::vector<Dest>{{0, "PC7", "Caf\xC3\xA9"}, {5, "X", "Y"}});
  list->chunk = 100;
  ASSERT_TRUE(StartKept(list, true));
  CountingDeviceTalk device;
  Names thisPc, otherPcs;
  ASSERT_TRUE(device.GetList(thisPc, otherPcs)) << Log();
  EXPECT_EQ(thisPc, Names{"Caf\xC3\xA9"});
  EXPECT_EQ(otherPcs, Names{"Y"});
  EXPECT_EQ(
      device.GetRequest(),
      "GET /nx/device/info_scanto_destinations.xml HTTP/1.1\r\nHost: localhost:5225\r\nContent-Length:0\r\n"
      "\r\n\r\n\r\n");
  EXPECT_TRUE(Logged("OpenBulk worked on first try"));

  Names add{"Caf\xC3\xA9 \xE2\x82\xAC"};
  ASSERT_TRUE(device.Update(&add, true));
  const std::string body = "AddScanToDest_1=PC7%5eCaf%C3%A9+%E2%82%AC%5eDestFolder";
  std::vector<std::string> requests = m_server.Requests();
  ASSERT_EQ(requests.size(), 3u);  // the update is confirmed by reading the list again
  EXPECT_TRUE(
      requests[1].starts_with("POST /nx/device/set_config.html HTTP/1.1\r\nHost: localhost:5225\r\n"
                              "Content-Length:" +
                              std::to_string(body.size()) + "\r\n\r\n" + body))
      << requests[1];
  EXPECT_TRUE(Logged("<r/>"));           // the update's answer, cleaned up
  EXPECT_EQ(m_server.Connections(), 3);  // one channel per exchange
}

TEST_F(DeviceFixture, UsbResponseOfTwoFullReadsCostsOneMoreWait) {
  ValueGetter("").SetMainInt("UsbWait", 200);
  // Status line, headers, one chunk and the last chunk, 4096 bytes in all.
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::size_t dataSize = 4096 - head.size() - 5 - 7;
  char sizeLine[16];
  std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", dataSize);
  const std::string data = "<a>" + std::string(dataSize - 7, 'x') + "</a>";
  const std::string response = head + sizeLine + data + "\r\n0\r\n\r\n";
  ASSERT_EQ(response.size(), 4096u);
  ASSERT_TRUE(StartUsb([response](const std::string&) {
    Reply reply;
    reply.pieces.push_back({response, 0});
    return reply;
  }));
  CountingDeviceTalk device;
  ASSERT_TRUE(device.Initialize());
  device.ComposeHttpRequest(DeviceTalk::kRequestList);
  ASSERT_TRUE(device.SendHttpViaUsb()) << Log();
  EXPECT_EQ(device.waits, (std::vector<DWORD>{200, 200, 200}));
  EXPECT_EQ(device.GetResponse(), data);
}

TEST_F(DeviceFixture, TwentyRefusedOpensThenTalksNormally) {
  const std::string document = Document(10, 9, {{3, "PC7", "Late"}});
  ASSERT_TRUE(StartUsb([document](const std::string&) { return LoopbackServer::Ok(document, 512); }, false));
  CountingDeviceTalk device;
  device.onPause = [this](std::size_t count) {
    if (count == 20) {
      ASSERT_TRUE(m_server.StartUnix(m_socket, m_handler));
    }
  };
  Names thisPc, otherPcs;
  ASSERT_TRUE(device.GetList(thisPc, otherPcs)) << Log();
  EXPECT_EQ(thisPc, Names{"Late"});
  EXPECT_EQ(std::count(device.waits.begin(), device.waits.end(), 500u), 20);
  std::string log = Log();
  for (int i = 0; i < 20; ++i)
    EXPECT_NE(log.find("Couldn't OpenBulk, re-trying (" + std::to_string(i) + ")"), std::string::npos) << i;
  EXPECT_EQ(log.find("re-trying (20)"), std::string::npos);
  EXPECT_EQ(log.find("OpenBulk worked on first try"), std::string::npos);
}

// One operation's device work has a deadline: past it no retry is made and no exchange started.
TEST_F(DeviceFixture, OneOperationEndsAtItsDeadline) {
  ASSERT_TRUE(StartUsb([](const std::string&) { return LoopbackServer::Ok("<a/>"); }, true));
  m_server.RefuseFirst(1000);
  CountingDeviceTalk device;
  device.deadlineMs = 0;
  Names thisPc, otherPcs;
  EXPECT_FALSE(device.GetList(thisPc, otherPcs));
  EXPECT_TRUE(device.waits.empty());
  EXPECT_TRUE(Logged("Device work took longer than 0 ms; opening the USB channel given up")) << NewLog();
  Names add{"Scan A"};
  EXPECT_FALSE(device.Update(&add, true));
  EXPECT_EQ(device.GetNotTaken(), add);
}

TEST_F(DeviceFixture, TwentyOneRefusalsFailTheExchange) {
  ASSERT_TRUE(StartUsb([](const std::string&) { return LoopbackServer::Ok("<a/>"); }, true));
  m_server.RefuseFirst(1000);  // accepts and resets at once: a busy device
  CountingDeviceTalk device;
  Names thisPc, otherPcs;
  EXPECT_FALSE(device.GetList(thisPc, otherPcs));
  EXPECT_EQ(device.waits.size(), 20u);
  EXPECT_TRUE(Logged("Couldn't OpenBulk for USB after several retries"));
  EXPECT_TRUE(Logged("Getting the original XML data failed over PortBridge"));
}

TEST_F(DeviceFixture, MissingChannelLibraryOrEndpointFailsSetUp) {
  test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Connection Type", "Direct");
  test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Port", "192.168.1.5:80");
  CountingDeviceTalk device;
  Names thisPc, otherPcs;
  EXPECT_FALSE(device.GetList(thisPc, otherPcs));  // not a loopback endpoint: every open is refused
  EXPECT_TRUE(Logged("Couldn't OpenBulk for USB after several retries"));

  const fs::path hidden = Scratch() / "hide";
  fs::create_directories(hidden);
  { std::ofstream(hidden / "libDvPortBridge.so") << ""; }
  setenv("MARLIN3_MODULE_DIR", hidden.c_str(), 1);
  DeviceTalk other;
  EXPECT_FALSE(other.GetList(thisPc, otherPcs));
  unsetenv("MARLIN3_MODULE_DIR");
  EXPECT_TRUE(Logged("Load library failed on DvPortBridge: (126)"));
  EXPECT_TRUE(Logged("Failed to initialize in GetList"));
}

// Replies no device should give: each ends quickly with a logged failure and nothing held.
TEST_F(DeviceFixture, HostileRepliesFailInBoundedTime) {
  struct Case {
    const char* what;
    std::function<Reply()> reply;
    bool overUsb;
    const char* logged;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const Case cases[] = {
      {"100 MB body, http",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Content-Length: 100000000\r\n\r\n<a>", 0});
         r.repeatBytes = 100000000;
         return r;
       },
       false, "HttpSendRequest failed: (223)"},
      {"100 MB body, usb",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Content-Length: 100000000\r\n\r\n<a>", 0});
         r.repeatBytes = 100000000;
         return r;
       },
       true, "USB response is empty: the response is larger than 1 MiB and was dropped"},
      {"stall after headers, http",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Content-Length: 50\r\n\r\n<a>", 0});
         r.stallMs = 4000;
         return r;
       },
       false, "HttpSendRequest failed: (12002) The operation timed out"},
      {"stall after headers, usb",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Content-Length: 50\r\n\r\n<a>", 0});
         r.stallMs = 4000;
         return r;
       },
       true, "the device stopped sending before its response was complete"},
      {"silent device, usb",
       [] {
         Reply r;
         r.stallMs = 4000;
         return r;
       },
       true, "USB response is empty: the device stopped sending before its response was complete"},
      {"chunk declared over 1 MiB, usb",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Transfer-Encoding: chunked\r\n\r\n7fffffff\r\n<a>x</a>\r\n0\r\n\r\n", 0});
         return r;
       },
       true, "USB response is empty: the response declares a chunk larger than 1 MiB"},
      {"chunk-size line without end, usb",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Transfer-Encoding: chunked\r\n\r\n" + std::string(900000, '1'), 0});
         return r;
       },
       true, "USB response is empty: a chunk-size line of the response is longer than 4 KiB"},

      {"broken chunks, http",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n<a/>\r\n0\r\n\r\n", 0});
         return r;
       },
       false, "HttpSendRequest failed: (1203"},
      {"short body then reset, http",
       [ok] {
         Reply r;
         r.pieces.push_back({ok + "Content-Length: 5000\r\n\r\n<a>", 0});
         r.reset = true;
         return r;
       },
       false, "HttpSendRequest failed: (1203"},
      {"error page, http",
       [] {
         Reply r;
         r.pieces.push_back({"HTTP/1.1 500 Oops\r\nContent-Length: 9\r\n\r\n<b>no</b>", 0});
         return r;
       },
       false, "Device answered with HTTP status 500"},
      {"error page, usb",
       [] {
         Reply r;
         r.pieces.push_back({"HTTP/1.1 404 No\r\nContent-Length: 9\r\n\r\n<b>no</b>", 0});
         return r;
       },
       true, "Device answered with HTTP status 404"},
      {"entity bomb",
       [] {
         return LoopbackServer::Ok(
             "<!DOCTYPE l [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><l>&b;</l>");
       },
       false, "not a well-formed XML document"},
      {"invalid UTF-8",
       [] { return LoopbackServer::Ok("<ScanToDestinations>\xFF\xFE</ScanToDestinations>", 8); }, true,
       "not a well-formed XML document"},
      {"not a response, usb",
       [] {
         Reply r;
         r.pieces.push_back({"garbage without lines", 0});
         return r;
       },
       true, "USB response has no HTTP status line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_server.Stop();
    MarkLog();
    auto reply = c.reply;
    auto handler = [reply](const std::string&) { return reply(); };
    ASSERT_TRUE(c.overUsb ? StartUsb(handler) : StartNetwork(handler));
    auto start = std::chrono::steady_clock::now();
    {
      CountingDeviceTalk device;
      Names thisPc, otherPcs;
      EXPECT_FALSE(device.GetList(thisPc, otherPcs));
      EXPECT_LE(device.GetResponse().size(), DeviceTalk::kMaxResponseBytes);
    }
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0);
    EXPECT_TRUE(Logged(c.logged)) << Log();
  }
}

TEST_F(DeviceFixture, CleanUpStripsHeaderFooterAndChunkLines) {
  struct Case {
    std::string raw;
    bool header, footer;
    std::string cleaned;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n<a><b>x</b></a>\r\n0\r\n\r\n", true, true,
       "<a><b>x</b></a>"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n<a><\r\n5\r\nb/></\r\n2\r\na>\r\n0\r\n\r\n",
       true, true, "<a><b/></a>"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n", false, false, ""},
      {"HTTP/1.1 200 OK\r\n\r\n<a/>", true, false, ""},
      {"", false, false, ""},
  };
  for (const Case& c : cases) {
    DeviceTalk device;
    std::string text = c.raw;
    ASSERT_EQ(device.RemoveHttpHeader(text), c.header) << c.raw;
    if (!c.header) continue;
    ASSERT_EQ(device.RemoveHttpFooter(text), c.footer) << c.raw;
    if (!c.footer) continue;
    device.RemoveHttpChunkData(text);
    EXPECT_EQ(text, c.cleaned);
  }
  DeviceTalk device;
  std::string unmatched = "\r\n<a>\r\nx";
  device.RemoveHttpChunkData(unmatched);
  EXPECT_EQ(unmatched, "x");
  std::string dangling = "\r\n<a>";
  MarkLog();
  device.RemoveHttpChunkData(dangling);
  EXPECT_EQ(dangling, "\r\n<a>");
  EXPECT_TRUE(Logged("didn't find end of chuck data"));
}

TEST_F(DeviceFixture, EncodePercentEncodesPerCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"My Docs 10^x", "My+Docs+1%30%5ex"}, {"\xC3\xA9", "%C3%A9"},
      {"\xE2\x82\xAC", "%E2%82%AC"},        {"a/b&c=d%", "a%2fb%26c%3dd%25"},
      {".-_!*()~", ".-_!*()%7e"},           {"x\xFFy\xC3", "xy"},  // bytes that do not convert are dropped
      {"\xF0\x9F\x93\xB7", "%F0%9F%93%B7"}, {"", ""},
  };
  DeviceTalk device;
  for (const auto& [in, out] : cases) EXPECT_EQ(device.UrlAndUtf8Encode(in), out) << in;
}

// A device that answers 200 but does not take a name (its list full, the name longer than it keeps):
// its own list, read back, shows it, and the update fails naming what did not take.
TEST_F(DeviceFixture, UpdateIsConfirmedByTheDevicesList) {
  for (bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    m_server.Stop();
    MarkLog();
    auto list = std::make_shared<KeptList>(3, std::vector<Dest>{{0, "X", "Theirs"}});
    list->maxName = 20;
    list->chunk = 64;  // the device's USB answers are chunked
    ASSERT_TRUE(StartKept(list, usb));
    CountingDeviceTalk device;
    Names add{"Scan A", std::string(21, 'n'), "Photos", "One too many"};
    EXPECT_FALSE(device.Update(&add, true));
    EXPECT_EQ(device.GetNotTaken(), (Names{std::string(21, 'n'), "One too many"}));
    EXPECT_TRUE(Logged("Device did not take \"" + std::string(21, 'n') + "\": it is not in its list"));
    EXPECT_TRUE(Logged("Device did not take \"One too many\""));
    Names ok{"Scan A"};
    EXPECT_TRUE(device.Update(&ok, true)) << NewLog();
    EXPECT_TRUE(device.GetNotTaken().empty());
    Names remove{"Photos"};
    EXPECT_TRUE(device.Update(&remove, false)) << NewLog();
    // Removing a name the device does not hold is no failure.
    Names theirs{"Nothing here", "Scan A"};
    EXPECT_TRUE(device.Update(&theirs, false));
    EXPECT_EQ(list->Dests().size(), 1u);
  }
}

// WinINet's codes are logged with WinINet's texts, not an empty one.
TEST_F(DeviceFixture, NetworkFailuresCarryTheirText) {
  test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Connection Type", "Network");
  test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "IP Address", "bad host");
  DeviceTalk device;
  Names thisPc, otherPcs;
  EXPECT_FALSE(device.GetList(thisPc, otherPcs));
  EXPECT_TRUE(Logged("InternetConnect failed: (12005) The URL is invalid")) << NewLog();
}

// "UsbWait" is read afresh on every pass; 0xFFFFFFFF would wait for ever, so every wait is the bound.
TEST_F(DeviceFixture, UsbWaitIsBounded) {
  test_common::SetDword(HKEY_CURRENT_USER, ValueGetter("").GetMainKeyPath(), "UsbWait", 4294967295u);
  const std::string document = Document(10, 10, {});
  ASSERT_TRUE(StartUsb([document](const std::string&) { return LoopbackServer::Ok(document, 64); }));
  CountingDeviceTalk device;
  Names thisPc, otherPcs;
  ASSERT_TRUE(device.GetList(thisPc, otherPcs)) << NewLog();
  ASSERT_FALSE(device.waits.empty());
  for (DWORD wait : device.waits) EXPECT_EQ(wait, DeviceTalk::kMaxUsbWaitMs);
  EXPECT_TRUE(Logged("UsbWait of 4294967295 ms is above the bound; 5000 ms used"));
}

// 125,000 attributes on one element (875 KB) cost the XML library 26 s; such a reply is refused before
// it is parsed. The bound is loose on purpose: the check itself takes milliseconds.
TEST_F(DeviceFixture, AttributeHeavyReplyIsRefusedBeforeParsing) {
  std::string heavy = "<ScanToDestinations><MaxScanToDestinations>1</MaxScanToDestinations><x";
  // Distinct names of three characters: " Xyz=''", 7 bytes each.
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string more = letters + "0123456789";
  for (int i = 0; i < 125000; ++i)
    heavy += std::string(" ") + letters[i / (62 * 62)] + more[(i / 62) % 62] + more[i % 62] + "=''";
  heavy += "/></ScanToDestinations>";
  ASSERT_GT(heavy.size(), 850000u);
  ASSERT_LT(heavy.size(), DeviceTalk::kMaxResponseBytes);
  ASSERT_TRUE(StartNetwork([heavy](const std::string&) { return LoopbackServer::Ok(heavy); }));
  DeviceTalk device;
  Names thisPc, otherPcs;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(device.GetList(thisPc, otherPcs));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  std::printf("attribute-heavy reply of %zu bytes refused in %.3f s\n", heavy.size(), seconds);
  EXPECT_TRUE(
      Logged("Response from device was refused before parsing: an element has more than 64 attributes"))
      << NewLog();
}

}  // namespace
}  // namespace device_test
