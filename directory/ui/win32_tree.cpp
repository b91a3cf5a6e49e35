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

void TreeViewOps::Attach(HWND tree) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (tree == m_hTree) return;
  m_hTree = tree;
  m_entries.clear();
  m_root = Entry();
}

TreeViewOps::Entry* TreeViewOps::Find(HTREEITEM item) {
  if (item == TVI_ROOT) return &m_root;
  auto found = m_entries.find(item);
  return found != m_entries.end() ? &found->second : nullptr;
}

void TreeViewOps::Forget(HTREEITEM item) {
  Entry* entry = Find(item);
  if (entry == nullptr) return;
  for (HTREEITEM child = entry->first; child != nullptr;) {
    HTREEITEM next = Find(child) != nullptr ? Find(child)->next : nullptr;
    Forget(child);
    child = next;
  }
  m_entries.erase(item);
}

void TreeViewOps::Redraw(HTREEITEM item) {
  RECT rect = {};
  if (TreeView_GetItemRect(m_hTree, item, &rect, FALSE)) InvalidateRect(m_hTree, &rect, FALSE);
}

int TreeViewOps::GetItemImage(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  return entry != nullptr ? entry->image : kNoImage;
}

int TreeViewOps::GetItemImageAndNode(HTREEITEM item, USER_NODE** node) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  *node = entry != nullptr ? entry->node : nullptr;
  return entry != nullptr ? entry->image : kNoImage;
}

void TreeViewOps::SetItemImage(HTREEITEM item, int image, int selectedImage) {
  {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
    if (entry == nullptr || (entry->image == image && entry->selectedImage == selectedImage)) return;
    entry->image = image;
    entry->selectedImage = selectedImage;
    if (m_nUpdates > 0) {
      m_bDirty = true;
      return;
    }
  }
  Redraw(item);
}

void TreeViewOps::BeginUpdate() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  ++m_nUpdates;
}

void TreeViewOps::EndUpdate() {
  {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_nUpdates == 0 || --m_nUpdates != 0 || !m_bDirty) return;
    m_bDirty = false;
  }
  InvalidateRect(m_hTree, nullptr, FALSE);
}

void TreeViewOps::OnGetDispInfo(NMTVDISPINFOW* info) {
  // The image fields lie alike in the ANSI and the Unicode notification.
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = info->item.hItem != TVI_ROOT ? Find(info->item.hItem) : nullptr;
  int image = entry != nullptr ? entry->image : kNoImage;
  int selectedImage = entry != nullptr ? entry->selectedImage : kNoImage;
  if (info->item.mask & TVIF_IMAGE) info->item.iImage = image == kNoImage ? I_IMAGENONE : image;
  if (info->item.mask & TVIF_SELECTEDIMAGE)
    info->item.iSelectedImage = selectedImage == kNoImage ? I_IMAGENONE : selectedImage;
}

HTREEITEM TreeViewOps::GetParentItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  return entry != nullptr ? entry->parent : nullptr;
}

HTREEITEM TreeViewOps::GetChildItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = Find(item);
  return entry != nullptr ? entry->first : nullptr;
}

HTREEITEM TreeViewOps::GetNextSiblingItem(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  return entry != nullptr ? entry->next : nullptr;
}

USER_NODE* TreeViewOps::GetItemNode(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  return entry != nullptr ? entry->node : nullptr;
}

HTREEITEM TreeViewOps::InsertItem(const char* text, int image, int children, USER_NODE* node, HTREEITEM parent) {
  if (parent == nullptr) parent = TVI_ROOT;
  std::wstring wide = WidenAnsi(text);
  TVINSERTSTRUCTW insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
  insert.item.pszText = &wide[0];
  insert.item.iImage = I_IMAGECALLBACK;
  insert.item.iSelectedImage = I_IMAGECALLBACK;
  insert.item.cChildren = children;
  insert.item.lParam = reinterpret_cast<LPARAM>(node);
  // The control is not held locked while it works: it may belong to the
  // other thread, which may be drawing and asking for images.
  auto made = reinterpret_cast<HTREEITEM>(SendMessageW(m_hTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (made == nullptr) return nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry entry;
    entry.parent = parent != TVI_ROOT ? parent : nullptr;
    entry.node = node;
    entry.image = image;
    entry.selectedImage = image;
    entry.children = children;
    if (Entry* under = Find(parent)) {
      entry.prev = under->last;
      if (Entry* last = Find(under->last)) last->next = made;
      if (under->first == nullptr) under->first = made;
      under->last = made;
    }
    m_entries[made] = entry;
  }
  // Inserted from another thread, the item may have been drawn before its
  // image was known here.
  if (GetWindowThreadProcessId(m_hTree, nullptr) != GetCurrentThreadId()) Redraw(made);
  return made;
}

BOOL TreeViewOps::DeleteItem(HTREEITEM item) {
  if (!TreeView_DeleteItem(m_hTree, item)) return FALSE;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (item == TVI_ROOT) {
    m_entries.clear();
    m_root = Entry();
    return TRUE;
  }
  Entry* entry = Find(item);
  if (entry == nullptr) return TRUE;
  Entry* under = Find(entry->parent != nullptr ? entry->parent : TVI_ROOT);
  if (Entry* prev = Find(entry->prev)) prev->next = entry->next;
  else if (under != nullptr) under->first = entry->next;
  if (Entry* next = Find(entry->next)) next->prev = entry->prev;
  else if (under != nullptr) under->last = entry->prev;
  Forget(item);
  return TRUE;
}

int TreeViewOps::GetItemChildren(HTREEITEM item) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  Entry* entry = item != TVI_ROOT ? Find(item) : nullptr;
  return entry != nullptr ? entry->children : 0;
}

void TreeViewOps::SetItemChildren(HTREEITEM item, int children) {
  TVITEMW tv = {};
  tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
  tv.hItem = item;
  tv.cChildren = children;
  if (!SendMessageW(m_hTree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (Entry* entry = item != TVI_ROOT ? Find(item) : nullptr) entry->children = children;
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

HTREEITEM TreeViewOps::GetRootItem() { return GetChildItem(TVI_ROOT); }

}  // namespace win32
}  // namespace qel
