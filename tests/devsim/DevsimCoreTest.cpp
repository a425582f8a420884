// The simulator's parts without sockets: the list and its update form, form decoding, request reading,
// fault specs and response framing.
#include <gtest/gtest.h>

#include "DestinationList.h"
#include "EndpointAddress.h"
#include "FaultPlan.h"
#include "FormCodec.h"
#include "HttpRequestReader.h"
#include "ResponseStream.h"
#include "SimClient.h"
#include "platform/inet/HttpText.h"

using namespace devsim;

namespace {

std::string Ids(const DestinationList& list) {
  std::string out;
  for (const auto& e : list.Entries())
    out += std::to_string(e.nId) + ":" + e.strHostId + "/" + e.strDisplay + "/" + e.strType + " ";
  return out;
}

}  // namespace

TEST(FormCodec, DecodesTheProgramsEncodings) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"PC7%5eScan+A%5eDestFolder", "PC7^Scan A^DestFolder"},
      {"My+Docs+1%30%5ex", "My Docs 10^x"},
      {"%C3%A9t%c3%a9", "\xC3\xA9t\xC3\xA9"},
      {"%E2%82%AC", "\xE2\x82\xAC"},
      {"100%", "100%"},
      {"%zz%4", "%zz%4"},
      {"a%2fb", "a/b"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormCodec::PercentDecode(c.in), std::string(c.out)) << c.in;
  EXPECT_EQ(FormCodec::PercentDecode("%00x"), std::string("\0x", 2));
  const auto fields = FormCodec::Parse("a=1&&b&c=x%3dy&=z");
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[1].first, "b");
  EXPECT_EQ(fields[2].second, "x=y");
  EXPECT_EQ(FormCodec::Field("HostID=PC%207&x=1", "HostID"), "PC 7");
  const platform::inet::PercentStyle unreserved{platform::inet::kUrlUnreserved};
  EXPECT_EQ(FormCodec::PercentDecode(platform::inet::PercentEncode("a b^\xC3\xA9/&", unreserved)),
            "a b^\xC3\xA9/&");
}

TEST(DestinationList, AppliesTheUpdateForm) {
  DestinationList list(5);
  auto r =
      list.ApplyForm("AddScanToDest_1=PC7%5eScan+A%5eDestFolder&AddScanToDest_2=PC7%5ePhotos%5eDestFolder");
  EXPECT_EQ(r.nAdded, 2);
  EXPECT_EQ(Ids(list), "0:PC7/Scan A/DestFolder 1:PC7/Photos/DestFolder ");
  // The same host and name again keeps one entry; another host's same name is another entry.
  list.ApplyForm("AddScanToDest_1=PC7%5eScan+A%5eDestFolder&AddScanToDest_2=pc7%5eScan+A%5eDestFolder");
  EXPECT_EQ(list.Entries().size(), 3u);
  r = list.ApplyForm("RemoveScanToDest_1=Scan+A&RemoveScanToDest_2=Nobody");
  EXPECT_EQ(r.nRemoved, 2);
  EXPECT_EQ(Ids(list), "1:PC7/Photos/DestFolder ");
  // The lowest free slot is reused; a name may hold "^"; non-ASCII arrives as UTF-8.
  list.ApplyForm("AddScanToDest_1=H%5ea%5eb%5eDestFolder&AddScanToDest_2=H%5e%C3%A9t%C3%A9%5eDestFolder");
  EXPECT_EQ(Ids(list), "0:H/a^b/DestFolder 1:PC7/Photos/DestFolder 2:H/\xC3\xA9t\xC3\xA9/DestFolder ");
  // Full list, no "^", control characters, unknown keys: refused, nothing changes.
  r = list.ApplyForm(
      "AddScanToDest_1=H%5ec%5eT&AddScanToDest_2=H%5ed%5eT&AddScanToDest_3=H%5ee%5eT&AddScanToDest_4=noCaret&"
      "AddScanToDest_5=H%5ex%0d%0ay%5eT&Bogus=1");
  EXPECT_EQ(r.nAdded, 2);
  EXPECT_EQ(r.nRefused, 4);
  EXPECT_EQ(list.Entries().size(), 5u);
}

