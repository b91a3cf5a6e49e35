#include "directory/ui/win32_user_page.h"

#include "directory/tree_check.h"
#include "res/resource.h"
#include "res/string_table.h"

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

namespace {

// Runs a function of another thread on the window's thread.
const UINT kRunMessage = WM_APP + 0x21;

std::string Narrow(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

}  // namespace

// ------------------------------------------------------------ tree view

int TreeViewOps::GetItemImage(HTREEITEM item) {
  TVITEMW tv = {};
  tv.mask = TVIF_IMAGE | TVIF_HANDLE;
  tv.hItem = item;
  if (item == nullptr || !TreeView_GetItem(m_hTree, &tv)) return kNoImage;
  return tv.iImage;
}

void TreeViewOps::SetItemImage(HTREEITEM item, int image, int selectedImage) {
  TVITEMW tv = {};
  tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
  tv.hItem = item;
  tv.iImage = image;
  tv.iSelectedImage = selectedImage;
  TreeView_SetItem(m_hTree, &tv);
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
  if (item == nullptr || item == TVI_ROOT || !TreeView_GetItem(m_hTree, &tv)) return nullptr;
  return reinterpret_cast<USER_NODE*>(tv.lParam);
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
  if (!TreeView_GetItem(m_hTree, &tv)) return 0;
  return tv.cChildren;
}

void TreeViewOps::SetItemChildren(HTREEITEM item, int children) {
  TVITEMW tv = {};
  tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
  tv.hItem = item;
  tv.cChildren = children;
  TreeView_SetItem(m_hTree, &tv);
}

std::string TreeViewOps::GetItemText(HTREEITEM item) {
  wchar_t buffer[260] = {};
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = buffer;
  tv.cchTextMax = 260;
  if (!TreeView_GetItem(m_hTree, &tv)) return std::string();
  return Narrow(buffer);
}

void TreeViewOps::SetItemText(HTREEITEM item, const char* text) {
  std::wstring wide = WidenAnsi(text);
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = &wide[0];
  TreeView_SetItem(m_hTree, &tv);
}

HTREEITEM TreeViewOps::GetCaretItem() { return TreeView_GetSelection(m_hTree); }

HTREEITEM TreeViewOps::GetRootItem() { return TreeView_GetRoot(m_hTree); }

// ------------------------------------------------------------ page window

UserPageWindow::UserPageWindow(CWizardSheet* sheet, CPage2* logic)
    : PageWindow(sheet, logic), m_pPage(logic), m_dwUiThread(GetCurrentThreadId()) {
  if (logic != nullptr) logic->SetView(this);
}

UserPageWindow::~UserPageWindow() {
  if (m_hImages != nullptr) ImageList_Destroy(m_hImages);
}

void UserPageWindow::InitControls() {
  HWND tree = GetDlgItem(m_hwnd, IDC_TREE);
  m_tree.Attach(tree);
  m_dwUiThread = GetCurrentThreadId();
  if (TreeView_GetImageList(tree, TVSIL_NORMAL) == nullptr) {
    if (!CreateImageListFromBitmap(&m_hImages, IDB_TREE, 16, m_hwnd)) return;
    TreeView_SetImageList(tree, m_hImages, TVSIL_NORMAL);
  }
  HINSTANCE module = GetModuleHandleW(nullptr);
  SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_OPENW, reinterpret_cast<WPARAM>(module),
                      reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(IDR_SEARCH_AVI)));
  INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  m_hTooltip = CreateWindowExW(0, TOOLTIPS_CLASSW, L"", WS_POPUP | TTS_BALLOON | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
  if (m_hTooltip != nullptr) {
    // The tool keeps a pointer to its text: the text lives with the window.
    wchar_t* text = m_szTooltip;
    LoadResStringW(138, text, 512);
    TOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_SUBCLASS | TTF_TRANSPARENT;
    tool.hwnd = tree;
    tool.uId = IDC_TREE;
    GetClientRect(tree, &tool.rect);
    tool.rect.bottom -= 20;
    tool.hinst = module;
    tool.lpszText = text;
    SendMessageW(m_hTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

INT_PTR UserPageWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitControls();
      break;
    case kRunMessage: {
      auto* work = reinterpret_cast<const std::function<void()>*>(lParam);
      (*work)();
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && m_pPage != nullptr) {
        if (LOWORD(wParam) == IDC_SEARCH) {
          m_pPage->OnSearch();
          return TRUE;
        }
        if (LOWORD(wParam) == IDC_STOP) {
          m_pPage->OnStop();
          return TRUE;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom != IDC_TREE || m_pPage == nullptr || header->hwndFrom != m_tree.Hwnd()) break;
      if (header->code == NM_CLICK) {
        TVHITTESTINFO hit = {};
        GetCursorPos(&hit.pt);
        ScreenToClient(m_tree.Hwnd(), &hit.pt);
        HTREEITEM item = TreeView_HitTest(m_tree.Hwnd(), &hit);
        m_pPage->OnClickTree(item, (hit.flags & TVHT_ONITEMBUTTON) != 0);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      if (header->code == TVN_KEYDOWN) {
        m_pPage->OnKeydownTree(reinterpret_cast<NMTVKEYDOWN*>(lParam)->wVKey);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      if (header->code == TVN_ITEMEXPANDINGW || header->code == TVN_ITEMEXPANDINGA) {
        auto* view = reinterpret_cast<NMTREEVIEWW*>(lParam);
        m_pPage->OnItemexpandingTree(view->itemNew.hItem, (view->action & TVE_EXPAND) != 0 ? TRUE : FALSE);
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return PageWindow::HandleMessage(message, wParam, lParam);
}

void UserPageWindow::SetExistCheckText(const char* text) {
  SetDlgItemTextW(m_hwnd, IDC_EXIST_CHECK, WidenAnsi(text).c_str());
}

void UserPageWindow::HideExistCheck() { ShowWindow(GetDlgItem(m_hwnd, IDC_EXIST_CHECK), SW_HIDE); }

BOOL UserPageWindow::IsExistChecked() { return IsDlgButtonChecked(m_hwnd, IDC_EXIST_CHECK) == BST_CHECKED; }

std::string UserPageWindow::GetEditText(int controlId) {
  wchar_t buffer[260] = {};
  GetDlgItemTextW(m_hwnd, controlId, buffer, 260);
  return Narrow(buffer);
}

void UserPageWindow::EnableButton(int controlId, BOOL enable) { EnableWindow(GetDlgItem(m_hwnd, controlId), enable); }

void UserPageWindow::PlayAnimation(BOOL play) {
  if (play)
    SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, -1));
  else
    SendDlgItemMessageW(m_hwnd, IDC_ANIMATE, ACM_STOP, 0, 0);
}

BOOL UserPageWindow::RunOnUiThread(const std::function<void()>& work) {
  if (GetCurrentThreadId() == m_dwUiThread) {
    work();
    return TRUE;
  }
  if (m_hwnd == nullptr || !IsWindow(m_hwnd)) return FALSE;
  return SendMessageW(m_hwnd, kRunMessage, 0, reinterpret_cast<LPARAM>(&work)) != 0;
}

}  // namespace win32
}  // namespace qel
