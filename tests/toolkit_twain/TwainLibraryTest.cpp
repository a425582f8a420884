// The TWAIN library's entry points against SANE's test backend: sources, pages of each pixel type,
// area and resolution, feeder batches, cancel and injected device faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "pxtwain/PxTwainApi.h"
#include "tests/toolkit_twain/SaneTestBackend.h"
#include "toolkit/twain/PageReader.h"
#include "toolkit/twain/SourceTable.h"
#include "toolkit/twain/TwainSession.h"

namespace {

using twain_test::SaneTestBackend;
using Options = std::map<std::string, std::string>;

SaneTestBackend& Backend() {
  static SaneTestBackend backend;
  return backend;
}

struct Pages {
  std::vector<PxPage*> pages;
  int stopAfter = 0;  // 0: take every page
  ~Pages() {
    for (PxPage* p : pages) pxtwain::PageReader::FreePage(p);
  }
  static int Take(void* self, PxPage* page) {
    auto* me = static_cast<Pages*>(self);
    me->pages.push_back(page);
    return me->stopAfter > 0 && static_cast<int>(me->pages.size()) >= me->stopAfter ? 0 : 1;
  }
};

// One open session over a freshly configured backend.
class Session {
 public:
  explicit Session(const std::map<std::string, std::string>& options = {}) {
    Backend().Configure(options);
    EXPECT_EQ(PxTwn_Open(&m_session), PX_TWN_OK);
  }
  ~Session() { PxTwn_Close(m_session); }
  PxTwnSession* get() const { return m_session; }

  // The record with the image fields set, the first source chosen.
  PxTwainProps Props(int pixelType, int dpi, int widthTwips, int heightTwips) {
    PxTwainProps props{};
    EXPECT_EQ(PxTwn_GetProperties(m_session, &props), PX_TWN_OK);
    props.pixelType = pixelType;
    props.bitDepth = pixelType == PX_TWN_PIXEL_BW ? 1 : pixelType == PX_TWN_PIXEL_GRAY ? 8 : 24;
    props.resolution = dpi;
    props.width = widthTwips;
    props.height = heightTwips;
    return props;
  }

  int Acquire(const PxTwainProps& props, Pages& pages, PxTwnProgressFn progress = nullptr) {
    PxTwainProps copy = props;
    const int set = PxTwn_SetProperties(m_session, &copy, PX_TWN_SET_IDENTITY | PX_TWN_SET_IMAGE);
    if (set != PX_TWN_OK) return set;
    PxTwnAcquire request{};
    request.page = &Pages::Take;
    request.progress = progress;
    request.context = &pages;
    return PxTwn_Acquire(m_session, &request);
  }

