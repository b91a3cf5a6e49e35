// The user page in a terminal, driven by a script of commands.
#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "directory/tree_check.h"
#include "directory/ui/terminal_user_page.h"
#include "directory/user_node.h"
#include "tests/directory/directory_world.h"

namespace qel::test {
namespace {

struct Script {
  explicit Script(std::deque<std::string> lines) : lines(std::move(lines)) {
    io.readLine = [this](const char*, std::string* line) {
      if (this->lines.empty()) return false;
      *line = this->lines.front();
      this->lines.pop_front();
      return true;
    };
    io.print = [this](const std::string& text) { output += text + "\n"; };
  }
  std::deque<std::string> lines;
  std::string output;
  TerminalIo io;
};

TEST(TerminalUserPage, BrowseExpandToggleSearchAndLeave) {
  DirectoryWorld world;
  TerminalUserPageView view;
  CPage2 page(world.state());
  page.SetView(&view);
  page.OnSetActive();
  EXPECT_EQ(FormatUserTree(view, false),
            "   1 +[ ] Users\n   2 +[ ] Sales\n   3 +[ ] Engineering\n   4 +[ ] Branches\n   5 +[ ] ???\n");

  Script script({"4", "expand 4", "expand 5", "7", "check y", "done"});
  EXPECT_TRUE(RunTerminalUserPage(script.io, page, view));
  // Branches checked, then read: its unit comes in checked; unchecking the
  // one account below makes both partly checked.
  EXPECT_EQ(FormatUserTree(view, false),
            "   1 +[ ] Users\n   2 +[ ] Sales\n   3 +[ ] Engineering\n   4  [~] Branches\n"
            "   5    [~] Remote\n   6      [x] Paul Young (pyoung)\n   7      [ ] Quinn Allen (qallen)\n   8 +[ ] ???\n");
  EXPECT_TRUE(view.m_bExistChecked);

  Script search({"search ;ali", "wait", "1", "done"});
  EXPECT_TRUE(RunTerminalUserPage(search.io, page, view));
  EXPECT_EQ(FormatUserTree(view, false), "   1  [x] Alice Smith (asmith)\n");
  ASSERT_NE(g_UserNodeHead.pNext, nullptr);
  EXPECT_TRUE(g_UserNodeHead.pNext->bSelected);

  Script ended({"list"});
  EXPECT_FALSE(RunTerminalUserPage(ended.io, page, view));
  Script unknown({"two words", "expand 99", ""});
  EXPECT_TRUE(RunTerminalUserPage(unknown.io, page, view));
  EXPECT_NE(unknown.output.find("(no such item)"), std::string::npos);
  EXPECT_NE(unknown.output.find("(list, N, expand N"), std::string::npos);

  // A line of names checks them and leaves the page.
  // (An empty search brings the top level back first.)
  Script names({"search", "wait", "backupop; nobody", "never read"});
  EXPECT_TRUE(RunTerminalUserPage(names.io, page, view));
  EXPECT_NE(names.output.find("(not offered: nobody)"), std::string::npos);
  EXPECT_EQ(names.output.find("(not offered: backupop)"), std::string::npos);
  EXPECT_EQ(names.lines.size(), 1u);
  HTREEITEM backup = nullptr;
  for (const auto& item : view.Memory().Items(true))
    if (view.Memory().GetItemText(item.first) == "Backup Operator (backupop)") backup = item.first;
  ASSERT_NE(backup, nullptr);
  EXPECT_EQ(view.Memory().GetItemImage(backup), IMG_USER_CHECKED);
  EXPECT_EQ(view.Memory().GetItemImage(view.Memory().GetParentItem(backup)), IMG_CONTAINER_PARTIAL);
}

}  // namespace
}  // namespace qel::test