TEST(DestinationList, DocumentCountsAndEscapes) {
  DestinationList list(10);
  std::string why;
  ASSERT_TRUE(list.Seed("# comment\n0^PC7^A&B <x>^DestFolder\r\n\n9^OTHER^Photos\n", why)) << why;
  const std::string doc = list.Document();
  EXPECT_NE(doc.find("<MaxScanToDestinations>10</MaxScanToDestinations>"), std::string::npos);
  EXPECT_NE(doc.find("<AvailableScanToDestinations>8</AvailableScanToDestinations>"), std::string::npos);
  EXPECT_NE(
      doc.find("<ScanToDestination DestinationID=\"0\"><HostID>PC7</HostID><DeviceDisplay>A&amp;B &lt;x&gt;"
               "</DeviceDisplay>"),
      std::string::npos);
  EXPECT_LT(doc.find("DestinationID=\"0\""), doc.find("DestinationID=\"9\""));
  EXPECT_EQ(doc.find("\r\n"), std::string::npos);
  // A dump seeds the same list.
  DestinationList again(10);
  ASSERT_TRUE(again.Seed(list.Dump(), why)) << why;
  EXPECT_EQ(again.Document(), doc);
}

TEST(DestinationList, RefusesBadSeeds) {
  for (const char* seed : {"10^H^N^T", "-1^H^N^T", "x^H^N", "3^H", "1^H^^T", "1^H^N\n1^H^M"}) {
    DestinationList list(10);
    std::string why;
    EXPECT_FALSE(list.Seed(seed, why)) << seed;
    EXPECT_FALSE(why.empty());
  }
}

TEST(DestinationList, PanelRequestsGoToTheirHostOnce) {
  DestinationList list;
  std::string why;
  ASSERT_TRUE(list.Seed("0^PC7^Scan A^F\n4^OTHER^Photos^F\n", why));
  EXPECT_TRUE(list.RaiseScanRequest("Photos"));
  EXPECT_TRUE(list.RaiseScanRequest("0"));
  EXPECT_FALSE(list.RaiseScanRequest("Nothing"));
  EXPECT_FALSE(list.TakeScanRequest("pc7"));  // host IDs compare exactly
  const auto mine = list.TakeScanRequest("PC7");
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->strDisplay, "Scan A");
  EXPECT_FALSE(list.TakeScanRequest("PC7"));
  EXPECT_EQ(list.Pending(), 1u);
  EXPECT_NE(DestinationList::RequestDocument(mine).find(
                "<Pending>1</Pending><DestinationID>0</DestinationID>"
                "<HostID>PC7</HostID><DeviceDisplay>Scan A</DeviceDisplay>"),
            std::string::npos);
  EXPECT_NE(DestinationList::RequestDocument(std::nullopt).find("<Pending>0</Pending>"), std::string::npos);
}

TEST(HttpRequestReader, ReadsTheProgramsUsbRequestsByteByByte) {
  const std::string body = "AddScanToDest_1=PC7%5eScan+A%5eDestFolder";
  const std::string stream =
      "GET /nx/device/info_scanto_destinations.xml HTTP/1.1\r\nHost: "
      "localhost:5225\r\nContent-Length:0\r\n\r\n\r\n\r\n"
      "POST /nx/device/set_config.html HTTP/1.1\r\nHost: localhost:5225\r\nContent-Length:" +
      std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n\r\n";
  HttpRequestReader reader;
  std::string buffer;
  std::vector<HttpRequest> got;
  for (const char c : stream) {
    buffer += c;
    HttpRequest request;
    while (reader.Feed(buffer, request) == HttpRequestReader::Status::Ready) got.push_back(request);
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].strMethod, "GET");
  EXPECT_EQ(got[0].Path(), "/nx/device/info_scanto_destinations.xml");
  EXPECT_EQ(got[1].strBody, body);
  EXPECT_EQ(got[1].Header("content-length"), std::to_string(body.size()));
}

TEST(HttpRequestReader, RefusesHostileRequests) {
  const struct {
    std::string text;
    int status;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400},
      {"GET / FTP/1.0\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"GET / HTTP/1.1\r\nX: " + std::string(20000, 'a'), 400},
  };
  for (const auto& c : cases) {
    HttpRequestReader reader;
    std::string buffer = c.text;
    HttpRequest request;
    EXPECT_EQ(reader.Feed(buffer, request), HttpRequestReader::Status::Bad) << c.text.substr(0, 40);
    EXPECT_EQ(reader.ErrorStatus(), c.status);
    std::string more = "GET / HTTP/1.1\r\n\r\n";
    EXPECT_EQ(reader.Feed(more, request), HttpRequestReader::Status::Bad);
  }
}

