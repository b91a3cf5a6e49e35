#include "tests/directory/quadratic_check_marks.h"

#include "directory/tree_check.h"

namespace qel::test::quadratic {

namespace {

bool IsUserItem(ITreeOps& tree, HTREEITEM item) {
  USER_NODE* node = tree.GetItemNode(item);
  return node != nullptr && node->nType == UserType;
}

}  // namespace

void ToggleItemCheck(ITreeOps& tree, HTREEITEM item) {
  if (item == nullptr) return;
  switch (tree.GetItemImage(item)) {
    case IMG_CONTAINER:
    case IMG_USER:
      quadratic::SetItemCheck(tree, item, 1);
      break;
    case IMG_CONTAINER_CHECKED:
    case IMG_USER_CHECKED:
      quadratic::SetItemCheck(tree, item, 0);
      break;
    case IMG_CONTAINER_PARTIAL:
      // Checking a partly checked container may leave it partly checked
      // (an account image 2 or 3 below it); then it is cleared instead.
      quadratic::SetItemCheck(tree, item, 1);
      if (tree.GetItemImage(item) == IMG_CONTAINER_PARTIAL) quadratic::SetItemCheck(tree, item, 0);
      break;
    default:  // ticks, crosses and the imageless placeholders
      break;
  }
}

void SetItemCheck(ITreeOps& tree, HTREEITEM item, int state) {
  if (item == nullptr || (state != 0 && state != 1)) return;
  quadratic::SetChildrenCheck(tree, item, state);
  int image = state + (IsUserItem(tree, item) ? 5 : 0);
  if (USER_NODE* node = tree.GetItemNode(item))
    node->bSelected = (image == IMG_CONTAINER_CHECKED || image == IMG_USER_CHECKED) ? TRUE : FALSE;
  tree.SetItemImage(item, image, image);
  if (HTREEITEM child = tree.GetChildItem(item)) quadratic::UpdateParentCheck(tree, child);
  quadratic::UpdateParentCheck(tree, item);
}

void SetChildrenCheck(ITreeOps& tree, HTREEITEM item, int state) {
  for (HTREEITEM child = tree.GetChildItem(item); child != nullptr; child = tree.GetNextSiblingItem(child)) {
    int image = tree.GetItemImage(child);
    if (image == IMG_CONTAINER || image == IMG_CONTAINER_CHECKED || image == IMG_USER || image == IMG_USER_CHECKED) {
      int next = state + (IsUserItem(tree, child) ? 5 : 0);
      tree.SetItemImage(child, next, next);
      if (USER_NODE* node = tree.GetItemNode(child)) node->bSelected = state == 1 ? TRUE : FALSE;
    }
    quadratic::SetChildrenCheck(tree, child, state);
  }
  if (item != TVI_ROOT) quadratic::UpdateParentCheck(tree, item);
}

void UpdateParentCheck(ITreeOps& tree, HTREEITEM item) {
  // Iterative walk up: every ancestor is recomputed from its children.
  for (HTREEITEM at = item; at != nullptr && at != TVI_ROOT;) {
    HTREEITEM parent = tree.GetParentItem(at);
    if (parent == nullptr) return;
    int all = 0, unchecked = 0, checked = 0, ticks = 0, crosses = 0;
    for (HTREEITEM child = tree.GetChildItem(parent); child != nullptr; child = tree.GetNextSiblingItem(child)) {
      ++all;
      switch (tree.GetItemImage(child)) {
        case IMG_CONTAINER:
        case IMG_USER:
          ++unchecked;
          break;
        case IMG_CONTAINER_CHECKED:
        case IMG_USER_CHECKED:
          ++checked;
          break;
        case IMG_TICK:
          ++ticks;
          break;
        case IMG_CROSS:
          ++crosses;
          break;
        default:
          break;
      }
    }
    int image;
    if (crosses == all)
      image = IMG_CROSS;
    else if (ticks == all)
      image = IMG_TICK;
    else if (checked + ticks == all)
      image = IMG_CONTAINER_CHECKED;
    else if (unchecked + crosses == all)
      image = IMG_CONTAINER;
    else
      image = IMG_CONTAINER_PARTIAL;
    if (USER_NODE* node = tree.GetItemNode(parent)) node->bSelected = image == IMG_CONTAINER_CHECKED ? TRUE : FALSE;
    tree.SetItemImage(parent, image, image);
    at = parent;
  }
}

}  // namespace qel::test::quadratic
