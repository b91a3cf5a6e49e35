// The user page over an in-memory tree: labels and node linking, check marks,
// expansion, the search thread and the page flow.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "directory/page2.h"
#include "directory/tree_check.h"
#include "directory/user_node.h"
#include "platform/domain/domain_generator.h"
#include "tests/directory/directory_world.h"
#include "tests/fakes/faulty_sync.h"

namespace qel::test {
namespace {

using Labels = std::vector<std::string>;

// A page shown over the world, its first listing made.
struct ShownPage {
  explicit ShownPage(DirectoryWorld& world) : page(world.state()) {
    page.SetView(&view);
    page.OnSetActive();
  }
  HTREEITEM Item(const std::string& label) { return view.FindItem(label); }
  int Image(const std::string& label) { return view.tree.GetItemImage(Item(label)); }
  USER_NODE* Node(const std::string& label) { return view.tree.GetItemNode(Item(label)); }
  void Expand(const std::string& label) { page.OnItemexpandingTree(Item(label), TRUE); }
  TestPageView view;
  CPage2 page;
};

TEST(InsertUserItem, LabelsImagesAndNodeLinking) {
  DirectoryWorld world;
  TestPageView view;
  CPage2 page(world.state());
  page.SetView(&view);
  HTREEITEM unit = page.InsertUserItem("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType, TVI_ROOT);
  HTREEITEM user = page.InsertUserItem("Backup Operator", L"CN=Backup Operator,CN=Users,DC=test,DC=lan", L"backupop",
                                       UserType, TVI_ROOT);
  page.InsertUserItem("", nullptr, L"guest", UserType, TVI_ROOT);
  page.InsertUserItem("No Account", nullptr, nullptr, UserType, TVI_ROOT);
  std::string longName(60, 'n');
  page.InsertUserItem(longName.c_str(), nullptr, L"long", UserType, TVI_ROOT);
  Labels labels = view.Labels();
  ASSERT_EQ(labels.size(), 5u);
  EXPECT_EQ(labels[0], "Sales");
  EXPECT_EQ(labels[1], "Backup Operator (backupop)");
  EXPECT_EQ(labels[2], "guest");
  EXPECT_EQ(labels[3], "No Account");
  EXPECT_EQ(labels[4], std::string(49, 'n'));
  EXPECT_EQ(view.tree.GetItemImage(unit), IMG_CONTAINER);
  EXPECT_EQ(view.tree.GetItemChildren(unit), 1);
  EXPECT_EQ(view.tree.GetItemImage(user), IMG_USER);
  EXPECT_EQ(view.tree.GetItemChildren(user), 0);

  // Top-level nodes in one chain, in insertion order; children below their parent.
  ASSERT_NE(g_UserNodeHead.pNext, nullptr);
  EXPECT_STREQ(g_UserNodeHead.pNext->pszName, "Sales");
  EXPECT_EQ(g_UserNodeHead.pNext->pNext->nType, UserType);
  EXPECT_EQ(g_UserNodeHead.pNext->pNext->pNext->pszName, nullptr);  // empty name stored as null
  HTREEITEM a = page.InsertUserItem("A", nullptr, L"a", UserType, unit);
  page.InsertUserItem("B", nullptr, L"b", UserType, unit);
  USER_NODE* sales = g_UserNodeHead.pNext;
  ASSERT_NE(sales->pChild, nullptr);
  EXPECT_STREQ(sales->pChild->pszName, "A");
  ASSERT_NE(sales->pChild->pNext, nullptr);
  EXPECT_STREQ(sales->pChild->pNext->pszName, "B");
  EXPECT_EQ(sales->pChild->pNext->pParent, sales);
  EXPECT_EQ(view.tree.GetItemNode(a), sales->pChild);
}

TEST(InsertUserItem, LabelLimitKeepsDoubleByteCharactersWhole) {
  HostTestOptions options;
  options.codePage = 936;
  HostTestEnv env(options);
  TestPageView view;
  WizardState state;
  CPage2 page(state);
  page.SetView(&view);
  ClearUserNodes();
  // 48 single bytes then a two-byte character: 50 bytes, one too many.
  std::string name = std::string(48, 'x') + "\xCD\xF5";
  page.InsertUserItem(name.c_str(), nullptr, nullptr, UserType, TVI_ROOT);
  EXPECT_EQ(view.Labels()[0], std::string(48, 'x'));
  ClearUserNodes();
}

TEST(CheckMarks, CheckingContainerAndLoadingItsChildrenLater) {
  DirectoryWorld world;
  ShownPage shown(world);
  // Checking a container never expanded sets its own image only.
  shown.page.OnClickTree(shown.Item("Sales"), FALSE);
  EXPECT_EQ(shown.Image("Sales"), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(shown.Node("Sales")->bSelected);
  // Its children come in checked when it is expanded.
  shown.Expand("Sales");
  EXPECT_EQ(shown.Image("Alice Smith (asmith)"), IMG_USER_CHECKED);
  EXPECT_TRUE(shown.Node("Alice Smith (asmith)")->bSelected);
  EXPECT_EQ(shown.Image("East"), IMG_CONTAINER_CHECKED);
  shown.Expand("East");
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER_CHECKED);

  // Unchecking one account below makes every container above partly checked.
  shown.page.OnClickTree(shown.Item("Carol White (cwhite)"), FALSE);
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER);
  EXPECT_FALSE(shown.Node("Carol White (cwhite)")->bSelected);
  EXPECT_EQ(shown.Image("East"), IMG_CONTAINER_PARTIAL);
  EXPECT_FALSE(shown.Node("East")->bSelected);
  EXPECT_EQ(shown.Image("Sales"), IMG_CONTAINER_PARTIAL);
  EXPECT_FALSE(shown.Node("Sales")->bSelected);
  EXPECT_EQ(shown.Image("West"), IMG_CONTAINER_CHECKED);

  // A partly checked container: one click checks all, the next unchecks all.
  shown.page.OnClickTree(shown.Item("Sales"), FALSE);
  EXPECT_EQ(shown.Image("Sales"), IMG_CONTAINER_CHECKED);
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER_CHECKED);
  EXPECT_EQ(shown.Image("East"), IMG_CONTAINER_CHECKED);
  shown.page.OnClickTree(shown.Item("Sales"), FALSE);
  EXPECT_EQ(shown.Image("Sales"), IMG_CONTAINER);
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER);
  EXPECT_FALSE(shown.Node("Alice Smith (asmith)")->bSelected);
}