 private:
  PxTwnSession* m_session = nullptr;
};

int Pixel(const PxPage& page, int x, int y) {
  const uint8_t* row = page.pixels + static_cast<size_t>(y) * page.stride;
  if (page.bitsPerPixel == 1) return (row[x / 8] >> (7 - x % 8)) & 1;
  if (page.bitsPerPixel == 8) return row[x];
  return (row[3 * x] << 16) | (row[3 * x + 1] << 8) | row[3 * x + 2];
}

std::set<int> Values(const PxPage& page) {
  std::set<int> values;
  for (int y = 0; y < page.height; y += 3)
    for (int x = 0; x < page.width; x += 3) values.insert(Pixel(page, x, y));
  return values;
}

TEST(TwainLibrary, SourcesAreTheTableThenTheOtherDevicesByVendorAndModel) {
  auto names = [](const std::vector<PxTwnSourceEntry>& table) {
    Session session;
    EXPECT_EQ(PxTwn_SetSourceTable(session.get(), table.data(), static_cast<int>(table.size())), PX_TWN_OK);
    std::vector<std::string> list;
    EXPECT_EQ(PxTwn_EnumSources(
                  session.get(),
                  [](void* l, const char* name) {
                    static_cast<std::vector<std::string>*>(l)->push_back(name);
                    return 1;
                  },
                  &list),
              PX_TWN_OK);
    return list;
  };
  EXPECT_EQ(names({}), (std::vector<std::string>{"Noname frontend-tester", "Noname frontend-tester #2"}));
  const std::vector<PxTwnSourceEntry> table = {{"NX Pressline TWAIN", "test:1"}};
  EXPECT_EQ(names(table), (std::vector<std::string>{"NX Pressline TWAIN", "Noname frontend-tester"}));
  // The table's name reaches the device it names.
  Session session;
  ASSERT_EQ(PxTwn_SetSourceTable(session.get(), table.data(), 1), PX_TWN_OK);
  PxTwainProps props{};
  ASSERT_EQ(PxTwn_GetProperties(session.get(), &props), PX_TWN_OK);
  std::strcpy(props.sourceName, "NX Pressline TWAIN");
  ASSERT_EQ(PxTwn_SetProperties(session.get(), &props, PX_TWN_SET_IDENTITY), PX_TWN_OK);
  ASSERT_EQ(PxTwn_GetProperties(session.get(), &props), PX_TWN_OK);
  EXPECT_STREQ(props.saneDevice, "test:1");
  // Entries that are empty or unterminated are refused whole.
  PxTwnSourceEntry bad{};
  std::memset(bad.name, 'x', sizeof bad.name);
  std::strcpy(bad.device, "test:0");
  EXPECT_EQ(PxTwn_SetSourceTable(session.get(), &bad, 1), PX_TWN_E_ARGUMENT);
  EXPECT_EQ(PxTwn_SetSourceTable(session.get(), nullptr, 3), PX_TWN_E_ARGUMENT);
}

TEST(TwainLibrary, DeviceNamesAreCutToTheRecordAndMadeUnique) {
  const std::string longName = "Vendor Incorporated Scanmaster 9000 Pro Deluxe";
  const std::vector<pxtwain::SourceEntry> found = {
      {longName, "a:1"}, {longName, "a:2"}, {"NX Own", "b:1"}, {"V \xC3\xA9\xC3\xA9", "c:1"}};
  const auto named = pxtwain::TwainSession::NameDevices({{"NX Own", "b:1"}}, found);
  ASSERT_EQ(named.size(), 4u);
  EXPECT_EQ(named[0].name, "NX Own");
  EXPECT_EQ(named[1].name, longName.substr(0, 36));
  EXPECT_EQ(named[2].name, longName.substr(0, 33) + " #2");
  EXPECT_EQ(named[3].name, "V \xC3\xA9\xC3\xA9");
  for (const auto& e : named) EXPECT_LE(e.name.size(), 36u);
  // A cut never splits a UTF-8 character.
  const auto cut = pxtwain::TwainSession::NameDevices({}, {{std::string(35, 'x') + "\xC3\xA9", "d:1"}});
  EXPECT_EQ(cut[0].name, std::string(35, 'x'));
}

struct PageCase {
  const char* name;
  int pixelType;
  const char* picture;
  int bits;
  std::set<int> values;  // every pixel value the page may hold
};

TEST(TwainLibrary, PagesOfEachPixelTypeHoldWhatTheDeviceSent) {
  const PageCase cases[] = {
      {"colour white", PX_TWN_PIXEL_RGB, "\"Solid white\"", 24, {0xFFFFFF}},
      {"colour black", PX_TWN_PIXEL_RGB, "\"Solid black\"", 24, {0}},
      {"grey white", PX_TWN_PIXEL_GRAY, "\"Solid white\"", 8, {255}},
      {"grey black", PX_TWN_PIXEL_GRAY, "\"Solid black\"", 8, {0}},
      {"line art white", PX_TWN_PIXEL_BW, "\"Solid white\"", 1, {1}},
      {"line art black", PX_TWN_PIXEL_BW, "\"Solid black\"", 1, {0}},
      {"line art grid", PX_TWN_PIXEL_BW, "Grid", 1, {0, 1}},
  };
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(Options{{"test-picture", c.picture}});
    Pages pages;
    ASSERT_EQ(session.Acquire(session.Props(c.pixelType, 100, 1440, 720), pages), 1);
    const PxPage& page = *pages.pages[0];
    EXPECT_EQ(page.bitsPerPixel, c.bits);
    EXPECT_NEAR(page.width, 100, 2);
    EXPECT_NEAR(page.height, 50, 2);
    EXPECT_EQ(page.xDpi, 100);
    EXPECT_EQ(page.stride % 4, 0);
    EXPECT_EQ(Values(page), c.values);
  }
}

