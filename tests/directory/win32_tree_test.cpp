// The check marks over a real tree-view control, and the image list cut from
// the program's bitmap 153 (Windows build, run under Wine).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

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