TEST(CheckMarks, ExpandButtonIgnoredSpaceTogglesCaret) {
  DirectoryWorld world;
  ShownPage shown(world);
  shown.page.OnClickTree(shown.Item("Users"), TRUE);
  EXPECT_EQ(shown.Image("Users"), IMG_CONTAINER);
  shown.view.tree.SetCaretItem(shown.Item("Users"));
  shown.page.OnKeydownTree(0x41);  // 'A': nothing
  EXPECT_EQ(shown.Image("Users"), IMG_CONTAINER);
  shown.page.OnKeydownTree(0x20);
  EXPECT_EQ(shown.Image("Users"), IMG_CONTAINER_CHECKED);
  shown.page.OnClickTree(nullptr, FALSE);  // a click beside every item
}

TEST(CheckMarks, TicksAndCrossesCountWhenParentsAreRecomputed) {
  MemoryTree tree;
  USER_NODE unit, a, b;
  unit.nType = OUType;
  a.nType = b.nType = UserType;
  HTREEITEM parent = tree.InsertItem("unit", IMG_CONTAINER, 1, &unit, TVI_ROOT);
  HTREEITEM first = tree.InsertItem("a", IMG_TICK, 0, &a, parent);
  HTREEITEM second = tree.InsertItem("b", IMG_USER_CHECKED, 0, &b, parent);
  UpdateParentCheck(tree, first);
  EXPECT_EQ(tree.GetItemImage(parent), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(unit.bSelected);
  tree.SetItemImage(second, IMG_TICK, IMG_TICK);
  UpdateParentCheck(tree, first);
  EXPECT_EQ(tree.GetItemImage(parent), IMG_TICK);
  EXPECT_FALSE(unit.bSelected);
  tree.SetItemImage(first, IMG_CROSS, IMG_CROSS);
  tree.SetItemImage(second, IMG_USER, IMG_USER);
  UpdateParentCheck(tree, first);
  EXPECT_EQ(tree.GetItemImage(parent), IMG_CONTAINER);
  // Toggling a tick or a cross does nothing; neither does checking the
  // parent change them, and the parent stays partly checked.
  ToggleItemCheck(tree, first);
  EXPECT_EQ(tree.GetItemImage(first), IMG_CROSS);
  tree.SetItemImage(parent, IMG_CONTAINER_PARTIAL, IMG_CONTAINER_PARTIAL);
  ToggleItemCheck(tree, parent);
  EXPECT_EQ(tree.GetItemImage(first), IMG_CROSS);
  EXPECT_EQ(tree.GetItemImage(second), IMG_USER);
  EXPECT_EQ(tree.GetItemImage(parent), IMG_CONTAINER);
  EXPECT_EQ(tree.GetSelectedImage(parent), IMG_CONTAINER);
}

TEST(Expansion, ReadsOnceAndDropsTheButtonOfAnEmptyContainer) {
  DirectoryWorld world;
  ShownPage shown(world);
  shown.Expand("Branches");
  EXPECT_NE(shown.Item("Remote"), nullptr);
  size_t count = shown.view.tree.Count();
  shown.Expand("Branches");  // children present: not read again
  EXPECT_EQ(shown.view.tree.Count(), count);
  // Removing: Remote has no account on the script, so it expands to nothing.
  world.state().m_nOperation = OP_UNINSTALL;
  shown.Expand("Remote");
  EXPECT_EQ(shown.view.tree.GetChildItem(shown.Item("Remote")), nullptr);
  EXPECT_EQ(shown.view.tree.GetItemChildren(shown.Item("Remote")), 0);
  std::string log = world.LogText();
  EXPECT_NE(log.find("[WAR]+++++++++Expand TreeItem Begin Retrive UserList From ADS!\r\n"), std::string::npos);
  EXPECT_NE(log.find("[WAR]---------End Expand End  [ Retrive UserList From ADS].\r\n"), std::string::npos);
}

TEST(OnSetActive, FirstListingCheckBoxAndTheNetworkManagementListing) {
  DirectoryWorld world;
  {
    ShownPage shown(world);
    Labels labels = shown.view.Labels();
    // The unit with a Chinese name has no name in code page 1252.
    EXPECT_EQ(labels, (Labels{"Users", "Sales", "Engineering", "Branches", "???"}));
    EXPECT_EQ(shown.view.existText, "Do not copy Install Package and script If thery are already created.");
    EXPECT_TRUE(shown.view.existHidden) << "no QelInstall.bat in the scripts folder";
    EXPECT_STREQ(shown.page.NamingContext(), L"DC=test,DC=lan");
    // A second activation keeps what is loaded.
    shown.page.OnClickTree(shown.Item("Users"), FALSE);
    shown.page.OnSetActive();
    EXPECT_EQ(shown.Image("Users"), IMG_CONTAINER_CHECKED);
    std::string log = world.LogText();
    EXPECT_NE(log.find("[WAR]+++++++++Begin a phase to Retrive UserList From ADS!\r\n"), std::string::npos);
    EXPECT_NE(log.find("[WAR]---------End Phase [ Retrive UserList From ADS].\r\n"), std::string::npos);
  }
  ClearUserNodes();
  world.env().WriteFile(std::string(kScriptsFolder) + "\\QelInstall.bat", "@echo off\r\n");
  world.state().m_nOperation = OP_UNINSTALL;
  world.state().m_dwMajorVersion = 4;
  ShownPage shown(world);
  EXPECT_FALSE(shown.view.existHidden);
  EXPECT_EQ(shown.view.existText,
            "Automatically Delete Orvane Install package and script file when no users are set with logon script.");
  Labels labels = shown.view.Labels();
  EXPECT_NE(std::find(labels.begin(), labels.end(), "John Doe (jdoe)"), labels.end());
  EXPECT_EQ(std::find(labels.begin(), labels.end(), "Backup Operator (backupop)"), labels.end());
}

TEST(OnWizardNext, FlagsAndJumps) {
  DirectoryWorld world;
  world.env().WriteFile(std::string(kScriptsFolder) + "\\QelInstall.bat", "@echo off\r\n");
  ShownPage shown(world);
  shown.view.existChecked = TRUE;
  EXPECT_EQ(shown.page.OnWizardNext(), 110);
  EXPECT_TRUE(world.state().NoCopyWhenExist);
  shown.view.existChecked = FALSE;
  EXPECT_EQ(shown.page.OnWizardNext(), 0);  // on to the install parameters
  EXPECT_FALSE(world.state().NoCopyWhenExist);
  world.state().m_nOperation = OP_UNINSTALL;
  shown.view.existChecked = TRUE;
  EXPECT_EQ(shown.page.OnWizardNext(), 110);
  EXPECT_TRUE(world.state().RemoveWhenExist);
  EXPECT_FALSE(world.state().NoCopyWhenExist);
  shown.view.existChecked = FALSE;
  EXPECT_EQ(shown.page.OnWizardNext(), 110);
  EXPECT_FALSE(world.state().RemoveWhenExist);
}

TEST(Search, FindsFlatListAndFindsNothing) {
  DirectoryWorld world;
  ShownPage shown(world);
  shown.view.displayEdit = "  ali ";
  shown.page.OnSearch();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  EXPECT_EQ(shown.view.Labels(), (Labels{"Alice Smith (asmith)"}));
  EXPECT_TRUE(shown.view.searchEnabled);
  EXPECT_FALSE(shown.view.stopEnabled);
  EXPECT_FALSE(shown.view.playing);
  ASSERT_NE(g_UserNodeHead.pNext, nullptr);
  EXPECT_EQ(g_UserNodeHead.pNext->pNext, nullptr);

  shown.view.displayEdit = "";
  shown.view.accountEdit = "nobody";
  shown.page.OnSearch();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  EXPECT_EQ(shown.view.Labels(), (Labels{"No user found match search criteria."}));
  EXPECT_EQ(g_UserNodeHead.pNext, nullptr);
  // The placeholder cannot be checked.
  shown.page.OnClickTree(shown.view.tree.GetRootItem(), FALSE);
  EXPECT_EQ(shown.view.tree.GetItemImage(shown.view.tree.GetRootItem()), kNoImage);
  // Both edits empty: the top level again.
  shown.view.accountEdit = " ";
  shown.page.OnSearch();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  EXPECT_EQ(shown.view.Labels(), (Labels{"Users", "Sales", "Engineering", "Branches", "???"}));
}

TEST(Search, StopEndsItAndNextIsHeldWhileItRuns) {
  GeneratedDomain shape;
  shape.accounts = 3000;
  shape.organizationalUnits = 10;
  DirectoryWorld world(GenerateDomainLdif(shape));
  ShownPage shown(world);
  // Hold the user-interface thread so the search cannot get far.
  std::unique_lock<std::recursive_mutex> ui(shown.view.ui);
  shown.view.accountEdit = "user";
  shown.page.OnSearch();
  EXPECT_TRUE(shown.page.IsSearching());
  EXPECT_FALSE(shown.view.searchEnabled);
  EXPECT_TRUE(shown.view.stopEnabled);
  EXPECT_TRUE(shown.view.playing);
  EXPECT_EQ(shown.page.OnWizardNext(), -1);
  shown.page.OnStop();
  ui.unlock();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  // Stopped before its first row.
  EXPECT_EQ(shown.view.Labels(), (Labels{"No user found match search criteria."}));
  EXPECT_EQ(g_UserNodeHead.pNext, nullptr);
  EXPECT_NE(shown.page.OnWizardNext(), -1);

  // Run to its end, the whole result is in the tree and in the node list.
  shown.page.OnSearch();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  EXPECT_EQ(shown.view.tree.Count(), 3000u);
  size_t nodes = 0;
  for (USER_NODE* node = g_UserNodeHead.pNext; node != nullptr; node = node->pNext) ++nodes;
  EXPECT_EQ(nodes, 3000u);
}

TEST(Search, ThreadThatCannotStartLeavesThePageIdle) {
  DirectoryWorld world;
  ShownPage shown(world);
  FaultySync sync(Ports().sync);
  sync.plan().Fail("CreateThread", 8);
  ISync* saved = Ports().sync;
  Ports().sync = &sync;
  shown.view.accountEdit = "a";
  shown.page.OnSearch();
  Ports().sync = saved;
  EXPECT_FALSE(shown.page.IsSearching());
  EXPECT_TRUE(shown.view.searchEnabled);
  EXPECT_FALSE(shown.view.stopEnabled);
  EXPECT_FALSE(shown.view.playing);
  EXPECT_EQ(shown.view.Labels(), (Labels{"No user found match search criteria."}));
  EXPECT_NE(shown.page.OnWizardNext(), -1);
}

// Every item of the tree that stands for an object has a node of the list.
bool TreeAgreesWithTheList(MemoryTree& tree) {
  std::set<USER_NODE*> nodes;
  std::vector<USER_NODE*> pending = {g_UserNodeHead.pNext};
  while (!pending.empty()) {
    USER_NODE* first = pending.back();
    pending.pop_back();
    for (USER_NODE* node = first; node != nullptr; node = node->pNext) {
      nodes.insert(node);
      if (node->pChild != nullptr) pending.push_back(node->pChild);
    }
  }
  std::vector<HTREEITEM> items = {tree.GetRootItem()};
  while (!items.empty()) {
    HTREEITEM item = items.back();
    items.pop_back();
    for (; item != nullptr; item = tree.GetNextSiblingItem(item)) {
      USER_NODE* node = tree.GetItemNode(item);
      if (node != nullptr && nodes.count(node) == 0) return false;
      if (tree.GetChildItem(item) != nullptr) items.push_back(tree.GetChildItem(item));
    }
  }
  return true;
}

// Back while a search fills the tree is refused and stops the search; once
// it has ended Back works. A list emptied since the tree was built (the first
// page, on another operation) and filled again by a writer that was still
// running makes the page load afresh, so that the tree and the list agree.
TEST(BackDuringSearch, RefusedUntilTheSearchEndsAndAnEmptiedListIsReloaded) {
  DirectoryWorld world;
  ShownPage shown(world);
  {
    // Hold the user-interface thread so the search cannot get far.
    std::unique_lock<std::recursive_mutex> ui(shown.view.ui);
    shown.view.accountEdit = "a";
    shown.page.OnSearch();
    EXPECT_EQ(shown.page.OnWizardBack(), -1);
  }
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  EXPECT_EQ(shown.view.Labels(), (Labels{"No user found match search criteria."}));  // stopped by Back
  EXPECT_EQ(shown.page.OnWizardBack(), 0);

  shown.view.accountEdit = "";
  shown.page.OnSearch();
  ASSERT_TRUE(WaitSearchEnd(shown.page));
  ClearUserNodes();
  shown.page.InsertUserItem("Late", nullptr, L"late", UserType, TVI_ROOT);
  shown.page.OnSetActive();
  EXPECT_EQ(shown.view.Labels(), (Labels{"Users", "Sales", "Engineering", "Branches", "???"}));
  EXPECT_TRUE(TreeAgreesWithTheList(shown.view.tree));
  // The same operation again keeps what is loaded, and its ticks.
  shown.page.OnClickTree(shown.Item("Sales"), FALSE);
  shown.page.OnSetActive();
  EXPECT_EQ(shown.Image("Sales"), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(TreeAgreesWithTheList(shown.view.tree));
}

}  // namespace
}  // namespace qel::test

namespace qel::test {
namespace {

TEST(SelectByName, ChecksAccountsAndContainersReadingAsFarAsNeeded) {
  DirectoryWorld world;
  ShownPage shown(world);
  EXPECT_TRUE(shown.page.SelectByName("CWHITE"));
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER_CHECKED);
  EXPECT_EQ(shown.Image("East"), IMG_CONTAINER_PARTIAL);
  EXPECT_TRUE(shown.page.SelectByName("ou=west,ou=sales,dc=test,dc=lan"));
  EXPECT_EQ(shown.Image("West"), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(shown.Node("West")->bSelected);
  EXPECT_TRUE(shown.page.SelectByName("cwhite"));  // already checked: stays checked
  EXPECT_EQ(shown.Image("Carol White (cwhite)"), IMG_USER_CHECKED);
  EXPECT_FALSE(shown.page.SelectByName("jdoe"));  // on the deployment script: not offered when adding
  EXPECT_FALSE(shown.page.SelectByName("nobody"));
}

}  // namespace
}  // namespace qel::test
