// The control model on its own (no host): list and combo searches, item data and selection, radio
// groups and data exchange in both directions, the tree view's expansion rules and handle checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestDialogs.h"
#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/Edit.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/ScriptedHost.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

namespace {

TEST(ItemListTest, SearchesIgnoreCaseFromAfterTheStartAndWrap) {
  ItemList items;
  for (const char* t : {"Scan to File", "scan to e-mail", "Other", "SCAN"}) items.Add(t);
  const struct {
    int startAfter;
    const char* text;
    int prefix;
    int exact;
  } cases[] = {
      {-1, "scan", 0, 3},    {0, "scan", 1, 3},   {1, "SCAN TO", 0, -1},
      {3, "scan to", 0, -1}, {-1, "other", 2, 2}, {-1, "x", -1, -1},
      {-1, "", 0, -1},       {99, "scan", 0, 3},  {-1, "Scan to File!", -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(items.FindPrefix(c.startAfter, c.text), c.prefix) << c.text << " after " << c.startAfter;
    EXPECT_EQ(items.FindExact(c.startAfter, c.text), c.exact) << c.text << " after " << c.startAfter;
  }
}

TEST(ItemListTest, SortedInsertSelectionFollowsAndDataStays) {
  ItemList items;
  items.SetSorted(true);
  EXPECT_EQ(items.Add("beta"), 0);
  EXPECT_EQ(items.Add("Alpha"), 0);
  EXPECT_EQ(items.Add("gamma"), 2);
  EXPECT_EQ(items.Add("ALPHA"), 1);  // after the equal one
  items.SetData(2, 42);
  items.SetCurSel(2);
  items.Insert(0, "first");
  EXPECT_EQ(items.GetCurSel(), 3);
  EXPECT_EQ(items.At(3).data, 42u);
  EXPECT_EQ(items.Delete(0), 4);
  EXPECT_EQ(items.GetCurSel(), 2);
  EXPECT_EQ(items.Delete(2), 3);
  EXPECT_EQ(items.GetCurSel(), -1);
  EXPECT_EQ(items.Delete(7), LB_ERR);
  EXPECT_EQ(items.Insert(9, "x"), LB_ERR);
  EXPECT_EQ(items.SetCurSel(5), LB_ERR);
}

TEST(ResourceModuleTest, TemplatesAndCaptionsComeFromTheModuleSet) {
  // Set to nothing, the layer has no templates: it does not load a library of its own behind the
  // application's back.
  platform::ui::SetResourceModule(nullptr);
  EXPECT_EQ(platform::ui::ResourceModule(), nullptr);
  CDialog none(500);
  EXPECT_FALSE(none.CreateControls());
  EXPECT_EQ(CPropertySheet(1u).GetWindowText(), "");

  ASSERT_TRUE(UseTestResources());
  CDialog dialog(500);
  EXPECT_TRUE(dialog.CreateControls());
  EXPECT_EQ(dialog.GetWindowText(), "Every Control");
  EXPECT_EQ(CPropertySheet(1u).GetWindowText(), "Test Wizard");
  CDialog missing(4242);
  EXPECT_FALSE(missing.CreateControls());
}

class ModelDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UseTestResources());
    ASSERT_TRUE(m_dialog.CreateControls());
  }
  EveryControlDialog m_dialog;
};

TEST_F(ModelDialogTest, ControlsComeFromTheTemplate) {
  EXPECT_EQ(m_dialog.GetWindowText(), "Every Control");
  EXPECT_EQ(m_dialog.GetDlgItemText(100), "start");
  EXPECT_NE(m_dialog.GetDlgItemAs<CTreeCtrl>(160), nullptr);
  EXPECT_NE(m_dialog.GetDlgItemAs<CSliderCtrl>(150), nullptr);
  EXPECT_EQ(m_dialog.GetDlgItem(-1), nullptr);
  EXPECT_EQ(m_dialog.GetDlgItem(4242), nullptr);
  EXPECT_TRUE(m_dialog.GetDlgItemAs<CComboBox>(130)->IsDropList());
  EXPECT_EQ(m_dialog.RadioGroup(110), (std::vector<int>{110, 111, 112}));
  EXPECT_EQ(m_dialog.GroupStart(112), 110);
}

