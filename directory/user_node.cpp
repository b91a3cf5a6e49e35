#include "directory/user_node.h"

#include <cstring>
#include <cwchar>

namespace qel {

USER_NODE g_UserNodeHead;
USER_NODE* g_pLastUserNode = &g_UserNodeHead;

namespace {

char* CopyText(const char* text) {
  if (text == nullptr || *text == '\0') return nullptr;
  size_t size = std::strlen(text) + 1;
  char* copy = new char[size];
  std::memcpy(copy, text, size);
  return copy;
}

wchar_t* CopyText(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return nullptr;
  size_t size = std::wcslen(text) + 1;
  wchar_t* copy = new wchar_t[size];
  std::wmemcpy(copy, text, size);
  return copy;
}

// Frees a sibling chain and everything below it. Children are freed by
// walking down rather than by recursion over siblings, so a long chain of
// accounts costs no stack; only the container depth recurses.
void FreeChain(USER_NODE* node) {
  while (node != nullptr) {
    USER_NODE* next = node->pNext;
    FreeChain(node->pChild);
    delete[] node->pwszPath;
    delete[] node->pwszAccount;
    delete[] node->pszName;
    delete node;
    node = next;
  }
}

}  // namespace

namespace {
// Written on the user-interface thread only, like the list itself.
DWORD g_dwUserNodeGeneration = 0;
}  // namespace

void ClearUserNodes() {
  FreeChain(g_UserNodeHead.pNext);
  g_UserNodeHead.pNext = nullptr;
  g_pLastUserNode = &g_UserNodeHead;
  ++g_dwUserNodeGeneration;
}

DWORD UserNodeGeneration() { return g_dwUserNodeGeneration; }

USER_NODE* NewUserNode(const char* name, const wchar_t* path, const wchar_t* account, int type) {
  USER_NODE* node = new USER_NODE;
  node->pszName = CopyText(name);
  node->pwszPath = CopyText(path);
  node->pwszAccount = CopyText(account);
  node->nType = type;
  return node;
}

}  // namespace qel