TEST(TwainLibrary, ColourPatternThreePassAndHandScannerPages) {
  {
    Session session(Options{{"test-picture", "\"Color pattern\""}});
    Pages pages;
    ASSERT_EQ(session.Acquire(session.Props(PX_TWN_PIXEL_RGB, 75, 2880, 2880), pages), 1);
    EXPECT_GT(Values(*pages.pages[0]).size(), 4u);
  }
  {
    Session session(Options{{"three-pass", "true"}, {"test-picture", "\"Solid white\""}});
    Pages pages;
    ASSERT_EQ(session.Acquire(session.Props(PX_TWN_PIXEL_RGB, 50, 1440, 1440), pages), 1);
    EXPECT_EQ(pages.pages[0]->bitsPerPixel, 24);
    EXPECT_EQ(Values(*pages.pages[0]), std::set<int>{0xFFFFFF});
  }
  {
    // Lines longer than their pixels (bytes wasted at each line's end) keep their pixels in place.
    Session session(Options{{"ppl-loss", "7"}, {"test-picture", "Grid"}});
    Pages pages;
    ASSERT_EQ(session.Acquire(session.Props(PX_TWN_PIXEL_RGB, 254, 1440, 1440), pages), 1);
    const PxPage& page = *pages.pages[0];
    EXPECT_NEAR(page.width, 254 - 7, 2);
    // The grid's 10 mm squares (100 pixels at 254 dpi) alternate: each square is one colour, and the
    // squares of one row differ, which a shift of the lines would break.
    EXPECT_EQ(Pixel(page, 5, 50), Pixel(page, 95, 50));
    EXPECT_EQ(Pixel(page, 5, 250), Pixel(page, 95, 250));
    EXPECT_NE(Pixel(page, 50, 50), Pixel(page, 150, 50));
  }
  // A hand scanner does not know the height in advance: the page grows to what arrives.
  Session session(Options{{"hand-scanner", "true"}, {"test-picture", "\"Solid white\""}});
  Pages pages;
  ASSERT_EQ(session.Acquire(session.Props(PX_TWN_PIXEL_GRAY, 50, -1, -1), pages), 1);
  EXPECT_NEAR(pages.pages[0]->width, 110 / 25.4 * 50, 2);  // the hand scanner's fixed 11 cm
  EXPECT_GT(pages.pages[0]->height, 64);
  EXPECT_EQ(Values(*pages.pages[0]), std::set<int>{255});
}

// Reads that end inside a line (the line is gathered) or hold many lines (they go to the page
// directly) build the same page as the device's own read size.
TEST(TwainLibrary, ReadSizesDoNotChangeThePage) {
  const std::pair<int, const char*> cases[] = {
      {PX_TWN_PIXEL_RGB, "10007"}, {PX_TWN_PIXEL_GRAY, "333"}, {PX_TWN_PIXEL_RGB, "1"}};
  for (const auto& [pixelType, limit] : cases) {
    SCOPED_TRACE(limit);
    Pages whole, pieces;
    {
      Session session(Options{{"test-picture", "\"Color pattern\""}});
      ASSERT_EQ(session.Acquire(session.Props(pixelType, 75, 2880, 2880), whole), 1);
    }
    {
      Session session(
          Options{{"test-picture", "\"Color pattern\""}, {"read-limit", "true"}, {"read-limit-size", limit}});
      ASSERT_EQ(session.Acquire(session.Props(pixelType, 75, 2880, 2880), pieces), 1);
    }
    const PxPage& a = *whole.pages[0];
    const PxPage& b = *pieces.pages[0];
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    ASSERT_EQ(a.stride, b.stride);
    EXPECT_EQ(std::memcmp(a.pixels, b.pixels, size_t(a.stride) * size_t(a.height)), 0);
  }
}

