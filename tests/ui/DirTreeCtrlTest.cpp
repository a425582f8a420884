// DirTreeCtrl on a real temporary folder tree: order ignoring case, placeholders only where there is
// something to show, a fresh read on every expand, SelectPath and its failures, full paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/ui/ScriptedHost.h"
#include "ui/DirTreeCtrl.h"

namespace fs = std::filesystem;

namespace {

class DirTreeCtrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::temp_directory_path() / ("m3dirtree-" + std::to_string(::getpid()));
    for (const char* d : {"Zeta", "alpha", "Beta", "beta2/inner/deep", "onlyfiles", "empty"})
      fs::create_directories(m_root / d);
    std::ofstream(m_root / "onlyfiles" / "a.txt") << "x";
    std::ofstream(m_root / "file.txt") << "x";
  }
  void TearDown() override { fs::remove_all(m_root); }

  std::vector<std::string> Children(HTREEITEM item) {
    std::vector<std::string> names;
    for (HTREEITEM c = m_tree.GetChildItem(item); c != nullptr; c = m_tree.GetNextSiblingItem(c))
      names.push_back(m_tree.GetItemText(c));
    return names;
  }
  HTREEITEM Child(HTREEITEM item, const std::string& name) {
    for (HTREEITEM c = m_tree.GetChildItem(item); c != nullptr; c = m_tree.GetNextSiblingItem(c))
      if (m_tree.GetItemText(c) == name) return c;
    return nullptr;
  }

  fs::path m_root;
  DirTreeCtrl m_tree;
};

TEST_F(DirTreeCtrlTest, RootFolderListsSortedFoldersWithPlaceholders) {
  ASSERT_TRUE(m_tree.Initialize(m_root.string(), DirTreeCtrl::Content::kFolders));
  HTREEITEM top = m_tree.GetRootItem();
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(m_tree.GetFullPath(top), m_root.string());
  EXPECT_EQ(Children(top),
            (std::vector<std::string>{"alpha", "Beta", "beta2", "empty", "onlyfiles", "Zeta"}));
  // Only beta2 has a folder inside; a folder of files shows nothing while files are hidden.
  for (const char* name : {"alpha", "Beta", "empty", "onlyfiles", "Zeta"})
    EXPECT_FALSE(m_tree.ItemHasChildren(Child(top, name))) << name;
  EXPECT_EQ(Children(Child(top, "beta2")), (std::vector<std::string>{""}));
  EXPECT_EQ(m_tree.GetFullPath(Child(top, "beta2")), (m_root / "beta2").string());
}

TEST_F(DirTreeCtrlTest, FilesShownWhenAsked) {
  ASSERT_TRUE(m_tree.Initialize(m_root.string() + "/", DirTreeCtrl::Content::kFoldersAndFiles));
  HTREEITEM top = m_tree.GetRootItem();
  EXPECT_EQ(Children(top).back(), "file.txt");
  EXPECT_TRUE(m_tree.ItemHasChildren(Child(top, "onlyfiles")));
}

TEST_F(DirTreeCtrlTest, EveryExpandReadsTheFolderAgain) {
  ASSERT_TRUE(m_tree.Initialize(m_root.string(), DirTreeCtrl::Content::kFolders));
  HTREEITEM beta2 = Child(m_tree.GetRootItem(), "beta2");
  m_tree.UserExpand(beta2, true);
  EXPECT_EQ(Children(beta2), (std::vector<std::string>{"inner"}));
  fs::create_directories(m_root / "beta2" / "Added");
  m_tree.UserExpand(beta2, false);
  EXPECT_EQ(Children(beta2), (std::vector<std::string>{""}));
  m_tree.UserExpand(beta2, true);
  EXPECT_EQ(Children(beta2), (std::vector<std::string>{"Added", "inner"}));
}