TEST_F(ModelDialogTest, ListAndComboOperations) {
  auto* combo = m_dialog.GetDlgItemAs<CComboBox>(130);
  for (const char* t : {"Gamma", "alpha", "Beta"}) combo->AddString(t);
  EXPECT_EQ(combo->SelectString(-1, "BE"), 1);
  EXPECT_EQ(combo->GetWindowText(), "Beta");
  EXPECT_EQ(combo->SelectString(-1, "zzz"), CB_ERR);
  EXPECT_EQ(combo->GetCurSel(), 1);  // unchanged
  EXPECT_EQ(combo->FindStringExact(-1, "GAMMA"), 2);
  combo->SetItemData(2, 17);
  std::string text;
  EXPECT_EQ(combo->GetLBText(2, text), 5);
  EXPECT_EQ(text, "Gamma");
  EXPECT_EQ(combo->GetItemData(2), 17u);
  EXPECT_EQ(combo->GetItemData(9), static_cast<DWORD_PTR>(CB_ERR));
  EXPECT_EQ(combo->GetLBText(9, text), CB_ERR);
  combo->SetWindowText("ignored by a drop-down list");
  EXPECT_EQ(combo->GetWindowText(), "Beta");

  auto* dropDown = m_dialog.GetDlgItemAs<CComboBox>(131);
  dropDown->SetWindowText("typed");
  EXPECT_EQ(dropDown->GetWindowText(), "typed");

  auto* list = m_dialog.GetDlgItemAs<CListBox>(141);  // not sorted
  list->AddString("b");
  list->AddString("a");
  EXPECT_EQ(list->InsertString(0, "c"), 0);
  EXPECT_EQ(list->FindString(-1, "A"), 2);
  list->SetCurSel(1);
  EXPECT_EQ(list->DeleteString(0), 2);
  EXPECT_EQ(list->GetCurSel(), 0);
  list->SetHorizontalExtent(750);
  EXPECT_EQ(list->GetHorizontalExtent(), 750);
  list->ResetContent();
  EXPECT_EQ(list->GetCount(), 0);
  EXPECT_EQ(list->GetCurSel(), LB_ERR);
}

TEST_F(ModelDialogTest, RadioGroupsAndChecks) {
  auto* b111 = m_dialog.GetDlgItemAs<CButton>(111);
  auto* b112 = m_dialog.GetDlgItemAs<CButton>(112);
  b111->UserClick();
  EXPECT_EQ(m_dialog.GetCheckedRadioButton(110, 112), 111);
  b112->UserClick();
  EXPECT_EQ(m_dialog.GetCheckedRadioButton(110, 112), 112);
  EXPECT_EQ(b111->GetCheck(), BST_UNCHECKED);
  // A radio click leaves check boxes of another group alone.
  m_dialog.CheckDlgButton(120, BST_CHECKED);
  m_dialog.GetDlgItemAs<CButton>(110)->UserClick();
  EXPECT_EQ(m_dialog.IsDlgButtonChecked(120), BST_CHECKED);
  m_dialog.CheckRadioButton(110, 112, 0);
  EXPECT_EQ(m_dialog.GetCheckedRadioButton(110, 112), 0);
}

