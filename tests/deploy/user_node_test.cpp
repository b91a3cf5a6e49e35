// The node list: making nodes and emptying the list.
#include <gtest/gtest.h>

#include "directory/user_node.h"

namespace qel {
namespace {

TEST(UserNodes, NewNodeCopiesTextsAndKeepsEmptyOnesNull) {
  wchar_t path[] = L"OU=Sales,DC=test,DC=lan";
  USER_NODE* node = NewUserNode("Sales", path, L"", OUType);
  path[0] = L'X';  // the node owns its own copy
  EXPECT_STREQ(node->pwszPath, L"OU=Sales,DC=test,DC=lan");
  EXPECT_STREQ(node->pszName, "Sales");
  EXPECT_EQ(node->pwszAccount, nullptr);
  EXPECT_EQ(node->nType, OUType);
  EXPECT_FALSE(node->bSelected);
  USER_NODE* account = NewUserNode("", nullptr, L"jdoe", UserType);
  EXPECT_EQ(account->pszName, nullptr);
  EXPECT_EQ(account->pwszPath, nullptr);
  EXPECT_STREQ(account->pwszAccount, L"jdoe");
  // Hand both to the list so that ClearUserNodes frees them.
  ClearUserNodes();
  g_UserNodeHead.pNext = node;
  node->pNext = account;
  ClearUserNodes();
}

TEST(UserNodes, ClearingFreesLoadedChildrenAndResetsTheHead) {
  ClearUserNodes();
  EXPECT_EQ(g_pLastUserNode, &g_UserNodeHead);
  USER_NODE* ou = NewUserNode("Sales", L"OU=Sales,DC=test,DC=lan", nullptr, OUType);
  g_UserNodeHead.pNext = ou;
  USER_NODE* child = NewUserNode("Sub", L"OU=Sub,OU=Sales,DC=test,DC=lan", nullptr, OUType);
  child->pParent = ou;
  ou->pChild = child;
  USER_NODE* grandChild = NewUserNode("jdoe", nullptr, L"jdoe", UserType);
  grandChild->pParent = child;
  child->pChild = grandChild;
  ou->pNext = NewUserNode("Users", L"CN=Users,DC=test,DC=lan", nullptr, OUType);
  g_pLastUserNode = ou->pNext;
  ClearUserNodes();
  EXPECT_EQ(g_UserNodeHead.pNext, nullptr);
  EXPECT_EQ(g_pLastUserNode, &g_UserNodeHead);
  ClearUserNodes();  // emptying an empty list is harmless
  EXPECT_EQ(g_UserNodeHead.pNext, nullptr);
}

}  // namespace
}  // namespace qel
