// The check marks over a real tree-view control, and the image list cut from
// the program's bitmap 153 (Windows build, run under Wine).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "directory/tree_check.h"
#include "directory/ui/win32_tree.h"
#include "res/resource.h"

namespace qel {
namespace {

class TreeWindow {
 public:
  TreeWindow() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    hwnd = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP | TVS_HASBUTTONS | TVS_HASLINES, 0, 0, 300, 300, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~TreeWindow() { DestroyWindow(hwnd); }
  HWND hwnd;
};

TEST(Win32Tree, CheckMarksPropagateThroughTheControl) {
  TreeWindow window;
  ASSERT_NE(window.hwnd, nullptr);
  win32::TreeViewOps tree(window.hwnd);
  USER_NODE unit, east, alice, carol;
  unit.nType = east.nType = OUType;
  alice.nType = carol.nType = UserType;
  HTREEITEM sales = tree.InsertItem("Sales", IMG_CONTAINER, 1, &unit, TVI_ROOT);
  HTREEITEM a = tree.InsertItem("Alice Smith (asmith)", IMG_USER, 0, &alice, sales);
  HTREEITEM e = tree.InsertItem("East", IMG_CONTAINER, 1, &east, sales);
  HTREEITEM c = tree.InsertItem("Carol White (cwhite)", IMG_USER, 0, &carol, e);
  EXPECT_EQ(tree.GetItemText(a), "Alice Smith (asmith)");
  EXPECT_EQ(tree.GetItemNode(c), &carol);
  EXPECT_EQ(tree.GetParentItem(c), e);
  EXPECT_EQ(tree.GetRootItem(), sales);
  EXPECT_EQ(tree.GetChildItem(TVI_ROOT), sales);
  EXPECT_EQ(tree.GetNextSiblingItem(a), e);
  EXPECT_EQ(tree.GetItemChildren(e), 1);

  ToggleItemCheck(tree, sales);
  EXPECT_EQ(tree.GetItemImage(c), IMG_USER_CHECKED);
  EXPECT_EQ(tree.GetItemImage(e), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(unit.bSelected);
  ToggleItemCheck(tree, c);
  EXPECT_EQ(tree.GetItemImage(e), IMG_CONTAINER);
  EXPECT_EQ(tree.GetItemImage(sales), IMG_CONTAINER_PARTIAL);
  EXPECT_FALSE(unit.bSelected);
  EXPECT_TRUE(alice.bSelected);

  tree.SetItemText(a, "renamed");
  EXPECT_EQ(tree.GetItemText(a), "renamed");
  tree.SetItemChildren(e, 0);
  EXPECT_EQ(tree.GetItemChildren(e), 0);
  EXPECT_TRUE(tree.DeleteItem(TVI_ROOT));
  EXPECT_EQ(tree.GetRootItem(), nullptr);
}

// A tree view inside a window that hands the control's image questions to
// the adapter, as the user page does.
class OwnedTree {
 public:
  OwnedTree() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &OwnedTree::Proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QelTreeOwner";
    RegisterClassW(&windowClass);
    owner = CreateWindowExW(0, L"QelTreeOwner", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    hwnd = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES, 0, 0, 300,
                           300, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    ops.Attach(hwnd);
    s_ops = &ops;
  }
  ~OwnedTree() {
    DestroyWindow(owner);
    s_ops = nullptr;
  }
  // The image the control itself reports, asking the owner for it.
  int ShownImage(HTREEITEM item, bool selected = false) {
    TVITEMW tv = {};
    tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
    tv.hItem = item;
    SendMessageW(hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return selected ? tv.iSelectedImage : tv.iImage;
  }

  HWND owner = nullptr, hwnd = nullptr;
  win32::TreeViewOps ops;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && s_ops != nullptr) {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TVN_GETDISPINFOW || header->code == TVN_GETDISPINFOA) {
        s_ops->OnGetDispInfo(reinterpret_cast<NMTVDISPINFOW*>(lParam));
        return 0;
      }
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  static win32::TreeViewOps* s_ops;
};

win32::TreeViewOps* OwnedTree::s_ops = nullptr;

TEST(Win32Tree, TheControlShowsTheCheckMarksTheAdapterKeeps) {
  OwnedTree owned;
  ASSERT_NE(owned.hwnd, nullptr);
  win32::TreeViewOps& tree = owned.ops;
  USER_NODE unit, alice, bob;
  unit.nType = OUType;
  alice.nType = bob.nType = UserType;
  HTREEITEM sales = tree.InsertItem("Sales", IMG_CONTAINER, 1, &unit, TVI_ROOT);
  HTREEITEM a = tree.InsertItem("Alice", IMG_USER, 0, &alice, sales);
  HTREEITEM b = tree.InsertItem("Bob", IMG_USER, 0, &bob, sales);
  HTREEITEM placeholder = tree.InsertItem("Searching...", kNoImage, 0, nullptr, TVI_ROOT);
  TreeView_Expand(owned.hwnd, sales, TVE_EXPAND);
  EXPECT_EQ(owned.ShownImage(sales), IMG_CONTAINER);
  EXPECT_EQ(owned.ShownImage(a), IMG_USER);
  EXPECT_EQ(owned.ShownImage(placeholder), I_IMAGENONE);

  ToggleItemCheck(tree, a);
  EXPECT_EQ(owned.ShownImage(a), IMG_USER_CHECKED);
  EXPECT_EQ(owned.ShownImage(a, true), IMG_USER_CHECKED);
  EXPECT_EQ(owned.ShownImage(sales), IMG_CONTAINER_PARTIAL);
  ToggleItemCheck(tree, sales);
  EXPECT_EQ(owned.ShownImage(b), IMG_USER_CHECKED);
  EXPECT_EQ(owned.ShownImage(sales, true), IMG_CONTAINER_CHECKED);
  EXPECT_TRUE(unit.bSelected);
  // Drawing the changed tree asks for images again, and gets them.
  UpdateWindow(owned.owner);
  EXPECT_EQ(owned.ShownImage(b), IMG_USER_CHECKED);
}

TEST(Win32Tree, AdapterFollowsDeletionsAndInsertionsFromAnotherThread) {
  OwnedTree owned;
  win32::TreeViewOps& tree = owned.ops;
  USER_NODE top, east, west, carol, dave;
  top.nType = east.nType = west.nType = OUType;
  carol.nType = dave.nType = UserType;
  HTREEITEM unit = tree.InsertItem("Unit", IMG_CONTAINER_CHECKED, 1, &top, TVI_ROOT);
  HTREEITEM e = tree.InsertItem("East", IMG_CONTAINER_CHECKED, 1, &east, unit);
  HTREEITEM c = tree.InsertItem("Carol", IMG_USER_CHECKED, 0, &carol, e);
  HTREEITEM w = tree.InsertItem("West", IMG_CONTAINER_CHECKED, 1, &west, unit);

  // The middle of three siblings, then a container with what is below it.
  HTREEITEM d = nullptr;
  // The control's thread keeps answering while the other one inserts.
  std::atomic<bool> done{false};
  std::thread inserter([&] {
    d = tree.InsertItem("Dave", IMG_USER_CHECKED, 0, &dave, unit);
    done = true;
  });
  for (MSG msg; !done;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  inserter.join();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(tree.GetNextSiblingItem(w), d);
  EXPECT_EQ(tree.GetItemNode(d), &dave);
  EXPECT_EQ(owned.ShownImage(d), IMG_USER_CHECKED);
  EXPECT_TRUE(tree.DeleteItem(w));
  EXPECT_EQ(tree.GetNextSiblingItem(e), d);
  EXPECT_TRUE(tree.DeleteItem(e));
  EXPECT_EQ(tree.GetChildItem(unit), d);
  EXPECT_EQ(tree.GetItemNode(c), nullptr) << "gone with its container";
  EXPECT_EQ(TreeView_GetChild(owned.hwnd, unit), d);

  // The unit is recomputed from what is left.
  ToggleItemCheck(tree, d);
  EXPECT_EQ(tree.GetItemImage(unit), IMG_CONTAINER);
  EXPECT_FALSE(top.bSelected);
  EXPECT_TRUE(tree.DeleteItem(TVI_ROOT));
  EXPECT_EQ(tree.GetRootItem(), nullptr);
  EXPECT_EQ(tree.GetItemImage(unit), kNoImage);
  HTREEITEM again = tree.InsertItem("Again", IMG_CONTAINER, 1, &top, TVI_ROOT);
  EXPECT_EQ(tree.GetRootItem(), again);
  EXPECT_EQ(tree.GetParentItem(again), nullptr);
}

TEST(Win32Tree, ImageListHasSevenMaskedImages) {
  TreeWindow window;
  HIMAGELIST list = nullptr;
  EXPECT_EQ(CreateImageListFromBitmap(nullptr, IDB_TREE, 16, window.hwnd), 0);
  EXPECT_EQ(CreateImageListFromBitmap(&list, 0, 16, window.hwnd), 0);
  ASSERT_EQ(CreateImageListFromBitmap(&list, IDB_TREE, 16, window.hwnd), 1);
  EXPECT_EQ(ImageList_GetImageCount(list), 7);
  int width = 0, height = 0;
  ImageList_GetIconSize(list, &width, &height);
  EXPECT_EQ(width, 16);
  EXPECT_EQ(height, 16);
  ImageList_Destroy(list);
}

}  // namespace
}  // namespace qel