TEST_F(ModelDialogTest, DataExchangeBothWaysAndFailure) {
  m_dialog.m_strName = "Anna";
  m_dialog.m_nCheck = 1;
  m_dialog.m_nRadio = 2;
  m_dialog.m_nNumber = 12;
  m_dialog.GetDlgItemAs<CSliderCtrl>(150)->SetRange(2, 255);
  m_dialog.m_nSlider = 300;
  ASSERT_TRUE(m_dialog.UpdateData(FALSE));
  EXPECT_EQ(m_dialog.GetDlgItemText(100), "Anna");
  EXPECT_EQ(m_dialog.GetCheckedRadioButton(110, 112), 112);
  EXPECT_EQ(m_dialog.GetDlgItemAs<CSliderCtrl>(150)->GetPos(), 255);
  EXPECT_EQ(m_dialog.GetDlgItemAs<CEdit>(100)->GetLimitText(), 12);
  EXPECT_EQ(m_dialog.GetDlgItemText(170), "12");

  m_dialog.CheckRadioButton(110, 112, 0);
  m_dialog.SetDlgItemText(170, " 99 ");
  ASSERT_TRUE(m_dialog.UpdateData(TRUE));
  EXPECT_EQ(m_dialog.m_nRadio, -1);
  EXPECT_EQ(m_dialog.m_nNumber, 99);
  EXPECT_EQ(m_dialog.m_nSlider, 255);

  // Each failure shows the framework's message (answered by the script) and focuses the field.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("m3ddx-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "script") << "msgbox OK integer\nmsgbox OK integer\nmsgbox OK integer\n"
                                   "msgbox OK \"no more than 12 characters\"\n";
  ScriptedHost host((dir / "script").string(), (dir / "transcript").string());
  platform::ui::SetHostForTesting(&host);
  const char* bad[] = {"", "12a", "99999999999"};
  for (const char* text : bad) {
    m_dialog.SetFocusId(100);
    m_dialog.SetDlgItemText(170, text);
    EXPECT_FALSE(m_dialog.UpdateData(TRUE)) << text;
    EXPECT_EQ(m_dialog.m_nNumber, 99) << text;
    EXPECT_EQ(m_dialog.GetFocusId(), 170) << text;
    int start = -1, end = -1;
    m_dialog.GetDlgItemAs<CEdit>(170)->GetSel(start, end);
    EXPECT_EQ(end - start, static_cast<int>(std::strlen(text))) << text;
  }
  // Saving a text longer than DDV_MaxChars allows fails too (the program set it, bypassing the limit);
  // twelve characters of two bytes each are within it.
  m_dialog.SetDlgItemText(170, "5");
  m_dialog.SetDlgItemText(100, "thirteen char");
  EXPECT_FALSE(m_dialog.UpdateData(TRUE));
  EXPECT_EQ(m_dialog.GetFocusId(), 100);
  m_dialog.SetDlgItemText(100, "éééééééééééé");
  EXPECT_TRUE(m_dialog.UpdateData(TRUE));
  platform::ui::SetHostForTesting(nullptr);
  std::ifstream in(dir / "transcript");
  std::stringstream t;
  t << in.rdbuf();
  EXPECT_NE(t.str().find("text=\"Please enter no more than 12 characters.\" buttons=OK icon=exclamation"),
            std::string::npos)
      << t.str();
  std::filesystem::remove_all(dir);
}

TEST(TreeModelTest, DeletedHandlesStayDeadWhenMemoryIsReused) {
  CTreeCtrl tree;
  HTREEITEM root = tree.InsertItem("root");
  for (int i = 0; i < 50; ++i) {
    HTREEITEM old = tree.InsertItem("old", root);
    ASSERT_TRUE(tree.DeleteItem(old));
    HTREEITEM fresh = tree.InsertItem("new", root);
    EXPECT_NE(fresh, old);
    EXPECT_FALSE(tree.IsItem(old));
    EXPECT_FALSE(tree.DeleteItem(old));
    EXPECT_EQ(tree.GetItemText(fresh), "new");
    ASSERT_TRUE(tree.DeleteItem(fresh));
  }
  // A handle of another tree is foreign.
  CTreeCtrl other;
  EXPECT_FALSE(other.IsItem(root));
  EXPECT_FALSE(other.SelectItem(root));
}

