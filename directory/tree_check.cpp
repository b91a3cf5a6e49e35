#include "directory/tree_check.h"

namespace qel {

namespace {

bool IsPlainCheck(int image) {
  return image == IMG_CONTAINER || image == IMG_CONTAINER_CHECKED || image == IMG_USER || image == IMG_USER_CHECKED;
}

// The images of one container's children, counted once.
struct ChildCounts {
  int all = 0, unchecked = 0, checked = 0, ticks = 0, crosses = 0;

  void Add(int image) {
    ++all;
    switch (image) {
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

  // The container's image: all crosses, all ticks, all checked, none
  // checked, or partly checked.
  int Image() const {
    if (crosses == all) return IMG_CROSS;
    if (ticks == all) return IMG_TICK;
    if (checked + ticks == all) return IMG_CONTAINER_CHECKED;
    if (unchecked + crosses == all) return IMG_CONTAINER;
    return IMG_CONTAINER_PARTIAL;
  }
};

// Gives the item its new image, touching the tree only when it changes, and
// its node the selection that goes with it.
void StoreImage(ITreeOps& tree, HTREEITEM item, int oldImage, int image, USER_NODE* node, BOOL selected) {
  if (node != nullptr) node->bSelected = selected;
  if (image != oldImage) tree.SetItemImage(item, image, image);
}

// A container recomputed from its children is selected only when checked.
BOOL ContainerSelected(int image) { return image == IMG_CONTAINER_CHECKED ? TRUE : FALSE; }

// Sets every item below `item` to `state` (0 or 1), deepest first: an item
// with an unchecked or checked image takes the state, and an item with
// children is then recomputed from their final images. Each item is read
// once and written at most once. Counts the final images of item's children
// into `counts`; false when item has none.
bool SetSubtree(ITreeOps& tree, HTREEITEM item, int state, ChildCounts* counts) {
  HTREEITEM child = tree.GetChildItem(item);
  if (child == nullptr) return false;
  for (; child != nullptr; child = tree.GetNextSiblingItem(child)) {
    USER_NODE* node = nullptr;
    int oldImage = tree.GetItemImageAndNode(child, &node);
    int image = oldImage;
    BOOL selected = node != nullptr ? node->bSelected : FALSE;
    if (IsPlainCheck(oldImage)) {
      image = state + (node != nullptr && node->nType == UserType ? 5 : 0);
      selected = state == 1 ? TRUE : FALSE;
    }
    ChildCounts below;
    if (SetSubtree(tree, child, state, &below)) {
      image = below.Image();
      selected = ContainerSelected(image);
    }
    StoreImage(tree, child, oldImage, image, node, selected);
    counts->Add(image);
  }
  return true;
}

// Recomputes the parent of `item` from its children, then every ancestor,
// each once. `itemImage`, when not null, is the image item already has, so
// that it is not read again.
void RecomputeAncestors(ITreeOps& tree, HTREEITEM item, const int* itemImage) {
  int knownImage = itemImage != nullptr ? *itemImage : kNoImage;
  bool known = itemImage != nullptr;
  for (HTREEITEM at = item; at != nullptr && at != TVI_ROOT;) {
    HTREEITEM parent = tree.GetParentItem(at);
    if (parent == nullptr) return;
    ChildCounts counts;
    for (HTREEITEM child = tree.GetChildItem(parent); child != nullptr; child = tree.GetNextSiblingItem(child))
      counts.Add(known && child == at ? knownImage : tree.GetItemImage(child));
    USER_NODE* node = nullptr;
    int oldImage = tree.GetItemImageAndNode(parent, &node);
    int image = counts.Image();
    StoreImage(tree, parent, oldImage, image, node, ContainerSelected(image));
    at = parent;
    knownImage = image;
    known = true;
  }
}

// Suspends the tree's drawing while a subtree changes.
class UpdateScope {
 public:
  UpdateScope(ITreeOps& tree, bool active) : m_tree(tree), m_bActive(active) {
    if (m_bActive) m_tree.BeginUpdate();
  }
  ~UpdateScope() {
    if (m_bActive) m_tree.EndUpdate();
  }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  ITreeOps& m_tree;
  bool m_bActive;
};

}  // namespace

void ToggleItemCheck(ITreeOps& tree, HTREEITEM item) {
  if (item == nullptr) return;
  switch (tree.GetItemImage(item)) {
    case IMG_CONTAINER:
    case IMG_USER:
      SetItemCheck(tree, item, 1);
      break;
    case IMG_CONTAINER_CHECKED:
    case IMG_USER_CHECKED:
      SetItemCheck(tree, item, 0);
      break;
    case IMG_CONTAINER_PARTIAL:
      // Checking a partly checked container may leave it partly checked
      // (an account image 2 or 3 below it); then it is cleared instead.
      SetItemCheck(tree, item, 1);
      if (tree.GetItemImage(item) == IMG_CONTAINER_PARTIAL) SetItemCheck(tree, item, 0);
      break;
    default:  // ticks, crosses and the imageless placeholders
      break;
  }
}

// The items below are set in one pass and every item above is recomputed
// once: a container of N items costs N reads, not N² (each child recounting
// its siblings). The images and selections are those of recomputing every
// ancestor after each child.
void SetItemCheck(ITreeOps& tree, HTREEITEM item, int state) {
  if (item == nullptr || (state != 0 && state != 1)) return;
  UpdateScope scope(tree, tree.GetChildItem(item) != nullptr);
  ChildCounts below;
  bool hasChildren = SetSubtree(tree, item, state, &below);
  if (item == TVI_ROOT) return;
  USER_NODE* node = nullptr;
  int oldImage = tree.GetItemImageAndNode(item, &node);
  int image;
  BOOL selected;
  if (hasChildren) {
    // An item with children shows what they add up to.
    image = below.Image();
    selected = ContainerSelected(image);
  } else {
    image = state + (node != nullptr && node->nType == UserType ? 5 : 0);
    selected = state == 1 ? TRUE : FALSE;
  }
  StoreImage(tree, item, oldImage, image, node, selected);
  RecomputeAncestors(tree, item, &image);
}

void SetChildrenCheck(ITreeOps& tree, HTREEITEM item, int state) {
  UpdateScope scope(tree, tree.GetChildItem(item) != nullptr);
  ChildCounts below;
  bool hasChildren = SetSubtree(tree, item, state, &below);
  if (item == TVI_ROOT) return;
  if (!hasChildren) {
    RecomputeAncestors(tree, item, nullptr);
    return;
  }
  USER_NODE* node = nullptr;
  int oldImage = tree.GetItemImageAndNode(item, &node);
  int image = below.Image();
  StoreImage(tree, item, oldImage, image, node, ContainerSelected(image));
  RecomputeAncestors(tree, item, &image);
}

void UpdateParentCheck(ITreeOps& tree, HTREEITEM item) { RecomputeAncestors(tree, item, nullptr); }

}  // namespace qel
