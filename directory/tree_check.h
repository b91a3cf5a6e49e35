// Check marks of the user tree: each item's image is its check mark, and
// checking an item checks everything below it and recomputes every
// container above it, keeping the items' nodes in step.
#pragma once

#include "directory/tree_ops.h"

namespace qel {

enum TreeImage {
  IMG_CONTAINER = 0,
  IMG_CONTAINER_CHECKED = 1,
  IMG_TICK = 2,
  IMG_CROSS = 3,
  IMG_CONTAINER_PARTIAL = 4,
  IMG_USER = 5,
  IMG_USER_CHECKED = 6,
};

// A click on the item or the space bar on it.
void ToggleItemCheck(ITreeOps& tree, HTREEITEM item);
// state 0 or 1 (anything else does nothing).
void SetItemCheck(ITreeOps& tree, HTREEITEM item, int state);
void SetChildrenCheck(ITreeOps& tree, HTREEITEM item, int state);
// Recomputes the parent of item from its children, then every ancestor.
void UpdateParentCheck(ITreeOps& tree, HTREEITEM item);

}  // namespace qel