TEST(TwainLibrary, AreaAndResolutionDecideThePageSize) {
  struct Case {
    int dpi, left, top, width, height;  // twips
    int expectWidth, expectHeight;
  } const cases[] = {
      {50, 0, 0, 1440 * 2, 1440 * 3, 100, 150},
      {150, 0, 0, 1440, 720, 150, 75},
      {300, 1440, 1440, 720, 360, 150, 75},           // offset from the corner keeps the size
      {200, 0, 0, 1440 * 20, 1440 * 20, 2362, 2362},  // beyond the glass: clamped to 300 mm
  };
  Session session(Options{{"test-picture", "\"Solid white\""}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    PxTwainProps props = session.Props(PX_TWN_PIXEL_GRAY, c.dpi, c.width, c.height);
    props.left = c.left;
    props.top = c.top;
    Pages pages;
    ASSERT_EQ(session.Acquire(props, pages), 1);
    EXPECT_NEAR(pages.pages[0]->width, c.expectWidth, 2);
    EXPECT_NEAR(pages.pages[0]->height, c.expectHeight, 2);
    EXPECT_EQ(pages.pages[0]->yDpi, c.dpi);
  }
}

TEST(TwainLibrary, TheFeederDeliversEveryPageOfTheBatch) {
  Session session(Options{{"test-picture", "\"Solid white\""}});
  PxTwainProps props = session.Props(PX_TWN_PIXEL_GRAY, 25, 1440, 1440);
  props.feederSource = PX_TWN_SOURCE_FEEDER;
  Pages pages;
  EXPECT_EQ(session.Acquire(props, pages), 10);  // the test backend's feeder holds ten sheets
  EXPECT_EQ(pages.pages.size(), 10u);
  // The test device refills its feeder once it ran empty; the session is ready for the next batch.
  Pages again;
  EXPECT_EQ(session.Acquire(props, again), 10);
}

TEST(TwainLibrary, ACallbackThatStopsEndsTheBatchAndTheSessionGoesOn) {
  Session session(Options{{"test-picture", "\"Solid white\""}});
  PxTwainProps props = session.Props(PX_TWN_PIXEL_GRAY, 25, 1440, 1440);
  props.feederSource = PX_TWN_SOURCE_FEEDER;
  Pages pages;
  pages.stopAfter = 3;
  EXPECT_EQ(session.Acquire(props, pages), 3);
  props.feederSource = PX_TWN_SOURCE_FLATBED;
  Pages more;
  EXPECT_EQ(session.Acquire(props, more), 1);
}

TEST(TwainLibrary, DeviceFaultsEndTheAcquisitionWithTheirCode) {
  const struct {
    const char* status;
    int code;
  } cases[] = {
      {"SANE_STATUS_JAMMED", PX_TWN_E_JAMMED},         {"SANE_STATUS_NO_DOCS", PX_TWN_E_NO_DOCS},
      {"SANE_STATUS_COVER_OPEN", PX_TWN_E_COVER_OPEN}, {"SANE_STATUS_IO_ERROR", PX_TWN_E_IO},
      {"SANE_STATUS_NO_MEM", PX_TWN_E_NO_MEMORY},      {"SANE_STATUS_ACCESS_DENIED", PX_TWN_E_IO},
      {"SANE_STATUS_CANCELLED", PX_TWN_E_CANCELLED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    Session session(Options{{"read-status-code", std::string("\"") + c.status + "\""}});
    Pages pages;
    EXPECT_EQ(session.Acquire(session.Props(PX_TWN_PIXEL_GRAY, 50, 1440, 1440), pages), c.code);
    EXPECT_TRUE(pages.pages.empty());
    EXPECT_STRNE(PxTwn_LastError(session.get()), "");
  }
}

// A device that sends one byte per 200 ms: slow enough to cancel and to count as stalled.
const std::map<std::string, std::string> kSlowDevice = {{"read-limit", "true"},
                                                        {"read-limit-size", "1"},
                                                        {"read-delay", "true"},
                                                        {"read-delay-duration", "200000"}};

TEST(TwainLibrary, AStalledDeviceEndsInBoundedTime) {
  Session session(kSlowDevice);
  PxTwainProps props = session.Props(PX_TWN_PIXEL_GRAY, 50, 1440, 1440);
  props.stallMs = 50;
  Pages pages;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(session.Acquire(props, pages), PX_TWN_E_STALLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_TRUE(pages.pages.empty());
}

TEST(TwainLibrary, CancelWhileAPageIsReadGivesTheCancelResult) {
  Session session(kSlowDevice);
  Pages pages;
  const int rc = session.Acquire(session.Props(PX_TWN_PIXEL_GRAY, 50, 1440, 1440), pages,
                                 [](void*, int page, long long, long long) { return page == 1 ? 1 : 0; });
  EXPECT_EQ(rc, PX_TWN_E_CANCELLED);
  EXPECT_TRUE(pages.pages.empty());
}

TEST(TwainLibrary, BadRecordsAndCallsAreRefused) {
  Session session;
  PxTwainProps good{};
  ASSERT_EQ(PxTwn_GetProperties(session.get(), &good), PX_TWN_OK);
  struct Case {
    const char* what;
    void (*change)(PxTwainProps&);
    int flags;
    int code;
  } const cases[] = {
      {"depth 16", [](PxTwainProps& p) { p.bitDepth = 16; }, PX_TWN_SET_IMAGE, PX_TWN_E_ARGUMENT},
      {"brightness 1500", [](PxTwainProps& p) { p.brightness = 1500; }, PX_TWN_SET_IMAGE, PX_TWN_E_ARGUMENT},
      {"negative width", [](PxTwainProps& p) { p.width = -5; }, PX_TWN_SET_IMAGE, PX_TWN_E_ARGUMENT},
      {"unterminated name", [](PxTwainProps& p) { std::memset(p.sourceName, 'x', sizeof p.sourceName); },
       PX_TWN_SET_IDENTITY, PX_TWN_E_ARGUMENT},
      {"unknown source", [](PxTwainProps& p) { std::strcpy(p.sourceName, "NX Nowhere"); },
       PX_TWN_SET_IDENTITY, PX_TWN_E_NO_SOURCE},
      {"unknown flag", [](PxTwainProps&) {}, 0x40, PX_TWN_E_ARGUMENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PxTwainProps props = good;
    c.change(props);
    EXPECT_EQ(PxTwn_SetProperties(session.get(), &props, c.flags), c.code);
  }
  PxTwnSession* second = nullptr;
  EXPECT_EQ(PxTwn_Open(&second), PX_TWN_E_STATE);  // SANE has one state per process
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(PxTwn_Acquire(session.get(), nullptr), PX_TWN_E_ARGUMENT);
}

TEST(TwainLibrary, ATableEntryForAMissingDeviceFailsToOpen) {
  Session session;
  const PxTwnSourceEntry gone = {"NX Gone TWAIN", "test:7"};
  ASSERT_EQ(PxTwn_SetSourceTable(session.get(), &gone, 1), PX_TWN_OK);
  PxTwainProps props{};
  ASSERT_EQ(PxTwn_GetProperties(session.get(), &props), PX_TWN_OK);
  std::strcpy(props.sourceName, "NX Gone TWAIN");
  EXPECT_EQ(PxTwn_SetProperties(session.get(), &props, PX_TWN_SET_IDENTITY), PX_TWN_E_OPEN);
}

TEST(TwainLibrary, DeviceOptionsDescribeTheTestDevice) {
  Session session;
  PxTwnDeviceOptions options{};
  ASSERT_EQ(PxTwn_GetDeviceOptions(session.get(), &options), PX_TWN_OK);
  EXPECT_EQ(options.pixelTypes, 7);  // grey and colour modes; line art through depth 1
  EXPECT_TRUE(options.hasFeeder);
  EXPECT_EQ(options.sourceCount, 2);
  EXPECT_NEAR(options.maxWidth, 300 * 1440 / 25.4, 2);
  ASSERT_GT(options.resolutionCount, 3);
  EXPECT_EQ(options.resolutions[0], 75);
}

}  // namespace