TEST(TreeModelTest, SelectingOpensTheParents) {
  CTreeCtrl tree;
  HTREEITEM a = tree.InsertItem("a");
  HTREEITEM b = tree.InsertItem("b", a);
  HTREEITEM c = tree.InsertItem("c", b);
  ASSERT_TRUE(tree.SelectItem(c));
  EXPECT_EQ(tree.GetItemState(a, TVIS_EXPANDED), UINT{TVIS_EXPANDED});
  EXPECT_EQ(tree.GetItemState(b, TVIS_EXPANDED), UINT{TVIS_EXPANDED});
  EXPECT_EQ(tree.GetItemState(c, TVIS_EXPANDED), 0u);
  // Collapsing a branch moves the selection inside it to the branch.
  tree.UserExpand(a, false);
  EXPECT_EQ(tree.GetSelectedItem(), a);
}

TEST(EditModelTest, SelectionAndReplaceCountCharacters) {
  const struct {
    const char* text;
    int start, end;
    const char* insert;
    const char* result;
    int caret;
  } cases[] = {
      {"hello world", 0, 5, "HELLO", "HELLO world", 5},
      {"hello", 0, -1, "x", "x", 1},      // -1: to the end
      {"hello", 5, 5, "!", "hello!", 6},  // at the caret
      {"héllo", 1, 2, "e", "hello", 2},   // "é" is one character
      {"abc", 9, 1, "Z", "aZ", 2},        // start past the end: from the end backwards
      {"abc", -1, 0, "Z", "Zabc", 1},     // no selection: the caret (at 0 after setting the text)
  };
  for (const auto& c : cases) {
    CEdit edit;
    edit.SetWindowText(c.text);
    edit.SetSel(c.start, c.end);
    edit.ReplaceSel(c.insert);
    EXPECT_EQ(edit.GetWindowText(), c.result) << c.text;
    int s = -1, e = -1;
    edit.GetSel(s, e);
    EXPECT_EQ(s, c.caret) << c.text;
    EXPECT_EQ(e, c.caret) << c.text;
  }
}

TEST_F(ModelDialogTest, ComboLimitNeverCutsACharacter) {
  auto* combo = m_dialog.GetDlgItemAs<CComboBox>(131);
  ASSERT_NE(combo, nullptr);
  combo->LimitText(3);
  combo->UserType("aé€x");
  EXPECT_EQ(combo->GetWindowText(), "aé€");
  combo->UserType("ééééé");
  EXPECT_EQ(combo->GetWindowText(), "ééé");
}

TEST_F(ModelDialogTest, MissingControlFailsTheExchange) {
  struct Broken : CDialog {
    Broken() : CDialog(500) {}
    void DoDataExchange(CDataExchange* pDX) override {
      DDX_Text(pDX, 100, m_strText);
      DDX_Check(pDX, 100, m_nCheck);  // an edit is not a check box
      DDX_Radio(pDX, 4242, m_nRadio);
    }
    std::string m_strText;
    int m_nCheck = 0, m_nRadio = 5;
  } broken;
  ASSERT_TRUE(broken.CreateControls());
  EXPECT_FALSE(broken.UpdateData(TRUE));
  EXPECT_EQ(broken.m_strText, "start");  // exchanged before the failure
  EXPECT_EQ(broken.m_nRadio, 5);
}

struct CountingTree : CTreeCtrl {
  BOOL OnItemExpanded(HTREEITEM item, UINT action) override {
    (action == TVE_EXPAND ? expands : collapses)++;
    return TRUE;
  }
  int expands = 0, collapses = 0;
};

