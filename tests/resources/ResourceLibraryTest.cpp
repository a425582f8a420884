// The built resource library libmarlin3.so against resources/manifest.txt: every string, template,
// control and icon the program asks for is there, texts pass their checks, and every dialog's layout
// keeps its controls inside the dialog and apart from each other.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"
#include "tests/resources/ManifestReader.h"

namespace {

using platform::resource::FindDialog;
using platform::resource::FindIcon;

class ResourceLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // By its Windows name, as the program loads it: found beside the executable.
    s_module = LoadLibraryA("marlin3.dll");
    std::string error;
    s_manifest = ReadManifest(MARLIN3_SOURCE_DIR "/resources/manifest.txt", error);
    s_error = error;
  }
  static void TearDownTestSuite() {
    if (s_module != nullptr) FreeLibrary(s_module);
    s_module = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(s_module, nullptr) << "libmarlin3.so not beside the test program";
    ASSERT_TRUE(s_error.empty()) << s_error;
    ASSERT_FALSE(s_manifest.strings.empty());
  }

  static std::string English(UINT id) {
    std::string text;
    platform::resource::LoadString(s_module, id, 1033, text);
    return text;
  }

  static inline HMODULE s_module = nullptr;
  static inline Manifest s_manifest;
  static inline std::string s_error;
};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool KindMatches(const std::string& controlClass, std::uint16_t kind) {
  if (controlClass == "any") return true;
  if (controlClass == "button") return kind == M3_PUSHBUTTON || kind == M3_DEFPUSHBUTTON;
  if (controlClass == "checkbox") return kind == M3_CHECKBOX;
  if (controlClass == "radio") return kind == M3_RADIOBUTTON;
  if (controlClass == "edit") return kind == M3_EDIT;
  if (controlClass == "static") return kind == M3_STATIC || kind == M3_ICON;
  if (controlClass == "listbox") return kind == M3_LISTBOX;
  if (controlClass == "combo") return kind == M3_COMBO_DROPDOWN || kind == M3_COMBO_DROPLIST;
  if (controlClass == "slider") return kind == M3_SLIDER;
  if (controlClass == "treeview") return kind == M3_TREEVIEW;
  if (controlClass == "progress") return kind == M3_PROGRESS;
  return false;
}

TEST_F(ResourceLibraryTest, ExportsFormatVersionOne) {
  using VersionFn = std::uint32_t (*)();
  auto version = reinterpret_cast<VersionFn>(GetProcAddress(s_module, "m3res_format_version"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version(), 1u);
}

TEST_F(ResourceLibraryTest, EveryNamedStringHasEnglishTextPassingItsCheck) {
  for (const ManifestString& s : s_manifest.strings) {
    SCOPED_TRACE("string " + std::to_string(s.id) + " (" + s.role + ")");
    const std::string text = English(s.id);
    ASSERT_FALSE(text.empty());
    if (s.check == "p1") {
      EXPECT_EQ(Count(text, "%1"), 1) << text;
      EXPECT_EQ(Count(text, "%2"), 0) << text;
    } else if (s.check == "p2") {
      EXPECT_EQ(Count(text, "%1"), 1) << text;
      EXPECT_EQ(Count(text, "%2"), 1) << text;
    } else {
      EXPECT_EQ(Count(text, "%1"), 0) << text;
    }
    if (s.check == "ext") {
      EXPECT_EQ(text.find('.'), std::string::npos) << text;
      EXPECT_LE(text.size(), 8u);
    }
    if (s.check == "key") {
      EXPECT_EQ(text.find('\\'), std::string::npos) << text;
      EXPECT_EQ(text.find('/'), std::string::npos) << text;
    }
    if (s.check == "tip") {
      EXPECT_LT(text.size(), 80u) << text;
    }
    if (s.check == "title") {
      EXPECT_LT(text.size(), 36u) << text;
    }
    if (s.check == "dest") {
      EXPECT_LE(text.size(), 9u) << text;
      EXPECT_EQ(text.find_first_of("\"%&<>^$|{}"), std::string::npos) << text;
    }
  }
}

TEST_F(ResourceLibraryTest, NamesThatMeetAtTheDeviceStayApart) {
  // The one-time entry, the scratch Quick Set and the default Quick Sets are compared by name and by
  // prefix: none may equal or begin another, or the main dialog's select-by-prefix picks the wrong one.
  const UINT names[] = {85, 88, 89, 90, 104, 186};
  for (UINT a : names) {
    for (UINT b : names) {
      if (a == b) continue;
      const std::string ta = English(a);
      const std::string tb = English(b);
      EXPECT_NE(strncasecmp(ta.c_str(), tb.c_str(), ta.size()), 0) << a << " begins " << b;
    }
  }
  // The special destination must not appear inside an ordinary destination name, or a scan started at
  // the device with that destination would open the setup dialog instead.
  for (UINT dest : {210u, 211u, 212u, 213u}) EXPECT_EQ(English(dest).find(English(244)), std::string::npos);
}

TEST_F(ResourceLibraryTest, ExtensionsFollowTheFileTypeTable) {
  // Types 3 and 17 share one extension; all others differ, so an extension maps back to one type.
  const std::set<std::string> distinct = {English(2), English(3), English(4),
                                          English(5), English(8), English(13)};
  EXPECT_EQ(distinct.size(), 6u);
  EXPECT_EQ(English(13), "pdf");
  EXPECT_EQ(English(4), "jpg");
  EXPECT_EQ(English(3), "tif");
}

TEST_F(ResourceLibraryTest, EveryNamedTemplateHasItsControls) {
  for (const auto& [id, wanted] : s_manifest.dialogs) {
    SCOPED_TRACE("template " + std::to_string(id) + " (" + wanted.role + ")");
    const M3ResDialog* dialog = FindDialog(s_module, id);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->id, id);
    EXPECT_EQ(dialog->kind, wanted.kind == "property_page" ? M3_PROPERTY_PAGE : M3_DIALOG);
    EXPECT_NE(dialog->caption, nullptr);
    EXPECT_NE(dialog->fontName, nullptr);
    EXPECT_GE(dialog->fontSize, 8);
    for (const ManifestControl& c : wanted.controls) {
      const M3ResControl* found = nullptr;
      for (std::uint32_t i = 0; i < dialog->controlCount; ++i) {
        if (dialog->controls[i].id == c.id) found = &dialog->controls[i];
      }
      ASSERT_NE(found, nullptr) << "control " << c.id << " (" << c.role << ")";
      EXPECT_TRUE(KindMatches(c.controlClass, found->kind)) << "control " << c.id << " kind " << found->kind;
    }
  }
}

