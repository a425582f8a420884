// The autostart entry of the device monitor: where it goes, and how the monitor's path is written into
// its Exec line so that a session reads it back as one argument.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/MonitorAutostart.h"

namespace {

class ScopedVar {
 public:
  ScopedVar(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old, m_had = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVar() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

std::string ExecLine(const std::string& text) {
  const size_t start = text.find("\nExec=");
  if (start == std::string::npos) return "<none>";
  return text.substr(start + 6, text.find('\n', start + 1) - start - 6);
}

TEST(MonitorAutostart, ExecLineQuotesWhatASessionWouldSplitOrExpand) {
  const struct {
    const char* path;
    const char* exec;  // as written in the file; "<none>": no entry at all
  } cases[] = {
      {"/usr/bin/DEVWATCH", "/usr/bin/DEVWATCH"},
      {"/opt/My Scans/DEVWATCH", "\"/opt/My Scans/DEVWATCH\""},
      {"/opt/50%/DEVWATCH", "/opt/50%%/DEVWATCH"},
      {"/opt/$HOME/DEVWATCH", "\"/opt/\\\\$HOME/DEVWATCH\""},
      {"/opt/a\"b/DEVWATCH", "\"/opt/a\\\\\"b/DEVWATCH\""},
      {"/opt/a\\b/DEVWATCH", "\"/opt/a\\\\\\\\b/DEVWATCH\""},
      {"/opt/line\nbreak/DEVWATCH", "<none>"},
      {"", "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExecLine(MonitorAutostart::EntryText(c.path)), c.exec);
  }
}

TEST(MonitorAutostart, EntryGoesToTheConfigFoldersAutostart) {
  {
    ScopedVar xdg("XDG_CONFIG_HOME", "/x/config");
    EXPECT_EQ(MonitorAutostart::EntryPath(), "/x/config/autostart/marlin3-devwatch.desktop");
  }
  ScopedVar relative("XDG_CONFIG_HOME", "config");  // not absolute: ignored, as the XDG rules say
  {
    ScopedVar home("HOME", "/home/me");
    EXPECT_EQ(MonitorAutostart::EntryPath(), "/home/me/.config/autostart/marlin3-devwatch.desktop");
  }
  // Without HOME, the home folder of the password database, as for every other XDG folder.
  ScopedVar noHome("HOME", nullptr);
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(MonitorAutostart::EntryPath(),
            std::string(pw->pw_dir) + "/.config/autostart/marlin3-devwatch.desktop");
}

}  // namespace