TEST(FaultPlan, ParsesSpecsAndRefusesBadOnes) {
  FaultPlan plan;
  std::string why;
  ASSERT_TRUE(FaultPlan::Parse("on=list,times=2,chunk=7,delay=10,chunk-delay=5,stall=40", plan, why)) << why;
  EXPECT_EQ(plan.target, Target::List);
  EXPECT_EQ(plan.nTimes, 2);
  EXPECT_EQ(plan.nChunk, 7u);
  EXPECT_EQ(plan.nStallAfter, 40);
  ASSERT_TRUE(FaultPlan::Parse("length-delta=-5,pad=endless,status=503,badchunk=short,drop", plan, why));
  EXPECT_EQ(plan.framing, Framing::Length);
  EXPECT_EQ(plan.nLengthDelta, -5);
  EXPECT_EQ(plan.nPad, FaultPlan::kEndless);
  EXPECT_EQ(plan.nDropAfter, 0);
  for (const char* bad : {"on=all", "chunk=0", "delay=-1", "status=99", "badchunk=x", "pad=lots", "wobble=1",
                          "times=1x", "body="}) {
    EXPECT_FALSE(FaultPlan::Parse(bad, plan, why)) << bad;
    EXPECT_FALSE(why.empty());
  }
}

namespace {

std::string Drain(ResponseStream& stream) {
  std::string out;
  while (!stream.Done()) out += stream.Next();
  return out;
}

}  // namespace

TEST(ResponseStream, FramesBodiesAsAsked) {
  FaultPlan plan;
  ResponseStream chunked(200, "text/xml", "<a><b>x</b></a>", 0, "", plan, 4, true);
  const std::string wire = Drain(chunked);
  EXPECT_EQ(wire.substr(wire.find("\r\n\r\n") + 4),
            "4\r\n<a><\r\n4\r\nb>x<\r\n4\r\n/b><\r\n3\r\n/a>\r\n0\r\n\r\n");
  EXPECT_FALSE(chunked.CloseAfter());

  std::string why;
  ASSERT_TRUE(FaultPlan::Parse("pad=100000,chunk=999", plan, why));
  ResponseStream padded(200, "text/xml", "<r><!--", plan.nPad, "--></r>", plan, 1024, true);
  bool ok = false;
  const std::string body = simtest::Dechunk(Drain(padded), ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(body.size(), 100000u + 14u);

  ASSERT_TRUE(FaultPlan::Parse("length-delta=5", plan, why));
  ResponseStream longer(200, "text/xml", "12345", 0, "", plan, 1024, true);
  EXPECT_NE(Drain(longer).find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_TRUE(longer.CloseAfter());

  for (const char* spec : {"badchunk=hex", "badchunk=short", "badchunk=noend"}) {
    ASSERT_TRUE(FaultPlan::Parse(spec, plan, why));
    ResponseStream broken(200, "text/xml", "<a>x</a>", 0, "", plan, 1024, true);
    simtest::Dechunk(Drain(broken), ok);
    EXPECT_FALSE(ok) << spec;
  }

  ASSERT_TRUE(FaultPlan::Parse("pad=endless", plan, why));
  ResponseStream endless(200, "text/xml", "<r>", plan.nPad, "</r>", plan, 1024, true);
  std::size_t total = 0;
  for (int i = 0; i < 2000; ++i) total += endless.Next().size();
  EXPECT_FALSE(endless.Done());
  EXPECT_GT(total, 1000u * 1024u);
}

TEST(EndpointAddress, AcceptsLoopbackAndUnixFormsOnly) {
  const struct {
    const char* text;
    bool ok;
    const char* described;
  } cases[] = {
      {"127.0.0.5", true, "127.0.0.5:80"},
      {"127.1.2.3:8080", true, "127.1.2.3:8080"},
      {"tcp:127.0.0.1:0", true, "127.0.0.1:0"},
      {"5225", true, "127.0.0.1:5225"},
      {"[::1]:81", true, "[::1]:81"},
      {"unix:/tmp/x.sock", true, "unix:/tmp/x.sock"},
      {"/tmp/y.sock", true, "unix:/tmp/y.sock"},
      {"10.0.0.1:80", false, ""},
      {"0.0.0.0:80", false, ""},
      {"localhost:80", false, ""},
      {"[::1", false, ""},
      {"127.0.0.1:65536", false, ""},
      {"unix:", false, ""},
  };
  for (const auto& c : cases) {
    EndpointAddress spec;
    std::string why;
    ASSERT_EQ(EndpointAddress::Parse(c.text, EndpointKind::Usb, spec, why), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(spec.Describe(), c.described);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}
