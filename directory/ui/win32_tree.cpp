#include "directory/ui/win32_tree.h"

#include "directory/tree_check.h"
#include "wizard/ui/win32_window.h"

namespace qel {

int CreateImageListFromBitmap(HIMAGELIST* list, UINT bitmapId, int cell, HWND window) {
  if (bitmapId == 0 || list == nullptr || cell <= 0) return 0;
  HINSTANCE module = GetModuleHandleW(nullptr);
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(module, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (bitmap == nullptr) return 0;
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  UINT colour;
  switch (info.bmBitsPixel) {
    case 4: colour = ILC_COLOR4; break;
    case 8: colour = ILC_COLOR8; break;
    case 16: colour = ILC_COLOR16; break;
    case 24: colour = ILC_COLOR24; break;
    case 32: colour = ILC_COLOR32; break;
    default: colour = ILC_COLORDDB; break;
  }
  HIMAGELIST images = ImageList_Create(16, 16, ILC_MASK | colour, 6, 1);
  if (images == nullptr) {
    DeleteObject(bitmap);
    return 0;
  }
  HDC windowDc = GetDC(window);
  HDC source = CreateCompatibleDC(windowDc);
  HDC target = CreateCompatibleDC(windowDc);
  HBITMAP cellBitmap = CreateCompatibleBitmap(windowDc, cell, cell);
  HGDIOBJ oldSource = SelectObject(source, bitmap);
  for (int i = 0; i < info.bmWidth / cell; ++i) {
    HGDIOBJ oldTarget = SelectObject(target, cellBitmap);
    BitBlt(target, 0, 0, cell, cell, source, i * cell, 0, SRCCOPY);
    SelectObject(target, oldTarget);
    ImageList_AddMasked(images, cellBitmap, RGB(255, 0, 255));
  }
  SelectObject(source, oldSource);
  DeleteObject(cellBitmap);
  DeleteDC(target);
  DeleteDC(source);
  ReleaseDC(window, windowDc);
  DeleteObject(bitmap);
  *list = images;
  return 1;
}

namespace win32 {

// ------------------------------------------------------------ tree view

int TreeViewOps::GetItemImage(HTREEITEM item) {
  TVITEMW tv = {};
  tv.mask = TVIF_IMAGE | TVIF_HANDLE;
  tv.hItem = item;
  if (item == nullptr || !SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return kNoImage;
  return tv.iImage;
}

void TreeViewOps::SetItemImage(HTREEITEM item, int image, int selectedImage) {
  TVITEMW tv = {};
  tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
  tv.hItem = item;
  tv.iImage = image;
  tv.iSelectedImage = selectedImage;
  SendMessageW(m_hTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

HTREEITEM TreeViewOps::GetParentItem(HTREEITEM item) { return TreeView_GetParent(m_hTree, item); }

HTREEITEM TreeViewOps::GetChildItem(HTREEITEM item) {
  return item == TVI_ROOT ? TreeView_GetRoot(m_hTree) : TreeView_GetChild(m_hTree, item);
}

HTREEITEM TreeViewOps::GetNextSiblingItem(HTREEITEM item) { return TreeView_GetNextSibling(m_hTree, item); }

USER_NODE* TreeViewOps::GetItemNode(HTREEITEM item) {
  TVITEMW tv = {};
  tv.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  if (item == nullptr || item == TVI_ROOT || !SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
  return reinterpret_cast<USER_NODE*>(tv.lParam);
}

int TreeViewOps::GetItemImageAndNode(HTREEITEM item, USER_NODE** node) {
  TVITEMW tv = {};
  tv.mask = TVIF_IMAGE | TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  *node = nullptr;
  if (item == nullptr || item == TVI_ROOT || !SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)))
    return kNoImage;
  *node = reinterpret_cast<USER_NODE*>(tv.lParam);
  return tv.iImage;
}

void TreeViewOps::BeginUpdate() {
  if (m_nUpdates++ == 0) SendMessageW(m_hTree, WM_SETREDRAW, FALSE, 0);
}

void TreeViewOps::EndUpdate() {
  if (m_nUpdates == 0 || --m_nUpdates != 0) return;
  SendMessageW(m_hTree, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(m_hTree, nullptr, TRUE);
}

HTREEITEM TreeViewOps::InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) {
  std::wstring wide = WidenAnsi(text);
  TVINSERTSTRUCTW insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
  insert.item.pszText = &wide[0];
  insert.item.iImage = image;
  insert.item.iSelectedImage = image;
  insert.item.cChildren = children;
  insert.item.lParam = reinterpret_cast<LPARAM>(node);
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(m_hTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

BOOL TreeViewOps::DeleteItem(HTREEITEM item) { return TreeView_DeleteItem(m_hTree, item); }

int TreeViewOps::GetItemChildren(HTREEITEM item) {
  TVITEMW tv = {};
  tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
  tv.hItem = item;
  if (!SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return 0;
  return tv.cChildren;
}

void TreeViewOps::SetItemChildren(HTREEITEM item, int children) {
  TVITEMW tv = {};
  tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
  tv.hItem = item;
  tv.cChildren = children;
  SendMessageW(m_hTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

std::string TreeViewOps::GetItemText(HTREEITEM item) {
  wchar_t buffer[260] = {};
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = buffer;
  tv.cchTextMax = 260;
  if (!SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return std::string();
  return NarrowAnsi(buffer);
}

void TreeViewOps::SetItemText(HTREEITEM item, const char* text) {
  std::wstring wide = WidenAnsi(text);
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = &wide[0];
  SendMessageW(m_hTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

HTREEITEM TreeViewOps::GetCaretItem() { return TreeView_GetSelection(m_hTree); }

HTREEITEM TreeViewOps::GetRootItem() { return TreeView_GetRoot(m_hTree); }

}  // namespace win32
}  // namespace qel