TEST_F(DirTreeCtrlTest, SelectPathWalksAndFailsSafely) {
  ASSERT_TRUE(m_tree.Initialize("", DirTreeCtrl::Content::kFolders));
  // The file system root is a top item whose text and path are "/".
  HTREEITEM slash = nullptr;
  for (HTREEITEM t = m_tree.GetRootItem(); t != nullptr; t = m_tree.GetNextSiblingItem(t))
    if (m_tree.GetItemText(t) == "/") slash = t;
  ASSERT_NE(slash, nullptr);
  EXPECT_EQ(m_tree.GetFullPath(slash), "/");

  const std::string deep = (m_root / "beta2" / "inner" / "deep").string();
  ASSERT_TRUE(m_tree.SelectPath(deep + "/"));
  EXPECT_EQ(m_tree.GetFullPath(m_tree.GetSelectedItem()), deep);
  // Selecting again re-reads the folders on the way (they were expanded before).
  fs::create_directories(m_root / "beta2" / "inner" / "newer");
  ASSERT_TRUE(m_tree.SelectPath((m_root / "beta2" / "inner" / "newer").string()));
  EXPECT_EQ(m_tree.GetItemText(m_tree.GetSelectedItem()), "newer");

  const std::string failures[] = {(m_root / "missing").string(), (m_root / "file.txt").string(),
                                  "relative/path", ""};
  for (const auto& path : failures) EXPECT_FALSE(m_tree.SelectPath(path)) << path;

  // A folder the tree cannot reach from its top items: no selection, the way found stays open.
  ASSERT_TRUE(m_tree.Initialize((m_root / "beta2").string(), DirTreeCtrl::Content::kFolders));
  EXPECT_FALSE(m_tree.SelectPath((m_root / "Zeta").string()));
  EXPECT_EQ(m_tree.GetSelectedItem(), nullptr);
}

TEST_F(DirTreeCtrlTest, HiddenFilesDoNotCountHiddenFoldersDo) {
  fs::create_directories(m_root / "dotfile");
  std::ofstream(m_root / "dotfile" / ".hidden") << "x";
  fs::create_directories(m_root / "dotfolder" / ".git");
  ASSERT_TRUE(m_tree.Initialize(m_root.string(), DirTreeCtrl::Content::kFoldersAndFiles));
  HTREEITEM root = m_tree.GetRootItem();
  // Files shown: a folder holding only a hidden file has nothing to show, one holding a hidden
  // folder has (folders are listed whatever their name).
  EXPECT_FALSE(m_tree.ItemHasChildren(Child(root, "dotfile")));
  EXPECT_TRUE(m_tree.ItemHasChildren(Child(root, "dotfolder")));
  EXPECT_TRUE(m_tree.ItemHasChildren(Child(root, "onlyfiles")));
}

TEST_F(DirTreeCtrlTest, ExactNameFirstAndTheWaitCursorEndsBalanced) {
  fs::create_directories(m_root / "Case" / "upper");
  fs::create_directories(m_root / "case" / "lower");
  const fs::path dir = m_root / "host";
  fs::create_directories(dir);
  ScriptedHost host((dir / "script").string(), (dir / "transcript").string());
  platform::ui::SetHostForTesting(&host);
  ASSERT_TRUE(m_tree.Initialize("", DirTreeCtrl::Content::kFolders));
  for (const char* name : {"Case", "case"}) {
    ASSERT_TRUE(m_tree.SelectPath((m_root / name).string())) << name;
    EXPECT_EQ(m_tree.GetItemText(m_tree.GetSelectedItem()), name);
    EXPECT_EQ(m_tree.GetFullPath(m_tree.GetSelectedItem()), (m_root / name).string());
  }
  EXPECT_EQ(host.WaitCursorDepth(), 0);
  platform::ui::SetHostForTesting(nullptr);
  std::ifstream in(dir / "transcript");
  const std::string transcript((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Every folder read shows the wait cursor and takes it away again.
  EXPECT_EQ(transcript.rfind("cursor wait\ncursor normal\n", 0), 0u) << transcript;
  EXPECT_EQ(transcript.substr(transcript.size() - 14), "cursor normal\n");
}

}  // namespace
