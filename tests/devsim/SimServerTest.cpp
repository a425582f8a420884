// The simulator as a program: its endpoints, documents, update form, control requests, faults and
// ending, seen through raw sockets.
#include <gtest/gtest.h>

#include <map>

#include "SimClient.h"

using namespace simtest;

namespace {

const std::string kList =
    "GET /nx/device/info_scanto_destinations.xml HTTP/1.1\r\nHost: "
    "localhost:5225\r\nContent-Length:0\r\n\r\n\r\n\r\n";

std::string Post(const std::string& path, const std::string& body) {
  return "POST " + path +
         " HTTP/1.1\r\nHost: localhost:5225\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" +
         body + "\r\n\r\n";
}

class SimServerTest : public ::testing::Test {
 protected:
  void SetUp() override { m_dir = ScratchDir("devsim-test"); }
  void TearDown() override {
    m_sim.Stop();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  // Starts the simulator with an HTTP endpoint on a free port and a USB endpoint on a Unix socket.
  void Start(std::vector<std::string> extra) {
    std::vector<std::string> args = {std::string(MARLIN3_BIN_DIR) + "/marlin3-devsim",
                                     "--http",
                                     "127.0.0.1:0",
                                     "--usb",
                                     "unix:" + (m_dir / "usb.sock").string(),
                                     "--ready-file",
                                     (m_dir / "ready").string(),
                                     "--state-out",
                                     (m_dir / "state").string(),
                                     "--log",
                                     (m_dir / "log").string(),
                                     "--lifetime",
                                     "60"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(m_sim.Start(args));
    ASSERT_TRUE(WaitForFile(m_dir / "ready")) << ReadFile(m_dir / "log");
    std::istringstream lines(ReadFile(m_dir / "ready"));
    for (std::string line; std::getline(lines, line);) {
      const auto eq = line.find('=');
      m_endpoints[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  std::string Body(const std::string& endpoint, const std::string& request) {
    bool ok = false;
    const std::string body = Dechunk(Exchange(endpoint, request).bytes, ok);
    EXPECT_TRUE(ok);
    return body;
  }
  std::string State() { return ReadFile(m_dir / "state"); }

  fs::path m_dir;
  Child m_sim;
  std::map<std::string, std::string> m_endpoints;
};

}  // namespace

TEST_F(SimServerTest, ServesTheListAndTheFormOnBothEndpoints) {
  Start({"--entry", "0^PC7^Scan A^DestFolder", "--entry", "4^OTHER^Photos^DestFolder", "--chunk", "50"});
  for (const char* kind : {"http", "usb"}) {
    const std::string response = Exchange(m_endpoints[kind], kList).bytes;
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << kind;
    EXPECT_NE(response.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_NE(response.find("\r\n32\r\n"), std::string::npos) << "50-byte chunks";
    bool ok = false;
    const std::string body = Dechunk(response, ok);
    EXPECT_TRUE(ok);
    EXPECT_NE(body.find("<AvailableScanToDestinations>28</AvailableScanToDestinations>"), std::string::npos);
    EXPECT_NE(body.find("DestinationID=\"4\"><HostID>OTHER</HostID><DeviceDisplay>Photos</DeviceDisplay>"),
              std::string::npos);
  }
  Body(m_endpoints["usb"],
       Post("/nx/device/set_config.html",
            "AddScanToDest_1=PC7%5eScan+B%5eDestFolder&AddScanToDest_2=PC7%5e%E2%82%AC%5eDestFolder"));
  EXPECT_EQ(State(),
            "# slots=30 pending=0\n0^PC7^Scan A^DestFolder\n1^PC7^Scan B^DestFolder\n"
            "2^PC7^\xE2\x82\xAC^DestFolder\n4^OTHER^Photos^DestFolder\n");
  Body(m_endpoints["http"], Post("/nx/device/set_config.html", "RemoveScanToDest_1=Scan+A"));
  EXPECT_EQ(State().find("Scan A"), std::string::npos);
  EXPECT_NE(Body(m_endpoints["http"], "GET /sim/state HTTP/1.1\r\n\r\n").find("1^PC7^Scan B"),
            std::string::npos);
  // Wrong verbs and unknown paths.
  EXPECT_TRUE(Exchange(m_endpoints["http"], "GET /nx/device/set_config.html HTTP/1.1\r\n\r\n")
                  .bytes.starts_with("HTTP/1.1 405"));
  EXPECT_TRUE(
      Exchange(m_endpoints["http"], "GET /index.html HTTP/1.1\r\n\r\n").bytes.starts_with("HTTP/1.1 404"));
}

TEST_F(SimServerTest, KeepsTheConnectionForSeveralRequests) {
  Start({"--entry", "3^PC7^Scan A^F"});
  const int fd = Connect(m_endpoints["usb"]);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(SendAll(fd, kList));
    const auto got = ReadUntil(fd, "\r\n0\r\n\r\n");
    EXPECT_FALSE(got.bClosed);
    EXPECT_NE(got.bytes.find("DestinationID=\"3\""), std::string::npos);
  }
  close(fd);
}

TEST_F(SimServerTest, PanelRequestsReachTheirHostOnce) {
  Start({"--entry", "0^PC7^Scan A^F", "--entry", "1^OTHER^Photos^F", "--panel", "Scan A"});
  const std::string ask = "GET /nx/device/info_scanto_request.xml?HostID=PC7 HTTP/1.1\r\n\r\n";
  EXPECT_NE(Body(m_endpoints["http"], ask)
                .find("<Pending>1</Pending><DestinationID>0</DestinationID><HostID>PC7"
                      "</HostID><DeviceDisplay>Scan A</DeviceDisplay>"),
            std::string::npos);
  EXPECT_NE(Body(m_endpoints["http"], ask).find("<Pending>0</Pending>"), std::string::npos);
  EXPECT_TRUE(
      Exchange(m_endpoints["http"], Post("/sim/panel", "dest=Nothing")).bytes.starts_with("HTTP/1.1 404"));
  Body(m_endpoints["http"], Post("/sim/panel", "dest=1"));
  EXPECT_NE(State().find("pending=1"), std::string::npos);
  EXPECT_NE(Body(m_endpoints["usb"], ask).find("<Pending>0</Pending>"), std::string::npos);  // another host's
}

TEST_F(SimServerTest, FaultsShapeTheAnswers) {
  Start({"--entry", "0^PC7^Scan A^F", "--fault", "on=list,times=1,status=503"});
  const std::string& http = m_endpoints["http"];
  EXPECT_TRUE(Exchange(http, kList).bytes.starts_with("HTTP/1.1 503 Service Unavailable"));
  EXPECT_TRUE(Exchange(http, kList).bytes.starts_with("HTTP/1.1 200"));  // times=1 used up

  const struct {
    const char* spec;
    bool closed;        // the simulator closes the connection
    std::size_t bytes;  // exact response size, 0: not checked
    const char* has;    // text the raw answer holds
  } cases[] = {
      {"on=list,times=1,drop=0", true, 0, ""},
      {"on=list,times=1,drop=30", true, 30, "HTTP/1.1 200"},
      {"on=list,times=1,stall=40", false, 40, "HTTP/1.1 200"},
      {"on=list,times=1,length-delta=25", true, 0, "Connection: close"},
      {"on=list,times=1,badchunk=hex", false, 0, "\r\n\r\nzz\r\n<?xml"},
      {"on=list,times=1,badchunk=noend", true, 0, "</ScanToDestinations>\r\n"},
      {"on=list,times=1,framing=close", true, 0, "</ScanToDestinations>"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Exchange(http, Post("/sim/fault", c.spec)).bytes.starts_with("HTTP/1.1 200")) << c.spec;
    const auto got = Exchange(http, kList, "", 250ms);
    EXPECT_EQ(got.bClosed, c.closed) << c.spec;
    if (c.bytes != 0) {
      EXPECT_EQ(got.bytes.size(), c.bytes) << c.spec;
    }
    EXPECT_NE(got.bytes.find(c.has), std::string::npos) << c.spec;
  }
  // A shorter announced length leaves the rest as stray bytes after the body.
  Exchange(http, Post("/sim/fault", "on=list,times=1,length-delta=-10"));
  const std::string shortened = Exchange(http, kList, "", 300ms).bytes;
  const std::size_t start = shortened.find("\r\n\r\n") + 4;
  const std::size_t announced = std::stoul(shortened.substr(shortened.find("Content-Length: ") + 16));
  EXPECT_EQ(shortened.size() - start, announced + 10);
  // 16 MB inside the document, streamed.
  Exchange(http, Post("/sim/fault", "on=list,times=1,pad=16777216,chunk=65536"));
  const int fd = Connect(http);
  SendAll(fd, kList);
  std::size_t total = 0;
  for (;;) {
    const auto got = ReadUntil(fd, "", 2000ms);
    total += got.bytes.size();
    if (got.bClosed || got.bytes.empty() || got.bytes.ends_with("\r\n0\r\n\r\n")) break;
  }
  close(fd);
  EXPECT_GT(total, 16777216u);
  EXPECT_TRUE(Exchange(http, Post("/sim/fault", "wobble=1")).bytes.starts_with("HTTP/1.1 400"));
  // A refused update changes nothing.
  Exchange(http, Post("/sim/fault", "on=update,times=1,status=500"));
  EXPECT_TRUE(Exchange(http, Post("/nx/device/set_config.html", "AddScanToDest_1=PC7%5eX%5eF"))
                  .bytes.starts_with("HTTP/1.1 500"));
  EXPECT_EQ(State().find("^X^"), std::string::npos);
}

TEST_F(SimServerTest, DelaysAndBodyFiles) {
  const fs::path bomb = m_dir / "doc.xml";
  std::ofstream(bomb) << "<!DOCTYPE r [<!ENTITY a \"aaaa\">]><r>&a;</r>";
  Start({"--fault", "on=list,times=1,body=" + bomb.string(), "--fault",
         "on=list,times=1,delay=300,chunk=50,chunk-delay=20"});
  bool ok = false;
  EXPECT_EQ(Dechunk(Exchange(m_endpoints["http"], kList).bytes, ok), ReadFile(bomb));
  const auto before = std::chrono::steady_clock::now();
  const std::string slow = Exchange(m_endpoints["http"], kList).bytes;
  EXPECT_GE(std::chrono::steady_clock::now() - before, 300ms);
  EXPECT_NE(slow.find("\r\n32\r\n<?xml"), std::string::npos);
}

TEST_F(SimServerTest, RefusesTheFirstConnections) {
  Start({"--refuse", "2"});
  for (int i = 0; i < 2; ++i) {
    const auto got = Exchange(m_endpoints["usb"], kList, "", 1000ms);
    EXPECT_TRUE(got.bClosed);
    EXPECT_TRUE(got.bytes.empty());
  }
  EXPECT_TRUE(Exchange(m_endpoints["usb"], kList).bytes.starts_with("HTTP/1.1 200"));
}

TEST_F(SimServerTest, OpensLateWhenAsked) {
  ASSERT_TRUE(
      m_sim.Start({std::string(MARLIN3_BIN_DIR) + "/marlin3-devsim", "--usb",
                   "unix:" + (m_dir / "late.sock").string(), "--listen-delay", "300", "--lifetime", "10"}));
  std::this_thread::sleep_for(100ms);
  EXPECT_LT(Connect("unix:" + (m_dir / "late.sock").string()), 0);
  std::this_thread::sleep_for(600ms);
  const int fd = Connect("unix:" + (m_dir / "late.sock").string());
  EXPECT_GE(fd, 0);
  close(fd);
}

TEST_F(SimServerTest, EndsBySignalLifetimeOrRequest) {
  Start({"--lifetime", "1"});
  EXPECT_EQ(m_sim.Wait(4000ms), 0);
  EXPECT_FALSE(fs::exists(m_dir / "usb.sock"));
  fs::remove(m_dir / "ready");
  Start({});
  m_sim.Signal(SIGTERM);
  EXPECT_EQ(m_sim.Wait(3000ms), 0);
  fs::remove(m_dir / "ready");
  Start({});
  EXPECT_TRUE(Exchange(m_endpoints["http"], Post("/sim/quit", "")).bytes.starts_with("HTTP/1.1 200"));
  EXPECT_EQ(m_sim.Wait(3000ms), 0);
}

TEST(SimServerCommandLine, RefusesBadArguments) {
  const std::string sim = std::string(MARLIN3_BIN_DIR) + "/marlin3-devsim";
  const std::vector<std::vector<std::string>> cases = {
      {sim, "--http", "192.168.1.5:80"},
      {sim, "--http", "localhost:80"},
      {sim, "--http", "127.0.0.1:99999"},
      {sim, "--slots", "0"},
      {sim, "--fault", "on=nowhere"},
      {sim, "--entry", "40^H^N^T"},
      {sim, "--bogus", "1"},
      {sim, "--lifetime"},
      {sim},
  };
  for (const auto& args : cases) {
    Child child;
    ASSERT_TRUE(child.Start(args));
    EXPECT_EQ(child.Wait(3000ms), 2) << args.back();
  }
}

// The real set-up: port 80 of an address of its own; as root directly, and in a user and network namespace
// of its own (where the loopback interface starts down) as anyone.
TEST(SimServerPort80, ListensOnPort80OfItsOwnAddress) {
  const fs::path dir = ScratchDir("devsim-80");
  const std::string sim = std::string(MARLIN3_BIN_DIR) + "/marlin3-devsim";
  const std::string ready = (dir / "ready").string();
  if (geteuid() == 0) {
    Child child({sim, "--http", "127.0.83.1", "--ready-file", ready, "--entry", "7^PC7^Scan A^F",
                 "--lifetime", "20"});
    ASSERT_TRUE(WaitForFile(ready));
    EXPECT_EQ(ReadFile(ready), "http=127.0.83.1:80\n");
    bool ok = false;
    EXPECT_NE(
        Dechunk(
            Exchange("127.0.83.1:80", "GET /nx/device/info_scanto_destinations.xml HTTP/1.1\r\n\r\n").bytes,
            ok)
            .find("DestinationID=\"7\""),
        std::string::npos);
    EXPECT_TRUE(
        Exchange("127.0.83.1:80", "POST /sim/quit HTTP/1.1\r\n\r\n").bytes.starts_with("HTTP/1.1 200"));
    EXPECT_EQ(child.Wait(3000ms), 0);
    fs::remove(ready);
  }
  if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "no unshare to make a namespace";
  Child child({"/usr/bin/unshare", "-rn", sim, "--loopback-up", "--http", "127.0.83.1", "--ready-file", ready,
               "--lifetime", "1"});
  const bool came = WaitForFile(ready);
  const int code = child.Wait(4000ms);
  if (!came && geteuid() != 0) GTEST_SKIP() << "user namespaces not available here";
  EXPECT_EQ(ReadFile(ready), "http=127.0.83.1:80\n");
  EXPECT_EQ(code, 0);
  fs::remove_all(dir);
}
