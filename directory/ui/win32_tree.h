// The user tree on Windows: ITreeOps over a tree-view control, and the
// check-mark images cut from the program's bitmap.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "directory/tree_ops.h"

namespace qel {

// Cuts bitmap `bitmapId` of the program into cell-wide 16 by 16 images with
// magenta transparent. 1 on success, 0 on failure; `window` gives the
// device context.
int CreateImageListFromBitmap(HIMAGELIST* list, UINT bitmapId, int cell, HWND window);

namespace win32 {

// ITreeOps over a tree-view control. The adapter keeps the shape of the tree,
// each item's node and its image itself, so that reading them costs no round
// trip to the control, and a check mark changes without a TVM_SETITEM: the
// items' images are callbacks (I_IMAGECALLBACK) that the control asks for
// through TVN_GETDISPINFO when it draws, which the window that owns the
// control passes to OnGetDispInfo. Every change of the tree goes through
// the adapter; it may be called from a second thread.
class TreeViewOps : public ITreeOps {
 public:
  explicit TreeViewOps(HWND tree = nullptr) : m_hTree(tree) {}
  // A control of its own: what was known of another one is dropped.
  void Attach(HWND tree);
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
  // Changed images are drawn once, at the outermost EndUpdate.
  void BeginUpdate() override;
  void EndUpdate() override;

  // TVN_GETDISPINFO (either character set) of the control: fills in the
  // images asked for.
  void OnGetDispInfo(NMTVDISPINFOW* info);

 private:
  struct Entry {
    HTREEITEM parent = nullptr;  // null for a top-level item
    HTREEITEM first = nullptr, last = nullptr;  // children
    HTREEITEM next = nullptr, prev = nullptr;   // siblings
    USER_NODE* node = nullptr;
    int image = kNoImage;
    int selectedImage = kNoImage;
    int children = 0;
  };
  // TVI_ROOT: the entry above the top-level items. Null for an unknown item.
  Entry* Find(HTREEITEM item);
  void Forget(HTREEITEM item);  // the item and everything below it
  void Redraw(HTREEITEM item);

  HWND m_hTree;
  std::recursive_mutex m_mutex;
  std::unordered_map<HTREEITEM, Entry> m_entries;
  Entry m_root;
  int m_nUpdates = 0;
  bool m_bDirty = false;
};

}  // namespace win32
}  // namespace qel
