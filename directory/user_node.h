// The administrator's selection of accounts and containers, kept apart from
// the tree that shows it.
#pragma once

#include "platform/win_types.h"

namespace qel {

enum UserNodeType {
  OUType = 0,    // organisational unit or container
  UserType = 1,  // user account
};

struct USER_NODE {
  wchar_t* pwszPath = nullptr;     // distinguished name (no provider prefix), or null
  wchar_t* pwszAccount = nullptr;  // logon name, or null for containers
  char* pszName = nullptr;         // display name (ANSI), or null
  int nType = OUType;
  BOOL bSelected = FALSE;          // checked in the user tree
  USER_NODE* pNext = nullptr;      // next sibling
  USER_NODE* pChild = nullptr;     // first child
  USER_NODE* pParent = nullptr;    // parent, null at the top level
};

// Only pNext of the head is used: the first top-level node.
extern USER_NODE g_UserNodeHead;
// The node inserted last; &g_UserNodeHead after ClearUserNodes.
extern USER_NODE* g_pLastUserNode;

// Frees every node (with its children and texts) and resets the head.
void ClearUserNodes();

// Goes up by one at every ClearUserNodes: a tree built on the list while it
// had another value holds items whose nodes are gone.
DWORD UserNodeGeneration();

// Makes a node with heap copies of the texts (empty or null texts stay null).
USER_NODE* NewUserNode(const char* name, const wchar_t* path, const wchar_t* account, int type);

}  // namespace qel
