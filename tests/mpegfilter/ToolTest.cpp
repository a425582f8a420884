// The command-line tools as people call them: pxmpeg-enc with no options on 720x576 and 720x480
// sources (a frame rate the level allows, said on standard error), saying when the content needs
// more than the rate even at quantiser 31, pxmpeg-tool refusing page
// numbers that are not positive integers, and a stream read through a pipe refused for that cause.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "TestStreams.h"

using namespace testmpeg;

namespace {

std::string BinDir() {
  char buf[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  std::string s(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return s.substr(0, s.rfind('/'));
}

// Exit status of a shell command, output to OUT.
int Status(const std::string& cmd) {
  const int r = std::system(cmd.c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

TEST(Tools, EncoderWithoutOptionsTakesStandardSizes) {
  struct Case {
    int w, h;
    const char* rate;  // what ffprobe reads back
  } cases[] = {{720, 576, "25/1"}, {720, 480, "30000/1001"}};
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    const std::string yuv = TempDir() + "/tool_" + size + ".yuv", out = TempDir() + "/tool_" + size + ".m2v";
    ASSERT_TRUE(testmpeg::Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                              " -frames:v 3 -pix_fmt yuv420p -f rawvideo '" + yuv + "'"));
    const std::string log = out + ".log";
    EXPECT_EQ(Status("'" + BinDir() + "/pxmpeg-enc' -s " + size + " -o '" + out + "' '" + yuv +
                     "' >/dev/null 2>'" + log + "'"),
              0)
        << size;
    EXPECT_EQ(Status("grep -q 'frame rate code' '" + log + "'"), 0) << "the chosen rate is not said";
    EXPECT_EQ(Status("ffprobe -v error -show_entries stream=r_frame_rate -of default=nw=1:nk=1 '" + out +
                     "' | grep -qx '" + c.rate + "'"),
              0)
        << size;
  }
}

TEST(Tools, EncoderSaysWhenTheRateIsBeyondReach) {
  struct Case {
    const char* source;
    const char* rate;
    bool bSaid;
  } cases[] = {{"life", "1000000", true}, {"testsrc2", "1000000", false}, {"life", "12000000", false}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string yuv = TempDir() + "/reach_" + std::to_string(n++) + ".yuv",
                      out = TempDir() + "/reach.m2v";
    // life's first pattern is random unless seeded.
    const std::string seed = std::string(c.source) == "life" ? ":seed=1" : "";
    ASSERT_TRUE(testmpeg::Run("ffmpeg -nostdin -v error -y -f lavfi -i " + std::string(c.source) +
                              "=size=352x288:rate=25" + seed + " -frames:v 9 -pix_fmt yuv420p -f rawvideo '" +
                              yuv + "'"));
    const std::string log = out + ".log";
    ASSERT_EQ(Status("'" + BinDir() + "/pxmpeg-enc' -s 352x288 --frame-rate-code 3 --gop 6 --bitrate " +
                     c.rate + " -o '" + out + "' '" + yuv + "' >/dev/null 2>'" + log + "'"),
              0);
    EXPECT_EQ(Status("grep -q 'even at quantiser 31' '" + log + "'"), c.bSaid ? 0 : 1)
        << c.source << " " << c.rate;
  }
}

TEST(Tools, PageMustBePositiveInteger) {
  const std::string f =
      MakeStream("tool_pages.m2v", "testsrc2=size=64x48:rate=25", "-frames:v 4 -c:v mpeg2video");
  ASSERT_FALSE(f.empty());
  const std::string tool = "'" + BinDir() + "/pxmpeg-tool' page '" + f + "' ";
  const std::string out = " '" + TempDir() + "/tool_page.ppm' 2>/dev/null";
  for (const char* bad : {"0", "-1", "1x", "x", "' 2'", "2.5", "''", "99999999999", "+1"})
    EXPECT_EQ(Status(tool + bad + out), 2) << bad;
  EXPECT_EQ(Status(tool + "2" + out), 0);
}

TEST(Tools, StreamThroughPipeNamesTheSeek) {
  const std::string f =
      MakeStream("tool_pipe.m2v", "testsrc2=size=64x48:rate=25", "-frames:v 3 -c:v mpeg2video");
  ASSERT_FALSE(f.empty());
  const std::string log = TempDir() + "/tool_pipe.log";
  for (const char* cmd : {"page", "info"}) {
    // The stream is read twice (counted, then decoded): a pipe cannot be rewound.
    EXPECT_EQ(Status("cat '" + f + "' | '" + BinDir() + "/pxmpeg-tool' " + cmd + " /dev/stdin 1 '" +
                     TempDir() + "/tool_pipe.ppm' >'" + log + "' 2>&1"),
              1)
        << cmd;
    EXPECT_EQ(Status("grep -q 'illegal seek' '" + log + "'"), 0) << cmd;
    EXPECT_NE(Status("grep -q 'not a usable' '" + log + "'"), 0) << cmd;
  }
  EXPECT_EQ(Status("'" + BinDir() + "/pxmpeg-tool' page '" + f + "' 1 '" + TempDir() + "/tool_pipe.ppm'"), 0);
}

}  // namespace
