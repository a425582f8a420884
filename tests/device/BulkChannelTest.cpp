// The "Port" forms the USB channel library accepts, and the ones it must refuse (never a remote host).
#include <gtest/gtest.h>

#include "portbridge/BulkChannel.h"

namespace {

TEST(BulkChannelTest, PortFormsAndLoopbackOnly) {
  struct Case {
    const char* text;
    bool ok;
    bool unixSocket;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"5225", true, false, "127.0.0.1", 5225},
      {"127.0.0.5:80", true, false, "127.0.0.5", 80},
      {"127.255.1.2:65535", true, false, "127.255.1.2", 65535},
      {"localhost:631", true, false, "127.0.0.1", 631},
      {"[::1]:60000", true, false, "::1", 60000},
      {"::1:60000", true, false, "::1", 60000},
      {"unix:/run/ippusb.sock", true, true, "", 0},
      {"192.168.1.20:80", false, false, "", 0},
      {"10.0.0.1:80", false, false, "", 0},
      {"[2001:db8::1]:80", false, false, "", 0},
      {"printer.local:80", false, false, "", 0},
      {"0", false, false, "", 0},
      {"65536", false, false, "", 0},
      {"127.0.0.1:", false, false, "", 0},
      {"127.0.0.1:-5", false, false, "", 0},
      {"unix:", false, false, "", 0},
      {"usb:0001", false, false, "", 0},
      {"", false, false, "", 0},
  };
  for (const Case& c : cases) {
    portbridge::Endpoint endpoint;
    ASSERT_EQ(portbridge::BulkChannel::ParseEndpoint(c.text, endpoint), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(endpoint.unixSocket, c.unixSocket) << c.text;
    if (!c.unixSocket) {
      EXPECT_EQ(endpoint.host, c.host) << c.text;
      EXPECT_EQ(endpoint.port, c.port) << c.text;
    }
  }
  portbridge::BulkChannel channel;
  EXPECT_FALSE(channel.Open("192.168.1.20:80"));
  EXPECT_EQ(channel.LastError(), portbridge::BridgeError::kBadEndpoint);
  EXPECT_EQ(channel.Available(), 0u);
  EXPECT_EQ(channel.LastError(), portbridge::BridgeError::kNotOpen);
}

}  // namespace
