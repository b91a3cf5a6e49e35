// The user page's window on Windows: the tree view with its check-mark
// images, the search controls, the animation and the tooltip, as a view of
// CPage2. Calls from the search thread reach the window by SendMessage.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "directory/page2.h"
#include "directory/tree_ops.h"
#include "wizard/ui/win32_wizard.h"

namespace qel::win32 {

// ITreeOps over a tree-view control.
class TreeViewOps : public ITreeOps {
 public:
  explicit TreeViewOps(HWND tree = nullptr) : m_hTree(tree) {}
  void Attach(HWND tree) { m_hTree = tree; }
  HWND Hwnd() const { return m_hTree; }

  int GetItemImage(HTREEITEM item) override;
  void SetItemImage(HTREEITEM item, int image, int selectedImage) override;
  HTREEITEM GetParentItem(HTREEITEM item) override;
  HTREEITEM GetChildItem(HTREEITEM item) override;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) override;
  USER_NODE* GetItemNode(HTREEITEM item) override;
  HTREEITEM InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) override;
  BOOL DeleteItem(HTREEITEM item) override;
  int GetItemChildren(HTREEITEM item) override;
  void SetItemChildren(HTREEITEM item, int children) override;
  std::string GetItemText(HTREEITEM item) override;
  void SetItemText(HTREEITEM item, const char* text) override;
  HTREEITEM GetCaretItem() override;
  HTREEITEM GetRootItem() override;

 private:
  HWND m_hTree;
};

class UserPageWindow : public PageWindow, public IUserPageView {
 public:
  UserPageWindow(CWizardSheet* sheet, CPage2* logic);
  ~UserPageWindow() override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // IUserPageView
  ITreeOps& Tree() override { return m_tree; }
  void SetExistCheckText(const char* text) override;
  void HideExistCheck() override;
  BOOL IsExistChecked() override;
  std::string GetEditText(int controlId) override;
  void EnableButton(int controlId, BOOL enable) override;
  void PlayAnimation(BOOL play) override;
  BOOL RunOnUiThread(const std::function<void()>& work) override;

 private:
  void InitControls();
  CPage2* m_pPage;
  TreeViewOps m_tree;
  HIMAGELIST m_hImages = nullptr;
  HWND m_hTooltip = nullptr;
  DWORD m_dwUiThread = 0;
  wchar_t m_szTooltip[512] = {};
};

}  // namespace qel::win32