TEST_F(ResourceLibraryTest, WizardPagesShareOneSize) {
  // The sheet sizes itself to its largest page; pages of one size keep the buttons from jumping.
  std::set<std::pair<int, int>> sizes;
  for (const auto& [id, wanted] : s_manifest.dialogs) {
    const M3ResDialog* dialog = FindDialog(s_module, id);
    ASSERT_NE(dialog, nullptr);
    if (dialog->kind == M3_PROPERTY_PAGE) sizes.insert({dialog->cx, dialog->cy});
  }
  EXPECT_EQ(sizes.size(), 1u);
}

bool Overlap(const M3ResControl& a, const M3ResControl& b) {
  return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

bool Contains(const M3ResControl& outer, const M3ResControl& inner) {
  return outer.x <= inner.x && outer.y <= inner.y && inner.x + inner.cx <= outer.x + outer.cx &&
         inner.y + inner.cy <= outer.y + outer.cy;
}

TEST_F(ResourceLibraryTest, ControlsLieInsideTheirDialogAndApart) {
  std::size_t count = 0;
  using DialogsFn = const M3ResDialog* (*)(std::size_t*);
  auto dialogs = reinterpret_cast<DialogsFn>(GetProcAddress(s_module, "m3res_dialogs"))(&count);
  ASSERT_GE(count, s_manifest.dialogs.size());
  for (std::size_t d = 0; d < count; ++d) {
    const M3ResDialog& dialog = dialogs[d];
    SCOPED_TRACE("template " + std::to_string(dialog.id));
    std::set<int> ids;
    for (std::uint32_t i = 0; i < dialog.controlCount; ++i) {
      const M3ResControl& c = dialog.controls[i];
      if (c.id != -1) {
        EXPECT_TRUE(ids.insert(c.id).second) << "duplicate control " << c.id;
      }
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_GT(c.cx, 0);
      EXPECT_GT(c.cy, 0);
      EXPECT_LE(c.x + c.cx, dialog.cx) << "control " << c.id;
      EXPECT_LE(c.y + c.cy, dialog.cy) << "control " << c.id;
      for (std::uint32_t j = i + 1; j < dialog.controlCount; ++j) {
        const M3ResControl& o = dialog.controls[j];
        if (!Overlap(c, o)) continue;
        const bool framed =
            (c.kind == M3_GROUPBOX && Contains(c, o)) || (o.kind == M3_GROUPBOX && Contains(o, c));
        const bool samePlace = c.x == o.x && c.y == o.y && c.cx == o.cx && c.cy == o.cy;
        const bool alternates = samePlace && ((c.style | o.style) & M3_HIDDEN) != 0;
        EXPECT_TRUE(framed || alternates) << "controls " << c.id << " and " << o.id << " overlap";
      }
    }
  }
}

TEST_F(ResourceLibraryTest, DialogsWithOkAndCancelHaveExactlyOneDefaultButton) {
  std::size_t count = 0;
  using DialogsFn = const M3ResDialog* (*)(std::size_t*);
  auto dialogs = reinterpret_cast<DialogsFn>(GetProcAddress(s_module, "m3res_dialogs"))(&count);
  for (std::size_t d = 0; d < count; ++d) {
    int defaults = 0;
    bool hasOk = false;
    for (std::uint32_t i = 0; i < dialogs[d].controlCount; ++i) {
      defaults += dialogs[d].controls[i].kind == M3_DEFPUSHBUTTON;
      hasOk |= dialogs[d].controls[i].id == 1;
    }
    if (hasOk && dialogs[d].kind == M3_DIALOG) {
      EXPECT_EQ(defaults, 1) << "template " << dialogs[d].id;
    }
  }
}

TEST_F(ResourceLibraryTest, IconsArePngImages) {
  for (unsigned id : s_manifest.icons) {
    const M3ResIcon* icon = FindIcon(s_module, id);
    ASSERT_NE(icon, nullptr) << "icon " << id;
    ASSERT_GT(icon->size, 24u);
    EXPECT_EQ(std::memcmp(icon->png, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(std::memcmp(icon->png + 12, "IHDR", 4), 0);
  }
}

TEST_F(ResourceLibraryTest, TablesAreSortedForBinarySearch) {
  using StringsFn = const M3ResString* (*)(std::size_t*);
  std::size_t count = 0;
  auto strings = reinterpret_cast<StringsFn>(GetProcAddress(s_module, "m3res_strings"))(&count);
  ASSERT_GT(count, 0u);
  for (std::size_t i = 1; i < count; ++i) {
    const bool ordered = strings[i - 1].id < strings[i].id || (strings[i - 1].id == strings[i].id &&
                                                               strings[i - 1].language < strings[i].language);
    EXPECT_TRUE(ordered) << "string entry " << i;
  }
}

}  // namespace
