// The option syntax of the command line: prefix "/", case-sensitive names, blanks around, quoted
// values, options without a value, and path values that start with "/".
#include <gtest/gtest.h>

#include <climits>

#include "settings/ValueGetter.h"

namespace {

struct TextCase {
  const char* commandLine;
  const char* name;
  bool present;
  const char* value;  // "DEF" is the caller's default
};

TEST(OptionParser, TextOptions) {
  const TextCase cases[] = {
      {"/Res 300", "Res", true, "300"},
      {"/Dir \"C:\\My Scans\" /Res 300", "Dir", true, "C:\\My Scans"},
      {"/Dir 'two words' /Res 300", "Dir", true, "two words"},
      {"/Qs \"My Set\"", "Qs", true, "My Set"},
      {"/Dir \"\" /Res 1", "Dir", true, ""},
      {"/Dir \"never closed", "Dir", false, "DEF"},
      {"/Dir 'mixed\" quotes", "Dir", false, "DEF"},
      {"/Res 300 /Dir", "Dir", true, "DEF"},            // last on the line: present, no value
      {"/Dir /Res 300", "Dir", true, "DEF"},            // another option follows
      {"/Dir    ", "Dir", true, ""},                    // only blanks: an empty text
      {"/Dir   scans   /Res 1", "Dir", true, "scans"},  // extra blanks skipped
      {"/res 300", "Res", false, "DEF"},                // names are case-sensitive
      {"x/Res 300", "Res", false, "DEF"},               // not after a blank
      {"/Resolution 300", "Res", false, "DEF"},         // only a prefix of another name
      {"/ResX 1 /Res 2", "Res", true, "2"},             // the search goes on after a miss
      {"/Res 300 /Res 400", "Res", true, "300"},        // the first counts
      {"/Res", "Res", true, "DEF"},                     // the whole line
      {"a/Res", "Res", false, "DEF"},                   // at the end too, only after a blank...
      {"/Dir /home/me/Res", "Res", false, "DEF"},       // ...so a path value can end in an option name
      {"/Dir /home/me/Res", "Dir", true, "/home/me/Res"},
      {"/Res\t300", "Res", false, "DEF"},  // only a blank separates
      {"", "Res", false, "DEF"},
      {"/Res 300", "", false, "DEF"},
      {"/Dir /home/me/scans/", "Dir", true, "/home/me/scans/"},  // path value
      {"/Dir /home/me /Res 3", "Dir", true, "/home/me"},
      {"/Dir /a/b /Res 3", "Res", true, "3"},
      {"/Dir /home /Res 3", "Dir", true, "DEF"},  // no second "/" before the blank: an option
      {"/Dir / /Res 3", "Dir", true, "DEF"},
      {"/Dir /x /a/b", "Dir", true, "DEF"},  // the second "/" is past the blank
      {"/DevAddr 192.168.1.20 /Task 13", "DevAddr", true, "192.168.1.20"},
      // An option name inside a quoted value is part of that value.
      {"/Task 13 /DevDest \"x /Hide 286331153 /Dest 2 /AppExe /path/prog\"", "AppExe", false, "DEF"},
      {"/Task 13 /DevDest \"x /Hide 286331153 /Dest 2 /AppExe /path/prog\"", "DevDest", true,
       "x /Hide 286331153 /Dest 2 /AppExe /path/prog"},
      {"/DevDest \"x /OutFile ~/photo.jpg /Res 75\"", "Res", false, "DEF"},
      {"/DevDest \"x /Res\"", "Res", false, "DEF"},             // even where it ends the value
      {"/DevDest \"x /Res 75\" /Res 300", "Res", true, "300"},  // the search goes on after it
      {"/Qs \"it's /Res 5\" /Dir d", "Res", false, "DEF"},      // a quote of the other kind inside
      {"/Qs \"it's /Res 5\" /Dir d", "Dir", true, "d"},
      {"/Qs 'say \"hi\" /Res 5' /Dir d", "Res", false, "DEF"},
      {"/Qs 'say \"hi\" /Res 5' /Dir d", "Qs", true, "say \"hi\" /Res 5"},
      {"/Note \"a  b\"  /Res 2", "Res", true, "2"},     // blanks inside and after
      {"\"/Res 9\" /Res 2", "Res", true, "2"},          // a quoted word that is no option's value
      {"/Note don't /Res 2 'x'", "Res", true, "2"},     // a quote inside a word opens nothing
      {"/Dir 'never closed /Res 2", "Res", true, "2"},  // nor does one that never closes
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(std::string("[") + c.commandLine + "] " + c.name);
    ValueGetter getter(c.commandLine);
    std::string out = "junk";
    EXPECT_EQ(getter.GetFromCmdLine(c.name, out, "DEF"), c.present);
    EXPECT_EQ(out, c.value);
  }
}

struct IntCase {
  const char* commandLine;
  int min;
  int max;
  bool present;
  int value;  // default is 77
};

TEST(OptionParser, IntOptions) {
  const IntCase cases[] = {
      {"/Hide 300", 0, 286331153, true, 300},
      {"/Hide abc", 0, 286331153, true, 0},  // no digits read as 0, which is in range
      {"/Hide 12abc", 0, 286331153, true, 12},
      {"/Hide -5", 0, 286331153, false, 77},  // out of range: default, false
      {"/Hide 286331154", 0, 286331153, false, 77},
      {"/Hide 286331153", 0, 286331153, true, 286331153},
      {"/Hide +7", INT_MIN, INT_MAX, true, 7},
      {"/Hide -7", INT_MIN, INT_MAX, true, -7},
      {"/Hide", INT_MIN, INT_MAX, true, 77},  // present without value: the default
      {"/Hide /Res 1", INT_MIN, INT_MAX, true, 77},
      {"/Res 1", INT_MIN, INT_MAX, false, 77},  // absent
      {"/Res 1", 0, 10, false, 77},
      {"/Hide 99999999999999", INT_MIN, INT_MAX, true, INT_MAX},  // clamped, never overflows
      {"/Hide -99999999999999", INT_MIN, INT_MAX, true, INT_MIN},
      {"/Hide 99999999999999", 0, 1000, false, 77},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.commandLine);
    ValueGetter getter(c.commandLine);
    int out = -1;
    EXPECT_EQ(getter.GetFromCmdLine("Hide", out, 77, c.min, c.max), c.present);
    EXPECT_EQ(out, c.value);
  }
}

TEST(OptionParser, AbsentOptionDefaultOutOfRangeStillGivesTheDefault) {
  ValueGetter getter("/Res 1");
  int out = 0;
  EXPECT_FALSE(getter.GetFromCmdLine("Hide", out, 16, 100, 200));
  EXPECT_EQ(out, 16);
}

}  // namespace
