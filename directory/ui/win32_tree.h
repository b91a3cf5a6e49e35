// The user tree on Windows: ITreeOps over a tree-view control, and the
// check-mark images cut from the program's bitmap.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "directory/tree_ops.h"

namespace qel {

// Cuts bitmap `bitmapId` of the program into cell-wide 16 by 16 images with
// magenta transparent. 1 on success, 0 on failure; `window` gives the
// device context.
int CreateImageListFromBitmap(HIMAGELIST* list, UINT bitmapId, int cell, HWND window);

namespace win32 {

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
  int GetItemImageAndNode(HTREEITEM item, USER_NODE** node) override;
  // The control stops drawing (WM_SETREDRAW) until the outermost EndUpdate,
  // then draws the changed items at once.
  void BeginUpdate() override;
  void EndUpdate() override;

 private:
  HWND m_hTree;
  int m_nUpdates = 0;
};

}  // namespace win32
}  // namespace qel