TEST_F(ModelDialogTest, TreeExpansionNotifiesLikeTheCommonControl) {
  CountingTree tree;
  ASSERT_TRUE(m_dialog.BindControl(160, tree));
  EXPECT_EQ(m_dialog.GetDlgItem(160), &tree);
  HTREEITEM top = tree.InsertItem("top", 1, 2);
  HTREEITEM child = tree.InsertItem("child", 1, 2, top);
  HTREEITEM leaf = tree.InsertItem("leaf", 1, 2, child);
  EXPECT_EQ(tree.GetParentItem(child), top);
  EXPECT_EQ(tree.GetChildItem(top), child);
  EXPECT_EQ(tree.GetNextSiblingItem(child), nullptr);

  EXPECT_FALSE(tree.Expand(leaf, TVE_EXPAND));  // nothing below it
  EXPECT_TRUE(tree.Expand(top, TVE_EXPAND));
  EXPECT_TRUE(tree.Expand(top, TVE_COLLAPSE));
  EXPECT_TRUE(tree.Expand(top, TVE_EXPAND));  // expanded once: no second notification
  EXPECT_EQ(tree.expands, 1);
  tree.SelectItem(leaf);
  tree.UserExpand(top, false);  // the user always notifies; the selection moves up
  EXPECT_EQ(tree.collapses, 1);
  EXPECT_EQ(tree.GetSelectedItem(), top);
  tree.UserExpand(top, true);
  EXPECT_EQ(tree.expands, 2);
  EXPECT_TRUE(tree.Expand(child, TVE_EXPAND));
  EXPECT_EQ(tree.expands, 3);
  EXPECT_TRUE(tree.Expand(child, TVE_COLLAPSE | TVE_COLLAPSERESET));
  EXPECT_FALSE(tree.IsItem(leaf));
  EXPECT_EQ(tree.GetItemState(child, TVIS_EXPANDEDONCE), 0u);
  tree.InsertItem("", 0, 0, child);
  EXPECT_TRUE(tree.Expand(child, TVE_EXPAND));
  EXPECT_EQ(tree.expands, 4);

  EXPECT_TRUE(tree.DeleteItem(top));
  EXPECT_FALSE(tree.DeleteItem(top));  // a stale handle is refused, not followed
  EXPECT_EQ(tree.GetItemText(child), "");
  EXPECT_EQ(tree.GetCount(), 0u);
  EXPECT_EQ(tree.GetSelectedItem(), nullptr);
  EXPECT_EQ(tree.InsertItem("x", child), nullptr);
  EXPECT_EQ(tree.SetImageList(CImageList::System(), TVSIL_NORMAL), nullptr);
  EXPECT_EQ(tree.SetImageList(nullptr, TVSIL_NORMAL), CImageList::System());
}

TEST(FileDialogModelTest, FilterFormAndDefaultExtension) {
  CFileDialog dialog(FALSE, "jpg", "/tmp/scans/page.jpg", OFN_OVERWRITEPROMPT,
                     "JPEG (*.jpg)|*.jpg;*.jpeg|All files|*.*||ignored|*.x|");
  ASSERT_EQ(dialog.Filters().size(), 2u);
  EXPECT_EQ(dialog.Filters()[0].second, (std::vector<std::string>{"*.jpg", "*.jpeg"}));
  EXPECT_EQ(dialog.InitialFolder(), "/tmp/scans/");
  dialog.Accept("/tmp/a/name", 2);
  EXPECT_EQ(dialog.GetPathName(), "/tmp/a/name.jpg");
  EXPECT_EQ(dialog.GetFileName(), "name.jpg");
  EXPECT_EQ(dialog.GetFileExt(), "jpg");
  EXPECT_EQ(dialog.GetFolderPath(), "/tmp/a");
  EXPECT_EQ(dialog.m_ofn.nFilterIndex, 2u);
  dialog.Accept("/x.tif", 7);  // no such filter: the index stays
  EXPECT_EQ(dialog.m_ofn.nFilterIndex, 2u);
  EXPECT_EQ(dialog.GetFolderPath(), "/");
}

}  // namespace
